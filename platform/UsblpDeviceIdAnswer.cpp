#include "platform/UsblpDeviceIdAnswer.h"

#include <algorithm>

namespace platform {
namespace {

constexpr std::size_t kLengthPrefixSize = 2;

}  // namespace

bool DecodeUsblpDeviceIdAnswer(const unsigned char* answer, std::size_t size, std::string& bytes) {
    return DecodeDeviceIdAnswer(answer, size, kUsblpDeviceIdMaxBytes, bytes);
}

bool DecodeDeviceIdAnswer(const unsigned char* answer, std::size_t size, std::size_t maxIdBytes,
                          std::string& bytes) {
    if (answer == nullptr || size <= kLengthPrefixSize) {
        return false;
    }
    const std::size_t maxCopied = kLengthPrefixSize + maxIdBytes;
    const std::size_t bigEndian = (std::size_t{answer[0]} << 8) | answer[1];
    const std::size_t littleEndian = (std::size_t{answer[1]} << 8) | answer[0];
    const std::size_t copied = std::min({std::max(bigEndian, kLengthPrefixSize), maxCopied, size});
    // Zeros from the little-endian end on are what the printer did not send (an empty ID among
    // them), whereas a long big-endian ID whose length happens to read as a plausible
    // little-endian one runs on past that point with text.
    std::size_t end = copied;
    if (littleEndian >= kLengthPrefixSize && littleEndian < copied &&
        std::all_of(answer + littleEndian, answer + copied,
                    [](unsigned char c) { return c == 0; })) {
        end = littleEndian;
    }
    if (end == kLengthPrefixSize) {
        return false;
    }
    bytes.assign(reinterpret_cast<const char*>(answer) + kLengthPrefixSize,
                 end - kLengthPrefixSize);
    return true;
}

}  // namespace platform
