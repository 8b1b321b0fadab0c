#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Most ID bytes usblp passes on: it asks the printer for 1,023 bytes, its 2-byte length included.
constexpr std::size_t kUsblpDeviceIdMaxBytes = 1021;

// The device ID in the caller's buffer after LPIOC_GET_DEVICE_ID, the buffer zero-filled before
// the call: the bytes after the length prefix, NULs included. usblp reads the printer's length
// big-endian, clamps it to 2..1,023 and copies that many bytes, prefix included. A length the
// printer wrote little-endian is taken instead where it ends the ID sooner and only zeros follow
// it in the copy. False, leaving bytes as they were, when no byte of ID arrived.
bool DecodeUsblpDeviceIdAnswer(const unsigned char* answer, std::size_t size, std::string& bytes);

// The same reading of size bytes of answer, prefix included, keeping at most maxIdBytes of ID:
// for the class request GET_DEVICE_ID made directly, size is the count the printer sent.
bool DecodeDeviceIdAnswer(const unsigned char* answer, std::size_t size, std::size_t maxIdBytes,
                          std::string& bytes);

}  // namespace platform
