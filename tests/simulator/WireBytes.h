#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/PrinterProtocol.h"

namespace simulator {

// A command as the updater writes it: three little-endian words.
inline std::vector<std::uint8_t> CommandBytes(std::uint32_t w0, std::uint32_t w1 = 0,
                                              std::uint32_t w2 = 0) {
    const std::uint32_t words[3] = {w0, w1, w2};
    std::vector<std::uint8_t> bytes(kCommandSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
    }
    return bytes;
}

// The status word of a status record.
inline std::int32_t StatusWord(const std::uint8_t* record) {
    return static_cast<std::int32_t>(record[0] | record[1] << 8 | record[2] << 16 |
                                     static_cast<std::uint32_t>(record[3]) << 24);
}

}  // namespace simulator
