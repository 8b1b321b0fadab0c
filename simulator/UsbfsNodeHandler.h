#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "simulator/UmockdevNodeHandler.h"
#include "simulator/UsbfsDevice.h"

namespace simulator {

// Answers the requests on one emulated usbfs node (/dev/bus/usb/BBB/DDD) through umockdev: the
// ioctls libusb's Linux backend sends, decoded and passed to a UsbfsDevice, and read() of the
// descriptors. A URB's memory is umockdev's copy of the client's, written back when it is reaped.
//
// poll() readiness: umockdev makes a USB device's node a plain file, which poll reports writable
// (POLLOUT, usbfs's "a URB can be reaped") all the time, so libusb's event loop would reap in a
// busy loop. The handler puts a pseudo-terminal of its own in the file's place and keeps the
// terminal's output stopped (TCOOFF) while no completion waits, starting it (TCOON) when one does;
// when the device leaves the bus it hangs the terminal up (POLLERR | POLLHUP). So poll means
// what it means on usbfs.
//
// Created and attached by the host under its lock; the ioctls arrive on umockdev's thread and
// may complete later on the scheduler's. Lives as long as the host: descriptors still open on a
// node that left the bus keep reaching it.
class UsbfsNodeHandler : public UmockdevNodeHandler {
public:
    UsbfsNodeHandler(std::string devnode, std::vector<std::uint8_t> descriptors, int devnum);
    ~UsbfsNodeHandler();

    // Attaches to the testbed's node (which must exist) with the device that answers it.
    bool Attach(UMockdevTestbed* testbed, UsbfsDevice& device, std::string& error);
    // The node left the bus: the handler stays attached (late requests fail with ENODEV), the
    // terminal is hung up.
    void Retire();
    // Waits until no handler of this node runs on umockdev's thread: a client that died in the
    // middle of a request leaves that thread finishing it while the host is torn down.
    void WaitIdle() const;
    // UsbfsDevice::Hooks::onReapable.
    void SetReapable(bool reapable);
    const std::string& Devnode() const { return node_; }

private:
    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
    static void OnClientNotify(GObject* object, GParamSpec*, gpointer data);
    // Counts a handler running on umockdev's thread for WaitIdle.
    class Busy;
    int Ioctl(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg,
              bool& later);
    int SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void ReapUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool wait);

    const std::vector<std::uint8_t> descriptors_;
    const int devnum_;
    UsbfsDevice* device_ = nullptr;
    int master_ = -1;                                   // guarded by mutex_
    int terminal_ = -1;                                 // the node's slave end; guarded by mutex_
    std::map<UMockdevIoctlClient*, std::size_t> read_;  // read() offsets; guarded by mutex_
    std::atomic<int> busy_{0};
};

}  // namespace simulator
