#include "device/PrinterPort.h"

#include <cerrno>
#include <cstring>

#include "platform/DeviceFile.h"
#include "platform/LastError.h"

namespace {

// A missing buffer is checked before a closed port, each with its own last error.
bool CanTransfer(int file, const void* buffer) {
    if (buffer == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    if (file == platform::kNoDeviceFile) {
        platform::SetLastError(EBADF);
        return false;
    }
    return true;
}

}  // namespace

PrinterPort::PrinterPort() : file_(platform::kNoDeviceFile) {}

PrinterPort::~PrinterPort() {
    if (file_ != platform::kNoDeviceFile) {
        platform::CloseDeviceFile(file_);
    }
}

bool PrinterPort::Open(const wchar_t* devicePath) {
    if (devicePath == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    if (file_ != platform::kNoDeviceFile) {
        platform::CloseDeviceFile(file_);
    }
    file_ = platform::OpenDeviceFile(devicePath);
    return file_ != platform::kNoDeviceFile;
}

bool PrinterPort::Read(void* buffer, std::uint32_t& length) {
    return CanTransfer(file_, buffer) && platform::ReadDeviceFile(file_, buffer, length);
}

bool PrinterPort::Write(const void* buffer, std::uint32_t& length) {
    return CanTransfer(file_, buffer) && platform::WriteDeviceFile(file_, buffer, length);
}

bool PrinterPort::QueryDeviceId(std::string& text) {
    if (file_ == platform::kNoDeviceFile) {
        platform::SetLastError(EBADF);
        return false;
    }
    std::string bytes;
    if (!platform::QueryDeviceFileId(file_, bytes)) {
        return false;
    }
    if (bytes.empty()) {
        platform::SetLastError(ENODATA);
        return false;
    }
    text.assign(bytes.c_str(), strnlen(bytes.c_str(), bytes.size()));
    return true;
}
