#include "updater/AttachedPrinter.h"

#include "Halden/ForcedUnwind.h"
#include "device/DeviceIdRecord.h"
#include "platform/LastError.h"
#include "platform/ModulePath.h"
#include "updater/FirmwareImage.h"

namespace {

// Buffer size for one device-ID value, terminator included.
constexpr std::uint32_t kValueBufferSize = 400;

void PutWord(std::uint8_t* out, std::uint32_t word) {
    out[0] = static_cast<std::uint8_t>(word);
    out[1] = static_cast<std::uint8_t>(word >> 8);
    out[2] = static_cast<std::uint8_t>(word >> 16);
    out[3] = static_cast<std::uint8_t>(word >> 24);
}

}  // namespace

AttachedPrinter::AttachedPrinter(IdentifiedPrinter* printer) : printer_(printer) {}

AttachedPrinter::~AttachedPrinter() {
    // IdentifiedPrinter releases its device path with itself; the port closes after this body.
    delete printer_;
}

bool AttachedPrinter::Open() {
    return printer_ != nullptr && port_.Open(printer_->devicePath);
}

bool AttachedPrinter::GetModelNameResourceId(std::int32_t& id) const {
    if (printer_ == nullptr) {
        return false;
    }
    id = printer_->description.shortNameResourceId;
    return true;
}

bool AttachedPrinter::GetShortName(std::string& name) const {
    if (printer_ == nullptr) {
        return false;
    }
    try {
        name = printer_->description.shortName;
    } catch (...) {
        Halden::RethrowForcedUnwind();
        return false;
    }
    return true;
}

bool AttachedPrinter::ReadDeviceId(std::string& text) {
    return printer_ != nullptr && port_.QueryDeviceId(text);
}

bool AttachedPrinter::GetFirmwareVersion(std::string& version) {
    std::string id;
    if (!ReadDeviceId(id)) {
        return false;
    }
    DeviceIdRecord record;
    char buffer[kValueBufferSize];
    if (!record.Parse(id.c_str()) || !record.GetVER(buffer, sizeof buffer)) {
        return false;
    }
    try {
        version = buffer;
    } catch (...) {
        Halden::RethrowForcedUnwind();
        return false;
    }
    return true;
}

bool AttachedPrinter::GetHeadName(std::string& head) {
    std::string id;
    if (!ReadDeviceId(id)) {
        return false;
    }
    try {
        DeviceIdRecord record;
        char buffer[kValueBufferSize];
        if (record.Parse(id.c_str()) && record.GetPHD(buffer, sizeof buffer) && buffer[0] != '\0') {
            head = buffer;
        } else {
            head = printer_->description.GetDefaultHead().id;
        }
    } catch (...) {
        Halden::RethrowForcedUnwind();
        return false;
    }
    return true;
}

bool AttachedPrinter::GetFirmwareExtensions(std::vector<std::string>& extensions) {
    std::string headName;
    if (!GetHeadName(headName)) {
        return false;
    }
    try {
        const HeadDefinition head = printer_->description.GetHead(headName);
        for (const FirmwareNameSpec& spec : head.firmwareNameSpecs) {
            extensions.push_back(spec.extension);
        }
    } catch (...) {
        Halden::RethrowForcedUnwind();
        return false;
    }
    return true;
}

bool AttachedPrinter::AcceptsFirmwareFileName(const std::wstring& fileName) {
    if (printer_ == nullptr) {
        return false;
    }
    if (fileName.empty()) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    std::string headName;
    if (!GetHeadName(headName)) {
        return false;
    }
    try {
        std::string narrow;
        if (!platform::WideToLocale(fileName, narrow) || narrow.empty()) {
            return false;
        }
        const HeadDefinition head = printer_->description.GetHead(headName);
        for (const FirmwareNameSpec& spec : head.firmwareNameSpecs) {
            if (FirmwareImage::NameFitsSpec(narrow, spec)) {
                return true;
            }
        }
    } catch (...) {
        Halden::RethrowForcedUnwind();
    }
    return false;
}

bool AttachedPrinter::VerifiesFirmwareCrc() const {
    return printer_ != nullptr && printer_->description.firmwareCrcVerify == 1;
}

bool AttachedPrinter::RequiresReboot() const {
    return printer_ != nullptr && printer_->description.requiresReboot;
}

bool AttachedPrinter::StripsVersionBytes() const {
    return printer_ != nullptr && printer_->description.stripVersionBytes;
}

bool AttachedPrinter::ReadStatus(PrinterStatusRecord& status) {
    if (printer_ == nullptr) {
        return false;
    }
    status = PrinterStatusRecord{};
    std::uint32_t length = PrinterStatusRecord::kSize;
    if (!port_.Read(status.bytes, length)) {
        return false;
    }
    status.length = length;
    return true;
}

bool AttachedPrinter::SendCommand(std::uint32_t word0, std::uint32_t word1, std::uint32_t word2) {
    if (printer_ == nullptr) {
        return false;
    }
    std::uint8_t command[kCommandSize];
    PutWord(command, word0);
    PutWord(command + 4, word1);
    PutWord(command + 8, word2);
    std::uint32_t length = sizeof command;
    return port_.Write(command, length);
}

bool AttachedPrinter::SendStart() {
    return SendCommand(kStartCommand, 0, 0);
}

bool AttachedPrinter::SendEnd() {
    return SendCommand(kEndCommand, 0, 0);
}

bool AttachedPrinter::SendImageInfo(std::uint32_t infoValue) {
    return SendCommand(kImageInfoCommand, kImageInfoWord, infoValue);
}

bool AttachedPrinter::SendDataHeader(std::uint32_t length) {
    return SendCommand(kDataHeaderCommand, length, 0);
}

bool AttachedPrinter::SendData(const std::uint8_t* data, std::uint32_t count) {
    if (printer_ == nullptr) {
        return false;
    }
    std::uint32_t written = count;
    return port_.Write(data, written) && written == count;
}

const wchar_t* AttachedPrinter::GetDevicePath() const {
    return printer_ != nullptr ? printer_->devicePath : nullptr;
}
