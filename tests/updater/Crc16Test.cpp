#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "tests/updater/BitwiseCrc16.h"
#include "updater/Crc16.h"

using updater_test::BitwiseCrc16;

// Every length across the 16-byte table step and the 64-byte folding step, from every
// alignment, on random bytes and on all-ones bytes.
TEST(Crc16Arc, BothPathsEqualTheBitwiseDefinition) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> randomBytes(1100);
    for (std::uint8_t& b : randomBytes) {
        b = static_cast<std::uint8_t>(random());
    }
    std::vector<std::uint8_t> ones(1100, 0xFF);
    for (const std::vector<std::uint8_t>* bytes : {&randomBytes, &ones}) {
        for (std::size_t offset = 0; offset < 16; ++offset) {
            for (std::size_t size = 0; size + offset <= bytes->size();
                 size += size < 200 ? 1 : 37) {
                const std::uint8_t* data = bytes->data() + offset;
                const std::uint16_t expected = BitwiseCrc16(data, size);
                ASSERT_EQ(Crc16Arc(data, size), expected) << offset << " " << size;
                ASSERT_EQ(Crc16ArcTable(data, size), expected) << offset << " " << size;
            }
        }
    }
    // Chained through its start value, the table path goes on where it stopped.
    const std::uint8_t* data = randomBytes.data();
    EXPECT_EQ(Crc16ArcTable(data + 4, 500, Crc16ArcTable(data, 4)), BitwiseCrc16(data, 504));
    EXPECT_EQ(Crc16Arc(nullptr, 0), 0);
    std::printf("carry-less multiplication path %s\n", Crc16ArcUsesClmul() ? "used" : "unused");
}
