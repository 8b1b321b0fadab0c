#pragma once

#include <cstddef>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "simulator/PrinterConfig.h"
#include "simulator/PrinterModel.h"

namespace simulator {

// Emulates /dev/usb/lpN printers with a umockdev testbed: each printer is a usbmisc device whose
// parent USB interface has class 07 and whose USB device carries idVendor, idProduct and a serial
// number; reads, writes and the device-ID ioctl on its node are answered by its PrinterModel.
//
// Create one host per process, on any thread; the handlers run on a thread of the host's own.
// In a test binary run under umockdev-wrapper the process itself sees the devices; a child
// started with LD_PRELOAD=libumockdev-preload.so.0 sees them through the inherited UMOCKDEV_DIR.
// Printer(i) and Transcript() may be used while clients talk to the devices.
class UmockdevPrinterHost {
public:
    UmockdevPrinterHost();
    ~UmockdevPrinterHost();
    UmockdevPrinterHost(const UmockdevPrinterHost&) = delete;
    UmockdevPrinterHost& operator=(const UmockdevPrinterHost&) = delete;

    // Adds a printer and returns its device path ("/dev/usb/lp0", "/dev/usb/lp1", ...); empty if
    // the testbed refused it (error() says why).
    std::string AddPrinter(const PrinterConfig& config);
    // Adds a usbmisc lp node whose parent interface is not a printer (class ff), unanswered.
    std::string AddNonPrinterDevice();
    // Removes printer i's device from the testbed; its model (and transcript) stay.
    bool RemovePrinter(std::size_t index);

    std::size_t PrinterCount() const;
    PrinterModel& Printer(std::size_t index);
    const std::string& DevicePath(std::size_t index) const;
    // The testbed's root directory (UMOCKDEV_DIR).
    std::string RootDir() const;
    const std::string& error() const;

    // {"printers": [each model's transcript, in the order added]}
    nlohmann::json Transcript() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace simulator
