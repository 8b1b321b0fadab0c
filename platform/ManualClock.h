#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Clock.h"

namespace platform {

// A clock that moves only when told to: Sleep advances the tick count by the time asked and
// returns at once. Safe to use from several threads.
class ManualClock : public Clock {
public:
    explicit ManualClock(std::uint32_t start = 0) : now_(start) {}

    std::uint32_t GetTickCount() override { return now_.load(); }
    void Sleep(std::uint32_t milliseconds) override { Advance(milliseconds); }

    void Advance(std::uint32_t milliseconds) { now_.fetch_add(milliseconds); }
    // Total time all Sleep and Advance calls have added since construction.
    std::uint32_t Elapsed() const { return now_.load() - start_; }

private:
    std::atomic<std::uint32_t> now_;
    const std::uint32_t start_ = now_.load();
};

// Installs a clock for one scope and restores the system clock afterwards.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock) { SetClock(&clock); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace platform
