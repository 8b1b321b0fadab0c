#include "device/PrinterFinder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <exception>
#include <map>
#include <new>
#include <vector>

#include "Common/Headers/PrinterStates.h"
#include "Halden/ForcedUnwind.h"
#include "device/DeviceIdRecord.h"
#include "device/PrinterPort.h"
#include "platform/AsciiFolder.h"
#include "platform/LastError.h"
#include "platform/ModulePath.h"
#include "platform/UsbPrinterDevices.h"

namespace {
// Callers hand out 400-byte buffers for device-ID values, which hold any value of the record.
constexpr std::uint32_t kValueBufferSize = 400;

std::string ErrorText(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

std::string MissingName(const std::string& deviceId) {
    char* value = nullptr;
    const bool hasMfg =
        DeviceIdRecord::ExtractKeyValue(deviceId.c_str(), "MFG:", &value) && value != nullptr;
    std::free(value);
    return hasMfg ? "the device ID has no MDL: value" : "the device ID has no MFG: value";
}

}  // namespace

PrinterFinder::PrinterFinder() = default;

PrinterFinder::~PrinterFinder() = default;

bool PrinterFinder::SetDirectory(const wchar_t* directory) {
    if (directory == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    const std::size_t length = std::wcslen(directory);
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[length + 1]);
    if (!copy) {
        return false;
    }
    std::wmemcpy(copy.get(), directory, length + 1);
    directory_ = std::move(copy);
    return true;
}

bool PrinterFinder::EnumeratePrinters(std::vector<IdentifiedPrinter*>& printers) {
    std::vector<std::wstring> paths;
    try {
        if (!platform::EnumerateUsbPrinterPaths(paths)) {
            return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (const std::wstring& path : paths) {
        IdentifiedPrinter* slot = nullptr;
        if (!IdentifyPrinter(path.c_str(), slot)) {
            continue;
        }
        try {
            printers.push_back(slot);
        } catch (const std::bad_alloc&) {
            delete slot;
        }
    }
    return true;
}

bool PrinterFinder::ReadDeviceId(const wchar_t* devicePath, std::string& text) {
    return ReadDeviceId(devicePath, text, nullptr);
}

bool PrinterFinder::ReadDeviceId(const wchar_t* devicePath, std::string& text,
                                 IdentificationReport* report) {
    if (devicePath == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    PrinterPort port;
    if (!port.Open(devicePath)) {
        if (report != nullptr) {
            const std::uint32_t error = platform::GetLastError();
            report->openError = error;
            report->held = error == EWOULDBLOCK || error == EBUSY;
            report->reason = report->held ? "the device is held by another program"
                                          : "the device cannot be opened: " + ErrorText(error);
        }
        return false;
    }
    if (!port.QueryDeviceId(text)) {
        if (report != nullptr) {
            const std::uint32_t error = platform::GetLastError();
            report->reason = error == ENODATA ? "the printer answers with an empty device ID"
                                              : "the device ID cannot be read: " + ErrorText(error);
        }
        return false;
    }
    if (report != nullptr) {
        report->deviceId = text;
    }
    return true;
}

bool PrinterFinder::LookUp(const std::string& deviceId, PrinterDescription& description,
                           IdentificationReport* report) const {
    std::string vendorName;
    std::string productName;
    if (!deviceId.empty()) {
        DeviceIdRecord record;
        char value[kValueBufferSize];
        if (!record.Parse(deviceId.c_str()) || !record.GetMFG(value, sizeof value)) {
            if (report != nullptr) {
                report->reason = MissingName(deviceId);
            }
            return false;
        }
        vendorName = value;
        if (!record.GetMDL(value, sizeof value)) {
            if (report != nullptr) {
                report->reason = MissingName(deviceId);
            }
            return false;
        }
        productName = value;
    }
    const platform::AsciiFolder folder(directory_.get());
    bool found = false;
    try {
        found =
            LookupPrinterDescription(folder.Path() + L"/Wend.xml", folder.Path() + L"/WendIDs.xml",
                                     vendorName, productName, description);
    } catch (...) {
        Halden::RethrowForcedUnwind();
    }
    if (!found && report != nullptr) {
        ExplainLookUp(vendorName, productName, *report);
    }
    return found;
}

// Retraces the lookup step by step to tell which one failed.
void PrinterFinder::ExplainLookUp(const std::string& vendorName, const std::string& productName,
                                  IdentificationReport& report) const {
    const platform::AsciiFolder folder(directory_.get());
    std::map<std::string, std::int32_t> vendors;
    std::map<std::string, std::int32_t> products;
    std::string error;
    if (!LoadIdMappings(folder.Path() + L"/WendIDs.xml", vendors, products, &error)) {
        report.reason = "WendIDs.xml cannot be loaded: " + error;
        return;
    }
    const auto vendor = vendors.find(vendorName);
    const auto product = products.find(productName);
    if (vendor != vendors.end()) {
        report.vendorId = static_cast<std::uint32_t>(vendor->second);
    }
    if (product != products.end()) {
        report.productId = static_cast<std::uint32_t>(product->second);
    }
    if (vendor == vendors.end()) {
        report.reason = "the manufacturer \"" + vendorName + "\" is not in WendIDs.xml";
        return;
    }
    if (product == products.end()) {
        report.reason = "the model \"" + productName + "\" is not in WendIDs.xml";
        return;
    }
    std::vector<PrinterDescription> records;
    if (!LoadPrinterDescriptions(folder.Path() + L"/Wend.xml", records, &error)) {
        report.reason = "Wend.xml cannot be loaded: " + error;
        return;
    }
    report.reason = "Wend.xml has no printer with vendor id " + std::to_string(*report.vendorId) +
                    " and product id " + std::to_string(*report.productId);
    for (const PrinterDescription& record : records) {
        if (record.vendorId == *report.vendorId && record.productId == *report.productId) {
            report.reason = "the description files changed during identification";
        }
    }
}

bool PrinterFinder::IdentifyPrinter(const wchar_t* devicePath, IdentifiedPrinter*& slot) {
    return Identify(devicePath, slot, nullptr);
}

bool PrinterFinder::IdentifyPrinter(const wchar_t* devicePath, IdentifiedPrinter*& slot,
                                    IdentificationReport& report) {
    report = IdentificationReport();
    return Identify(devicePath, slot, &report);
}

bool PrinterFinder::Identify(const wchar_t* devicePath, IdentifiedPrinter*& slot,
                             IdentificationReport* report) {
    slot = nullptr;
    if (devicePath == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    if (!directory_) {
        if (report != nullptr) {
            report->reason = "no description folder is set";
        }
        return false;
    }
    try {
        std::string deviceId;
        if (!ReadDeviceId(devicePath, deviceId, report)) {
            return false;
        }
        PrinterDescription description;
        if (!LookUp(deviceId, description, report)) {
            return false;
        }
        std::unique_ptr<IdentifiedPrinter> printer(new IdentifiedPrinter);
        if (!printer->SetDevicePath(devicePath)) {
            if (report != nullptr) {
                report->reason = "out of memory";
            }
            return false;
        }
        printer->description = description;
        if (report != nullptr) {
            report->vendorId = description.vendorId;
            report->productId = description.productId;
        }
        slot = printer.release();
        return true;
    } catch (...) {
        Halden::RethrowForcedUnwind();
        if (report != nullptr && report->reason.empty()) {
            report->reason = "out of memory";
        }
        return false;
    }
}
