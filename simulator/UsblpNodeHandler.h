#pragma once

#include <string>

#include "simulator/UmockdevNodeHandler.h"
#include "simulator/UsblpDriver.h"

namespace simulator {

// Answers the requests on one emulated /dev/usb/lpN node through umockdev: opens and closes as
// the usblp open shim reports them, reads, writes and the device-ID ioctl, each passed to the
// node's UsblpDriver. A printer that comes back gets a new node handler with a new driver;
// descriptors still open on the old node keep talking to the old, unplugged driver.
//
// Created and attached by the host under its lock; the requests arrive on umockdev's thread and
// reads and writes may complete later on another. Lives as long as the host.
class UsblpNodeHandler : public UmockdevNodeHandler {
public:
    UsblpNodeHandler(std::string devicePath, UsblpDriver& driver);

    bool Attach(UMockdevTestbed* testbed, std::string& error);

private:
    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static void OnClientNotify(GObject* object, GParamSpec*, gpointer data);
    // A read or a write, passed to the driver with the client's buffer.
    template <typename Buffer>
    static gboolean Transfer(UMockdevIoctlClient* client, gpointer data,
                             void (UsblpDriver::*method)(UsblpDriver::ClientKey, Buffer,
                                                         std::size_t, UsblpDriver::Completion));

    UsblpDriver* const driver_;
};

}  // namespace simulator
