#pragma once

#include <string>

namespace platform {

// How the updater reaches a USB printer. usblp: the kernel printer driver's /dev/usb/lpN node.
// libusb: the printer-class interface claimed through usbfs (/dev/bus/usb/BBB/DDD), which no other
// program can take away while the port is open and which reads only when asked. auto: libusb
// where the usbfs node may be opened, usblp otherwise.
enum class PrinterTransport { kAuto, kUsblp, kLibusb };

// The process-wide choice, made once at start-up before any device is listed; kAuto until then.
// Thread-safe.
void SelectPrinterTransport(PrinterTransport transport);
PrinterTransport SelectedPrinterTransport();

// "auto", "usblp", "libusb"; false for anything else.
bool ParsePrinterTransport(const std::string& name, PrinterTransport& transport);
const char* PrinterTransportName(PrinterTransport transport);

// The environment's REFLASHER_TRANSPORT, kAuto when unset. False for a value that names no
// transport.
bool PrinterTransportFromEnvironment(PrinterTransport& transport);

// Device paths tell the transport: "/dev/bus/usb/001/004:0" (usbfs node, interface 0) is
// libusb's, anything else a device file.
bool IsLibusbDevicePath(const std::wstring& path);

}  // namespace platform
