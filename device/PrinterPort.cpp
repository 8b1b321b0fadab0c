#include "device/PrinterPort.h"

#include <cerrno>
#include <cstring>

#include "platform/LastError.h"

namespace {

// A missing buffer is checked before a closed port, each with its own last error.
bool CanTransfer(const platform::DeviceConnection* connection, const void* buffer) {
    if (buffer == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    if (connection == nullptr) {
        platform::SetLastError(EBADF);
        return false;
    }
    return true;
}

}  // namespace

PrinterPort::PrinterPort() = default;

PrinterPort::~PrinterPort() = default;

bool PrinterPort::Open(const wchar_t* devicePath) {
    if (devicePath == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    connection_.reset();
    connection_ = platform::DeviceConnection::Open(devicePath);
    return connection_ != nullptr;
}

bool PrinterPort::Read(void* buffer, std::uint32_t& length) {
    return CanTransfer(connection_.get(), buffer) && connection_->Read(buffer, length);
}

bool PrinterPort::Write(const void* buffer, std::uint32_t& length) {
    return CanTransfer(connection_.get(), buffer) && connection_->Write(buffer, length);
}

bool PrinterPort::QueryDeviceId(std::string& text) {
    if (connection_ == nullptr) {
        platform::SetLastError(EBADF);
        return false;
    }
    std::string bytes;
    if (!connection_->QueryDeviceId(bytes)) {
        return false;
    }
    text.assign(bytes.c_str(), strnlen(bytes.c_str(), bytes.size()));
    return true;
}
