#pragma once

#include <umockdev.h>

#include <mutex>
#include <set>
#include <string>

namespace simulator {

// What the handlers of emulated device nodes share: umockdev's ioctl handler attached to one node
// of the testbed, and the node's clients, kept referenced until the handler goes so that a late
// completion never meets a freed client.
class UmockdevNodeHandler {
public:
    UmockdevNodeHandler(const UmockdevNodeHandler&) = delete;
    UmockdevNodeHandler& operator=(const UmockdevNodeHandler&) = delete;

    void Detach(UMockdevTestbed* testbed);

protected:
    // The node's path under the testbed, e.g. "/dev/usb/lp0".
    explicit UmockdevNodeHandler(std::string node);
    ~UmockdevNodeHandler();

    // umockdev's signals of the node, each called with data.
    struct Callbacks {
        GCallback ioctl;
        GCallback read;
        GCallback write;
        GCallback clientConnected;
        gpointer data;
    };
    // what names the handler in the error.
    bool AttachHandler(UMockdevTestbed* testbed, const Callbacks& callbacks, const char* what,
                       std::string& error);
    // A client connected: referenced until destruction; onNotify runs when its connection
    // changes.
    void KeepClient(UMockdevIoctlClient* client, GCallback onNotify);

    const std::string node_;
    std::mutex mutex_;

private:
    UMockdevIoctlBase* handler_ = nullptr;
    gpointer data_ = nullptr;
    bool attached_ = false;
    std::set<UMockdevIoctlClient*> clients_;  // guarded by mutex_
};

}  // namespace simulator
