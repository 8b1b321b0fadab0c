#include "platform/UsblpConnection.h"

#include "platform/DeviceFile.h"

namespace platform {

std::unique_ptr<DeviceConnection> UsblpConnection::Open(const wchar_t* path) {
    const int file = OpenDeviceFile(path);
    if (file == kNoDeviceFile) {
        return nullptr;
    }
    return std::unique_ptr<DeviceConnection>(new UsblpConnection(file));
}

UsblpConnection::~UsblpConnection() {
    CloseDeviceFile(file_);
}

bool UsblpConnection::Read(void* buffer, std::uint32_t& length) {
    return ReadDeviceFile(file_, buffer, length);
}

bool UsblpConnection::Write(const void* buffer, std::uint32_t& length) {
    return WriteDeviceFile(file_, buffer, length);
}

bool UsblpConnection::QueryDeviceId(std::string& bytes) {
    return QueryDeviceFileId(file_, bytes);
}

}  // namespace platform
