#pragma once

#include <cstdint>

namespace platform {

// Source of the millisecond tick count and of sleeping. The process uses one clock at a time;
// tests install a clock they drive so that long protocol time limits pass without waiting.
class Clock {
public:
    virtual ~Clock();
    // Milliseconds since an arbitrary start, 32 bits, wrapping.
    virtual std::uint32_t GetTickCount() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// The monotonic system clock; sleeping is a thread cancellation point.
Clock& SystemClock();

// Installs clock for the whole process; nullptr restores the system clock. The caller keeps
// ownership and must keep the clock alive while any thread may use it.
void SetClock(Clock* clock);

std::uint32_t GetTickCount();
void Sleep(std::uint32_t milliseconds);

}  // namespace platform
