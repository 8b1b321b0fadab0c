#include "platform/Clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace platform {
namespace {

class MonotonicClock : public Clock {
public:
    std::uint32_t GetTickCount() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
        return static_cast<std::uint32_t>(ms);
    }

    void Sleep(std::uint32_t milliseconds) override {
        timespec request{static_cast<time_t>(milliseconds / 1000),
                         static_cast<long>(milliseconds % 1000) * 1000000L};
        while (nanosleep(&request, &request) != 0 && errno == EINTR) {
        }
    }
};

std::atomic<Clock*> current{nullptr};

Clock& Current() {
    Clock* clock = current.load();
    return clock != nullptr ? *clock : SystemClock();
}

}  // namespace

Clock::~Clock() = default;

Clock& SystemClock() {
    static MonotonicClock clock;
    return clock;
}

void SetClock(Clock* clock) {
    current.store(clock);
}

std::uint32_t GetTickCount() {
    return Current().GetTickCount();
}

void Sleep(std::uint32_t milliseconds) {
    Current().Sleep(milliseconds);
}

}  // namespace platform
