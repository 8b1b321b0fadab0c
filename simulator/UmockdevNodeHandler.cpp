#include "simulator/UmockdevNodeHandler.h"

namespace simulator {

UmockdevNodeHandler::UmockdevNodeHandler(std::string node) : node_(std::move(node)) {}

UmockdevNodeHandler::~UmockdevNodeHandler() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (UMockdevIoctlClient* client : clients_) {
        g_signal_handlers_disconnect_by_data(client, data_);
        g_object_unref(client);
    }
    if (handler_ != nullptr) {
        g_object_unref(handler_);
    }
}

bool UmockdevNodeHandler::AttachHandler(UMockdevTestbed* testbed, const Callbacks& callbacks,
                                        const char* what, std::string& error) {
    data_ = callbacks.data;
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", callbacks.ioctl, data_);
    g_signal_connect(handler_, "handle-read", callbacks.read, data_);
    g_signal_connect(handler_, "handle-write", callbacks.write, data_);
    g_signal_connect(handler_, "client-connected", callbacks.clientConnected, data_);
    GError* failure = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, node_.c_str(), handler_, &failure)) {
        error = failure != nullptr ? failure->message : std::string("cannot attach the ") + what;
        g_clear_error(&failure);
        return false;
    }
    attached_ = true;
    return true;
}

void UmockdevNodeHandler::Detach(UMockdevTestbed* testbed) {
    if (attached_) {
        umockdev_testbed_detach_ioctl(testbed, node_.c_str(), nullptr);
        attached_ = false;
    }
}

void UmockdevNodeHandler::KeepClient(UMockdevIoctlClient* client, GCallback onNotify) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clients_.insert(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
    }
    g_signal_connect(client, "notify::connected", onNotify, data_);
}

}  // namespace simulator
