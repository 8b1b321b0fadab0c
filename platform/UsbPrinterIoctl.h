#pragma once

#include <linux/ioctl.h>

// The usblp driver's device-ID request. The kernel headers do not export it, so the device layer
// and the printer simulator share this definition. The answer starts with a 2-byte length (the
// length counts those 2 bytes too, big-endian by the standard) followed by the ID itself; the
// call returns 0 and copies at most len bytes.
#ifndef LPIOC_GET_DEVICE_ID
#define LPIOC_GET_DEVICE_ID(len) _IOC(_IOC_READ, 'P', 1, len)
#endif

namespace platform {

constexpr unsigned kUsbPrinterIoctlType = 'P';
constexpr unsigned kUsbPrinterIoctlGetDeviceIdNr = 1;
// The port's answer buffer, prefix included; usblp copies at most 1,023 bytes into it.
constexpr unsigned kUsbPrinterDeviceIdBufferSize = 1024;

}  // namespace platform
