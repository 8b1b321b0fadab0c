#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/PrinterTransport.h"
#include "simulator/UmockdevPrinterHost.h"

// Test programs that reach printers run once per transport: CTest sets REFLASHER_TRANSPORT to
// usblp for the second run. Unset means auto, which is libusb here (the suite runs as root, so
// every usbfs node may be opened).
namespace transport_test {

inline platform::PrinterTransport Selected() {
    static const platform::PrinterTransport transport = [] {
        platform::PrinterTransport chosen = platform::PrinterTransport::kAuto;
        platform::PrinterTransportFromEnvironment(chosen);
        platform::SelectPrinterTransport(chosen);
        return chosen;
    }();
    return transport;
}

// Selects the transport before any test lists a printer.
inline const bool kSelected = (Selected(), true);

inline bool Libusb() {
    return Selected() != platform::PrinterTransport::kUsblp;
}

// The device path of printer `index` of host through the transport under test.
inline std::string PathOf(const simulator::UmockdevPrinterHost& host, std::size_t index) {
    return Libusb() ? host.UsbfsPath(index) + ":0" : host.DevicePath(index);
}

// How often printer `index` of host was opened through the transport under test.
inline std::uint64_t Opens(simulator::UmockdevPrinterHost& host, std::size_t index) {
    return Libusb() ? host.Transcript()["printers"][index]["usbfs"]["opens"].get<std::uint64_t>()
                    : host.Printer(index).Opens();
}

}  // namespace transport_test
