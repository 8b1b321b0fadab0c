#pragma once

#include <string>
#include <vector>

#include "platform/PrinterTransport.h"

namespace platform {

// One USB printer interface as the selected transport reaches it.
struct UsbPrinterInterface {
    std::wstring devicePath;  // "/dev/usb/lp0" (usblp) or "/dev/bus/usb/001/004:0" (libusb)
    PrinterTransport transport = PrinterTransport::kUsblp;
    std::string port;    // the USB device's name: "1-4.2"
    std::string driver;  // bound to the interface now: "usblp", "usbfs", "" none, "?" unknown
};

// The printer interfaces present now through the selected transport (SelectedPrinterTransport):
// - usblp: the usbmisc "lp" nodes whose parent USB interface has the printer class (07), in
//   udev's order;
// - libusb: the interfaces of class 07, subclass 01, protocol 01 to 03 (IPP over USB, protocol
//   04, is not ours), in udev's order of the interfaces;
// - auto: the same interfaces, each through libusb where its usbfs node may be opened and
//   through its lp node otherwise, then any other lp node; a printer is listed once.
// False, with the last error set, only when udev cannot list devices at all; no printer is true
// with an empty list.
bool ListUsbPrinterInterfaces(std::vector<UsbPrinterInterface>& printers);
// The device paths of ListUsbPrinterInterfaces.
bool EnumerateUsbPrinterPaths(std::vector<std::wstring>& paths);

// Where the printer behind a device path is plugged in: its USB device's name ("1-4.2", bus and
// port chain), which stays the same when the printer restarts and comes back on another node.
// Empty when the device is not there.
std::string UsbPortOf(const std::wstring& devicePath);

// The driver the kernel has bound to interface `number` of the USB device whose usbfs node is
// given: "usblp", "usbfs" (claimed by some program through usbfs), or empty for none. False with
// the last error set when the node cannot be asked (EACCES, ENODEV).
bool UsbInterfaceDriver(const std::string& usbfsNode, int number, std::string& driver);

// The usblp node under the USB interface named interfaceName ("1-4.2:1.0"); empty for none.
std::string UsblpNodeOf(const std::string& interfaceName);

}  // namespace platform
