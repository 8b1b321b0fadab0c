#include "device/PrinterFinder.h"

#include <cwchar>
#include <exception>
#include <new>

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
    if (devicePath == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    PrinterPort port;
    return port.Open(devicePath) && port.QueryDeviceId(text);
}

bool PrinterFinder::LookUp(const std::string& deviceId, PrinterDescription& description) const {
    std::string vendorName;
    std::string productName;
    if (!deviceId.empty()) {
        DeviceIdRecord record;
        if (!record.Parse(deviceId.c_str())) {
            return false;
        }
        char value[kValueBufferSize];
        if (!record.GetMFG(value, sizeof value)) {
            return false;
        }
        vendorName = value;
        if (!record.GetMDL(value, sizeof value)) {
            return false;
        }
        productName = value;
    }
    const platform::AsciiFolder folder(directory_.get());
    return LookupPrinterDescription(folder.Path() + L"/Wend.xml", folder.Path() + L"/WendIDs.xml",
                                    vendorName, productName, description);
}

bool PrinterFinder::IdentifyPrinter(const wchar_t* devicePath, IdentifiedPrinter*& slot) {
    slot = nullptr;
    if (devicePath == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    if (!directory_) {
        return false;
    }
    try {
        std::string deviceId;
        if (!ReadDeviceId(devicePath, deviceId)) {
            return false;
        }
        PrinterDescription description;
        if (!LookUp(deviceId, description)) {
            return false;
        }
        std::unique_ptr<IdentifiedPrinter> printer(new IdentifiedPrinter);
        if (!printer->SetDevicePath(devicePath)) {
            return false;
        }
        printer->description = description;
        slot = printer.release();
        return true;
    } catch (...) {
        Halden::RethrowForcedUnwind();
        return false;
    }
}
