#include "platform/PrinterTransport.h"

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<PrinterTransport> selected{PrinterTransport::kAuto};

}  // namespace

void SelectPrinterTransport(PrinterTransport transport) {
    selected = transport;
}

PrinterTransport SelectedPrinterTransport() {
    return selected;
}

bool ParsePrinterTransport(const std::string& name, PrinterTransport& transport) {
    for (const PrinterTransport candidate :
         {PrinterTransport::kAuto, PrinterTransport::kUsblp, PrinterTransport::kLibusb}) {
        if (name == PrinterTransportName(candidate)) {
            transport = candidate;
            return true;
        }
    }
    return false;
}

const char* PrinterTransportName(PrinterTransport transport) {
    switch (transport) {
        case PrinterTransport::kUsblp:
            return "usblp";
        case PrinterTransport::kLibusb:
            return "libusb";
        case PrinterTransport::kAuto:
            break;
    }
    return "auto";
}

bool PrinterTransportFromEnvironment(PrinterTransport& transport) {
    const char* value = std::getenv("REFLASHER_TRANSPORT");
    if (value == nullptr || *value == '\0') {
        transport = PrinterTransport::kAuto;
        return true;
    }
    return ParsePrinterTransport(value, transport);
}

bool IsLibusbDevicePath(const std::wstring& path) {
    return path.rfind(L"/dev/bus/usb/", 0) == 0;
}

}  // namespace platform
