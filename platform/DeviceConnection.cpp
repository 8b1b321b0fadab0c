#include "platform/DeviceConnection.h"

#include "platform/LastError.h"
#include "platform/LibusbConnection.h"
#include "platform/PrinterTransport.h"
#include "platform/UsblpConnection.h"

namespace platform {

std::unique_ptr<DeviceConnection> DeviceConnection::Open(const wchar_t* path) {
    if (path == nullptr || *path == L'\0') {
        SetLastError(kErrorInvalidParameter);
        return nullptr;
    }
    return IsLibusbDevicePath(path) ? LibusbConnection::Open(path) : UsblpConnection::Open(path);
}

}  // namespace platform
