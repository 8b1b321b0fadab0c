#pragma once

#include <cstdint>
#include <string>

// Device files of USB printers (/dev/usb/lpN). Every call blocks until the driver completes
// it. Failures return false (or kNoDeviceFile) with the last error set: 87 for a null
// argument, otherwise the errno of the failing call.
namespace platform {

constexpr int kNoDeviceFile = -1;

// Opens the device for reading and writing, for this caller alone: a device that another
// descriptor holds fails with EWOULDBLOCK (or the driver's EBUSY).
int OpenDeviceFile(const wchar_t* path);

// length: in, the count asked for; out, the count moved (0 after a failed call). A short
// transfer is a success.
bool ReadDeviceFile(int file, void* buffer, std::uint32_t& length);
bool WriteDeviceFile(int file, const void* buffer, std::uint32_t& length);

// The IEEE-1284 device ID as the driver returned it, without its length prefix: exactly the
// bytes the prefix announces (NULs included), at most the 1,024-byte answer less the prefix. The
// prefix is read big-endian; when that length is impossible (outside 2..1,024, or text runs on
// past it) it is read little-endian, as some printers send it. EPROTO when neither fits.
bool QueryDeviceFileId(int file, std::string& bytes);

void CloseDeviceFile(int file);

}  // namespace platform
