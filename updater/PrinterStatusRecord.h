#pragma once

#include <cstdint>

#include "device/PrinterProtocol.h"

// What one 12-byte status read returned. Only the status word (bytes 0-3, signed little-endian)
// and the acknowledged stage (byte 8) mean anything to the update.
struct PrinterStatusRecord {
    static constexpr std::uint32_t kSize = kStatusRecordSize;

    std::uint8_t bytes[kSize] = {};
    std::uint32_t length = 0;  // bytes the read delivered

    bool IsComplete() const { return length >= kSize; }
    std::int32_t Status() const {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) |
                                         static_cast<std::uint32_t>(bytes[1]) << 8 |
                                         static_cast<std::uint32_t>(bytes[2]) << 16 |
                                         static_cast<std::uint32_t>(bytes[3]) << 24);
    }
    std::uint8_t Stage() const { return bytes[kStatusStageByte]; }
};
