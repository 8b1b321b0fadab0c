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

// The IEEE-1284 device ID without the driver's length prefix, NULs included. usblp reads the
// prefix big-endian and passes on at most 1,021 bytes of ID, so a longer ID arrives cut; a prefix
// the printer wrote little-endian is recognised where only zeros follow the ID it announces.
// ENODATA, leaving bytes as they were, when no byte of ID arrives.
bool QueryDeviceFileId(int file, std::string& bytes);

void CloseDeviceFile(int file);

}  // namespace platform
