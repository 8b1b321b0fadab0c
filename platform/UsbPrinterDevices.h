#pragma once

#include <string>
#include <vector>

namespace platform {

// Replaces paths with the device nodes ("/dev/usb/lp0") of the USB printer interfaces present
// now, in the order udev lists them. Only usbmisc "lp" devices whose parent USB interface has
// the printer class (07) count. False, with the last error set, only when udev cannot list
// devices at all; no printer is true with an empty list.
bool EnumerateUsbPrinterPaths(std::vector<std::wstring>& paths);

// Where the printer behind a device node is plugged in: its USB device's name ("1-4.2", bus and
// port chain), which stays the same when the printer restarts and comes back on another node.
// Empty when the node is not there.
std::string UsbPortOf(const std::wstring& devicePath);

}  // namespace platform
