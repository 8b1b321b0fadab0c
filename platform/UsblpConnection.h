#pragma once

#include <memory>

#include "platform/DeviceConnection.h"

namespace platform {

// A device file (/dev/usb/lpN) opened read-write under an exclusive lock; see DeviceFile.h.
class UsblpConnection : public DeviceConnection {
public:
    static std::unique_ptr<DeviceConnection> Open(const wchar_t* path);
    ~UsblpConnection() override;
    UsblpConnection(const UsblpConnection&) = delete;
    UsblpConnection& operator=(const UsblpConnection&) = delete;

    bool Read(void* buffer, std::uint32_t& length) override;
    bool Write(const void* buffer, std::uint32_t& length) override;
    bool QueryDeviceId(std::string& bytes) override;

private:
    explicit UsblpConnection(int file) : file_(file) {}
    const int file_;
};

}  // namespace platform
