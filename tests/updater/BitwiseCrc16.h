#pragma once

#include <cstddef>
#include <cstdint>

namespace updater_test {

// CRC-16/ARC one bit at a time, independent of the tables and constants under test.
inline std::uint16_t BitwiseCrc16(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
        }
    }
    return crc;
}

}  // namespace updater_test
