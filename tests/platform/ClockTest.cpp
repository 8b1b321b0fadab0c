#include <gtest/gtest.h>

#include <chrono>

#include "platform/Clock.h"

TEST(SystemClock, CountsMillisecondsAndSleepsThatLong) {
    using std::chrono::steady_clock;
    platform::Clock& clock = platform::SystemClock();
    const steady_clock::time_point start = steady_clock::now();
    const std::uint32_t before = clock.GetTickCount();
    clock.Sleep(50);
    const std::uint32_t ticks = clock.GetTickCount() - before;  // huge if the count went back
    const std::chrono::duration<double, std::milli> slept = steady_clock::now() - start;
    EXPECT_GE(slept.count(), 50);
    EXPECT_GE(ticks, 40u);
    EXPECT_LE(ticks, 1000u);
}
