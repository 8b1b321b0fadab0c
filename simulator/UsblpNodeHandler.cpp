#include "simulator/UsblpNodeHandler.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>

#include "platform/UsbPrinterIoctl.h"
#include "simulator/UsblpShimRequests.h"

namespace simulator {

namespace {

// The model's and the driver's results are the count done or -errno.
void CompleteWithResult(UMockdevIoctlClient* client, ssize_t result) {
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                   result < 0 ? static_cast<int>(-result) : 0);
}

// Completes a request later, keeping the client alive until then.
UsblpDriver::Completion Later(UMockdevIoctlClient* client) {
    g_object_ref(client);
    return [client](ssize_t result) {
        CompleteWithResult(client, result);
        g_object_unref(client);
    };
}

}  // namespace

UsblpNodeHandler::UsblpNodeHandler(std::string devicePath, UsblpDriver& driver)
    : UmockdevNodeHandler(std::move(devicePath)), driver_(&driver) {}

bool UsblpNodeHandler::Attach(UMockdevTestbed* testbed, std::string& error) {
    return AttachHandler(testbed,
                         {G_CALLBACK(OnIoctl), G_CALLBACK(OnRead), G_CALLBACK(OnWrite),
                          G_CALLBACK(OnClientConnected), this},
                         "handler", error);
}

// Handlers run on umockdev's thread. Reads and writes may complete later, from another thread.

gboolean UsblpNodeHandler::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* binding = static_cast<UsblpNodeHandler*>(data);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == kShimOpenRequest) {
        const auto flags = static_cast<int>(*reinterpret_cast<const unsigned long*>(arg->data));
        CompleteWithResult(client, binding->driver_->OpenResult(client, flags));
        return TRUE;
    }
    if (request == kShimCloseRequest) {
        binding->driver_->Release(client);
        CompleteWithResult(client, 0);
        return TRUE;
    }
    const bool deviceIdQuery = _IOC_TYPE(request) == platform::kUsbPrinterIoctlType &&
                               _IOC_NR(request) == platform::kUsbPrinterIoctlGetDeviceIdNr;
    if (!deviceIdQuery) {
        CompleteWithResult(client, -ENOTTY);
        return TRUE;
    }
    if (_IOC_DIR(request) != _IOC_READ) {
        CompleteWithResult(client, -EINVAL);
        return TRUE;
    }
    const std::size_t size = _IOC_SIZE(request);
    GError* error = nullptr;
    UMockdevIoctlData* buffer = nullptr;
    if (size > 0) {
        buffer = umockdev_ioctl_data_resolve(arg, 0, size, &error);
        if (buffer == nullptr) {
            g_clear_error(&error);
            CompleteWithResult(client, -EFAULT);
            return TRUE;
        }
    }
    const int result =
        binding->driver_->DeviceId(client, buffer != nullptr ? buffer->data : nullptr, size);
    if (buffer != nullptr) {
        g_object_unref(buffer);
    }
    CompleteWithResult(client, result);
    return TRUE;
}

template <typename Buffer>
gboolean UsblpNodeHandler::Transfer(UMockdevIoctlClient* client, gpointer data,
                                    void (UsblpDriver::*method)(UsblpDriver::ClientKey, Buffer,
                                                                std::size_t,
                                                                UsblpDriver::Completion)) {
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    (static_cast<UsblpNodeHandler*>(data)->driver_->*method)(
        client, buffer->data, static_cast<std::size_t>(std::max(buffer->data_len, 0)),
        Later(client));
    return TRUE;
}

gboolean UsblpNodeHandler::OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    return Transfer(client, data, &UsblpDriver::Read);
}

gboolean UsblpNodeHandler::OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    return Transfer(client, data, &UsblpDriver::Write);
}

void UsblpNodeHandler::OnClientNotify(GObject* object, GParamSpec*, gpointer data) {
    auto* client = reinterpret_cast<UMockdevIoctlClient*>(object);
    if (!umockdev_ioctl_client_get_connected(client)) {
        static_cast<UsblpNodeHandler*>(data)->driver_->Release(client);
    }
}

void UsblpNodeHandler::OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                         gpointer data) {
    auto* binding = static_cast<UsblpNodeHandler*>(data);
    binding->KeepClient(client, G_CALLBACK(OnClientNotify));
    binding->driver_->Connect(client);
}

}  // namespace simulator
