#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "simulator/PrinterConfig.h"
#include "simulator/PrinterModel.h"

namespace simulator {

// Emulates /dev/usb/lpN printers with a umockdev testbed: each printer is a usbmisc device whose
// parent USB interface has class 07 and whose USB device carries idVendor, idProduct, a serial
// number and the descriptors; requests on its node go through a UsblpDriver to its PrinterModel.
// The USB device also has a usbfs node /dev/bus/usb/001/DDD answered by a UsbfsDevice, through
// which libusb can detach usblp (the lp node leaves), claim the interface and transfer, and
// reattach usblp (an lp node comes back on the lowest free minor). A printer that restarts
// leaves the bus and comes back at a new USB address on the lowest free lpN, as the kernel
// reuses minors but not addresses.
//
// Create one host per process, on any thread; umockdev's handlers and the printers' timed
// behaviour run on threads of the host's own. A process sees the devices when it runs with the
// preload libraries of PreloadLibraries(): the shim in front refuses a second open of a node as
// usblp does, which umockdev alone cannot. Printer(i), DevicePath(i) and Transcript() may be used
// while clients talk to the devices.
class UmockdevPrinterHost {
public:
    UmockdevPrinterHost();
    ~UmockdevPrinterHost();
    UmockdevPrinterHost(const UmockdevPrinterHost&) = delete;
    UmockdevPrinterHost& operator=(const UmockdevPrinterHost&) = delete;

    // Adds a printer and returns its device path ("/dev/usb/lp0", ...); empty if it cannot be
    // added (error() says why: no free minor, the USB port taken, the testbed refused it).
    std::string AddPrinter(const PrinterConfig& config);
    // Adds an unanswered usbmisc node under a USB interface of the given class: by default an lp
    // node under a non-printer interface; nodeName ("hiddev0") makes a node not named lpN.
    std::string AddNonPrinterDevice(const std::string& interfaceClass = "ff",
                                    const std::string& nodeName = "");
    // Unplugs printer i: open descriptors fail with ENODEV, the node leaves sysfs and /dev. Its
    // model (and transcript) stay.
    bool RemovePrinter(std::size_t index);

    std::size_t PrinterCount() const;
    PrinterModel& Printer(std::size_t index);
    // The printer's node now, or the one it had before it left the bus.
    std::string DevicePath(std::size_t index) const;
    // The printer's usbfs node now ("/dev/bus/usb/001/002"), or the last one it had.
    std::string UsbfsPath(std::size_t index) const;
    // Whether printer i is on the bus now.
    bool Present(std::size_t index) const;
    // Waits until printer i is on the bus (present) or off it, at most timeout; false on time-out.
    bool WaitForPresence(std::size_t index, bool present, std::chrono::milliseconds timeout);
    // Waits until a read (or an IN URB) on printer i waits for the printer's answer, at most
    // timeout.
    bool WaitForWaitingRead(std::size_t index, std::chrono::milliseconds timeout);
    // The testbed's root directory (UMOCKDEV_DIR).
    std::string RootDir() const;
    const std::string& error() const;

    // {"printers": [each model's transcript with "usbfsPath", in the order added]}
    nlohmann::json Transcript() const;

    // "<folder>/liborvane-usblp-shim.so:libumockdev-preload.so.0" for a child's LD_PRELOAD,
    // with the shim looked up in folder.
    static std::string PreloadLibraries(const std::string& folder);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace simulator
