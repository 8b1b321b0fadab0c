#include <gtest/gtest.h>

#include <thread>

#include "platform/LastError.h"

TEST(LastError, IsPerThread) {
    platform::SetLastError(platform::kErrorInvalidParameter);
    std::uint32_t seenByOther = 1;
    std::thread([&] { seenByOther = platform::GetLastError(); }).join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(platform::GetLastError(), 87u);
}
