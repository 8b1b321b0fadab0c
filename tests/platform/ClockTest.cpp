#include <gtest/gtest.h>

#include <chrono>

#include "platform/Clock.h"

TEST(SystemClock, CountsMillisecondsAndSleepsThatLong) {
    platform::Clock& clock = platform::SystemClock();
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t before = clock.GetTickCount();
    clock.Sleep(50);
    const std::uint32_t ticks = clock.GetTickCount() - before;  // huge if the count went back
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_GE(ticks, 40u);
    EXPECT_LE(ticks, 1000u);
}
