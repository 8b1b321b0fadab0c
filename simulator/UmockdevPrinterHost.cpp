#include "simulator/UmockdevPrinterHost.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "simulator/Scheduler.h"
#include "simulator/SysfsRecords.h"
#include "simulator/UsbfsDevice.h"
#include "simulator/UsbfsNodeHandler.h"
#include "simulator/UsblpDriver.h"
#include "simulator/UsblpNodeHandler.h"
#include "simulator/UsblpShimRequests.h"

namespace simulator {

namespace {

constexpr int kUsblpMajor = 180;

struct Device {
    std::unique_ptr<PrinterModel> model;                // null for a node that is not a printer
    std::vector<std::unique_ptr<UsblpDriver>> drivers;  // the last one is the current one
    std::vector<std::unique_ptr<UsblpNodeHandler>> bindings;  // one per lp node it had
    // One per time on the bus (the last is the current one), each with its usbfs node.
    std::vector<std::unique_ptr<UsbfsDevice>> usbfs;
    std::vector<std::unique_ptr<UsbfsNodeHandler>> usbfsNodes;
    std::string interfaceClass = "07";
    std::string nodeName;  // empty: lpN of the minor
    std::string serial;
    int port = 0;
    int devnum = 0;
    bool onBus = false;
    int minor = -1;     // -1 without an lp node (off the bus, or usblp detached)
    bool gone = false;  // off the bus for good: its USB port is free again
    std::string devicePath;
    int holderFd = -1;  // the "other program" of the held fault
};

std::string NodeName(const Device& device) {
    return device.nodeName.empty() ? "lp" + std::to_string(device.minor) : device.nodeName;
}

SysfsRecords::Usb UsbRecord(const Device& device) {
    SysfsRecords::Usb usb;
    usb.port = device.port;
    usb.devnum = device.devnum;
    usb.idVendor = device.model ? device.model->Config().idVendor : 0x1209;
    usb.idProduct = device.model ? device.model->Config().idProduct : 0x0002;
    usb.serial = device.serial;
    usb.interfaceClass = device.interfaceClass;
    usb.usblpBound = device.interfaceClass == "07";
    if (device.model) {
        usb.descriptors = UsbfsDevice::Descriptors(device.model->Config());
    }
    return usb;
}

}  // namespace

struct UmockdevPrinterHost::Impl {
    // Serialises the testbed and the device list between the caller's thread, umockdev's and the
    // scheduler's.
    mutable std::mutex mutex;
    std::condition_variable presenceChanged;
    UMockdevTestbed* testbed = nullptr;
    std::vector<std::unique_ptr<Device>> devices;  // every node, in the order added
    std::vector<Device*> printers;                 // the printers among them
    std::string error;
    bool closing = false;
    // What umockdev made of each node path ever used (a pseudo-terminal it keeps open).
    std::map<std::string, std::string> nodeTargets;
    // The handler that listens on each node path.
    std::map<std::string, UsblpNodeHandler*> attachedAt;
    // The next USB address: a device that comes back after a restart gets a new one.
    int nextDevnum = 2;
    // Declared last: destroyed first, so that no timed task outlives what it points at.
    std::unique_ptr<Scheduler> scheduler = std::make_unique<Scheduler>();

    int FreeMinor() const {
        for (int minor = 0; minor < static_cast<int>(kMaxPrinters); ++minor) {
            const bool taken = std::any_of(devices.begin(), devices.end(),
                                           [&](const auto& d) { return d->minor == minor; });
            if (!taken) {
                return minor;
            }
        }
        return -1;
    }

    int FreePort() const {
        for (int port = 1; port <= static_cast<int>(kMaxPrinters); ++port) {
            if (PortTaken(port)) {
                continue;
            }
            return port;
        }
        return -1;
    }

    bool PortTaken(int port) const {
        return std::any_of(devices.begin(), devices.end(),
                           [&](const auto& d) { return !d->gone && d->port == port; });
    }

    std::string Root() const { return umockdev_testbed_get_root_dir(testbed); }

    bool AddRecords(const std::string& text) {
        GError* failure = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, text.c_str(), &failure)) {
            error = failure != nullptr ? failure->message : "the testbed refused the device";
            g_clear_error(&failure);
            return false;
        }
        return true;
    }

    // umockdev removes a device without telling udev monitors (libusb's hotplug thread keeps its
    // device list by them); the kernel sends "remove", child first. umockdev can send one only
    // from a process that sees the testbed as /sys, i.e. one that runs with its preload.
    void Remove(const std::string& syspath) {
        if (access(syspath.c_str(), F_OK) == 0) {
            umockdev_testbed_uevent(testbed, syspath.c_str(), "remove");
        }
        umockdev_testbed_remove_device(testbed, syspath.c_str());
    }

    // Puts the USB device on the bus at a new address, with its usbfs node when it is a printer.
    bool PlugUsb(Device& device) {
        device.devnum = nextDevnum++;
        device.onBus = true;
        presenceChanged.notify_all();
        if (!AddRecords(SysfsRecords::UsbDevice(UsbRecord(device)))) {
            return false;
        }
        if (!device.model) {
            return true;
        }
        auto node = std::make_unique<UsbfsNodeHandler>(
            SysfsRecords::UsbfsNode(device.devnum),
            UsbfsDevice::Descriptors(device.model->Config()), device.devnum);
        UsbfsNodeHandler* handler = node.get();
        UsbfsDevice::Hooks hooks;
        hooks.detachUsblp = [this, &device] { DetachUsblp(device); };
        hooks.attachUsblp = [this, &device] { return AttachUsblp(device); };
        hooks.onVanish = [this, &device] { Vanish(device); };
        hooks.onRestart = [this, &device] { Restart(device); };
        hooks.onReapable = [handler](bool reapable) { handler->SetReapable(reapable); };
        device.usbfs.push_back(
            std::make_unique<UsbfsDevice>(*device.model, *scheduler, std::move(hooks),
                                          UsbfsDevice::Driver::kUsblp, device.serial));
        device.usbfsNodes.push_back(std::move(node));
        if (device.model->Held()) {
            device.usbfs.back()->HoldForAnotherProgram();
        }
        return handler->Attach(testbed, *device.usbfs.back(), error);
    }

    // Puts the device's lp node under its interface at its minor, answered by its current driver.
    bool PlugLp(Device& device) {
        device.devicePath = "/dev/usb/" + NodeName(device);
        // The handler of an earlier device on this node goes now (see UnplugLp).
        const auto earlier = attachedAt.find(device.devicePath);
        if (earlier != attachedAt.end()) {
            earlier->second->Detach(testbed);
            attachedAt.erase(earlier);
            unlink((Root() + "/ioctl" + device.devicePath).c_str());
        }
        const auto used = nodeTargets.find(device.devicePath);
        if (!AddRecords(SysfsRecords::UsbmiscNode(device.port, NodeName(device), device.minor,
                                                  used == nodeTargets.end()))) {
            return false;
        }
        const std::string node = Root() + device.devicePath;
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(node).parent_path(), ignored);
        if (used != nodeTargets.end() && symlink(used->second.c_str(), node.c_str()) != 0) {
            error = "cannot put back " + node + ": " + std::strerror(errno);
            return false;
        }
        if (!device.model) {
            return true;
        }
        device.model->SetDevicePath(device.devicePath);
        device.bindings.push_back(
            std::make_unique<UsblpNodeHandler>(device.devicePath, *device.drivers.back()));
        if (!device.bindings.back()->Attach(testbed, error)) {
            return false;
        }
        attachedAt[device.devicePath] = device.bindings.back().get();
        return true;
    }

    // Takes the device's lp node out of sysfs and /dev and frees its minor.
    void UnplugLp(Device& device) {
        if (device.minor < 0) {
            return;
        }
        const std::string root = Root();
        const std::string node = NodeName(device);
        char target[4096];
        const ssize_t length =
            readlink((root + device.devicePath).c_str(), target, sizeof target - 1);
        if (length > 0) {
            nodeTargets[device.devicePath] = std::string(target, static_cast<std::size_t>(length));
        }
        // The node first: only its own removal takes the /dev entry away. Its handler stays
        // attached until the node path is used again: an open racing the unplug then reaches the
        // unplugged driver (ENODEV) instead of a socket nobody listens on, which umockdev's
        // preload answers by ending the program.
        Remove("/sys" + SysfsRecords::InterfacePath(device.port) + "/usbmisc/" + node);
        // What umockdev leaves behind would keep the minor from being used again.
        const std::string dev = std::to_string(kUsblpMajor) + ":" + std::to_string(device.minor);
        for (const std::string& leftover :
             {root + "/dev/usb/" + node, root + "/dev/.node/usb_" + node,
              root + "/sys/dev/char/" + dev, root + "/sys/class/usbmisc/" + node}) {
            unlink(leftover.c_str());
        }
        device.minor = -1;
    }

    // Takes the USB device off the bus, its lp node and usbfs node with it.
    void UnplugUsb(Device& device) {
        if (!device.onBus) {
            return;
        }
        UnplugLp(device);
        const std::string root = Root();
        Remove("/sys" + SysfsRecords::InterfacePath(device.port));
        Remove("/sys" + SysfsRecords::DevicePath(device.port));
        const std::string usb = "1-" + std::to_string(device.port);
        const std::string interface = usb + ":1.0";
        const std::string usbfs = SysfsRecords::UsbfsNode(device.devnum);
        for (const std::string& leftover :
             {root + usbfs, root + "/sys/dev/char/" + SysfsRecords::UsbfsDev(device.devnum),
              root + "/sys/class/usb/" + usb, root + "/sys/class/usb/" + interface,
              root + "/sys/bus/usb/devices/" + usb, root + "/sys/bus/usb/devices/" + interface}) {
            unlink(leftover.c_str());
        }
        if (!device.usbfsNodes.empty()) {
            device.usbfsNodes.back()->Retire();
        }
        device.onBus = false;
        presenceChanged.notify_all();
    }

    // Every driver of the device learns that it left the bus.
    void UnplugDrivers(Device& device) {
        if (!device.drivers.empty()) {
            device.drivers.back()->Unplug();
        }
        if (!device.usbfs.empty()) {
            device.usbfs.back()->Unplug();
        }
    }

    // usblp is detached from the printer's interface through usbfs.
    void DetachUsblp(Device& device) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!closing && device.onBus) {
            device.drivers.back()->Unplug();
            UnplugLp(device);
        }
    }

    // usblp binds to the printer's interface again, on the lowest free minor.
    bool AttachUsblp(Device& device) {
        std::lock_guard<std::mutex> lock(mutex);
        if (closing || !device.onBus || device.minor >= 0) {
            return device.minor >= 0;
        }
        device.minor = FreeMinor();
        if (device.minor < 0) {
            return false;
        }
        NewDriver(device);
        if (!PlugLp(device)) {
            UnplugLp(device);
            return false;
        }
        return true;
    }

    // The printer left the bus by itself (vanished, or unplugged after a stall).
    void Vanish(Device& device) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!closing) {
            UnplugDrivers(device);
            UnplugUsb(device);
            device.gone = true;
        }
    }

    void Restart(Device& device) {
        std::lock_guard<std::mutex> lock(mutex);
        if (closing || !device.onBus) {
            return;
        }
        UnplugDrivers(device);
        UnplugUsb(device);
        const PrinterConfig& config = device.model->Config();
        if (config.afterRestart == AfterRestart::kGone) {
            device.gone = true;
        } else {
            scheduler->After(config.restartDelayMs, [this, &device] { ComeBack(device); });
        }
    }

    void ComeBack(Device& device) {
        std::lock_guard<std::mutex> lock(mutex);
        if (closing) {
            return;
        }
        device.minor = FreeMinor();
        if (device.minor < 0) {
            device.gone = true;
            return;
        }
        NewDriver(device);
        device.model->Reattached();
        if (!PlugUsb(device) || !PlugLp(device)) {
            UnplugDrivers(device);
            UnplugUsb(device);
        }
    }

    void NewDriver(Device& device) {
        device.drivers.push_back(std::make_unique<UsblpDriver>(
            *device.model, *scheduler, [this, &device] { Vanish(device); },
            [this, &device] { Restart(device); }));
    }

    // Takes the exclusive lock that the updater's port also asks for, on the node's real file,
    // so that a client that does not go through the shim also finds the printer busy.
    bool Hold(Device& device) {
        const std::string node = Root() + device.devicePath;
        device.holderFd = open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (device.holderFd < 0 || flock(device.holderFd, LOCK_EX | LOCK_NB) != 0) {
            error = "cannot hold " + node;
            return false;
        }
        return true;
    }

    std::string Add(std::unique_ptr<Device> owned, int port) {
        std::lock_guard<std::mutex> lock(mutex);
        Device& device = *owned;
        device.minor = FreeMinor();
        if (device.minor < 0) {
            error = "usblp has " + std::to_string(kMaxPrinters) + " minors (lp0 to lp" +
                    std::to_string(kMaxPrinters - 1) + "); there is no room for another device";
            return {};
        }
        device.port = port != 0 ? port : FreePort();
        if (device.port < 0 || (port != 0 && PortTaken(port))) {
            error = "USB port " + std::to_string(port) + " is taken";
            return {};
        }
        if (device.model) {
            NewDriver(device);
        }
        // Kept from here on, even if the rest fails: the handlers point at it.
        devices.push_back(std::move(owned));
        if (!PlugUsb(device) || !PlugLp(device)) {
            return {};
        }
        if (device.model) {
            printers.push_back(&device);
            if (device.model->Held() && !Hold(device)) {
                return {};
            }
        }
        return device.devicePath;
    }
};

UmockdevPrinterHost::UmockdevPrinterHost() : impl_(std::make_unique<Impl>()) {
    impl_->testbed = umockdev_testbed_new();
}

UmockdevPrinterHost::~UmockdevPrinterHost() {
    // Whatever still waits on a printer fails, as on an unplugged one; then no timed task is left
    // to run.
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->closing = true;
        for (auto& device : impl_->devices) {
            impl_->UnplugDrivers(*device);
        }
    }
    impl_->scheduler.reset();
    for (auto& device : impl_->devices) {
        if (device->holderFd >= 0) {
            close(device->holderFd);
        }
        for (auto& binding : device->bindings) {
            binding->Detach(impl_->testbed);
        }
        for (auto& node : device->usbfsNodes) {
            node->Detach(impl_->testbed);
        }
    }
    g_object_unref(impl_->testbed);
    for (auto& device : impl_->devices) {
        for (auto& node : device->usbfsNodes) {
            node->WaitIdle();
        }
        device->bindings.clear();
        device->usbfsNodes.clear();
        // umockdev joins its handler thread inside uninstrumented GLib code; taking the locks
        // once here makes that thread's last use of them visible to ThreadSanitizer.
        if (device->model) {
            device->model->Opens();
            for (auto& driver : device->drivers) {
                driver->Present();
            }
            for (auto& usbfs : device->usbfs) {
                usbfs->Present();
            }
        }
    }
}

std::string UmockdevPrinterHost::AddPrinter(const PrinterConfig& config) {
    auto device = std::make_unique<Device>();
    device->model = std::make_unique<PrinterModel>(config);
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%04zu", PrinterCount() + 1);
    device->serial = config.serial.empty() ? std::string(serial) : config.serial;
    return impl_->Add(std::move(device), config.port);
}

std::string UmockdevPrinterHost::AddNonPrinterDevice(const std::string& interfaceClass,
                                                     const std::string& nodeName) {
    auto device = std::make_unique<Device>();
    device->interfaceClass = interfaceClass;
    device->nodeName = nodeName;
    device->serial = "OTHER";
    return impl_->Add(std::move(device), 0);
}

bool UmockdevPrinterHost::RemovePrinter(std::size_t index) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (index >= impl_->printers.size()) {
        return false;
    }
    Device& device = *impl_->printers[index];
    impl_->UnplugDrivers(device);
    impl_->UnplugUsb(device);
    device.gone = true;
    return true;
}

std::size_t UmockdevPrinterHost::PrinterCount() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->printers.size();
}

PrinterModel& UmockdevPrinterHost::Printer(std::size_t index) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return *impl_->printers.at(index)->model;
}

std::string UmockdevPrinterHost::DevicePath(std::size_t index) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->printers.at(index)->devicePath;
}

std::string UmockdevPrinterHost::UsbfsPath(std::size_t index) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return SysfsRecords::UsbfsNode(impl_->printers.at(index)->devnum);
}

bool UmockdevPrinterHost::Present(std::size_t index) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->printers.at(index)->onBus;
}

bool UmockdevPrinterHost::WaitForPresence(std::size_t index, bool present,
                                          std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->presenceChanged.wait_for(
        lock, timeout, [&] { return impl_->printers.at(index)->onBus == present; });
}

bool UmockdevPrinterHost::WaitForWaitingRead(std::size_t index, std::chrono::milliseconds timeout) {
    // The driver does not report it, so it is looked at now and then.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        UsblpDriver* driver = nullptr;
        UsbfsDevice* usbfs = nullptr;
        {
            std::lock_guard<std::mutex> lock(impl_->mutex);
            driver = impl_->printers.at(index)->drivers.back().get();
            usbfs = impl_->printers.at(index)->usbfs.back().get();
        }
        if (driver->ReadWaiting() || usbfs->InWaiting()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string UmockdevPrinterHost::RootDir() const {
    return umockdev_testbed_get_root_dir(impl_->testbed);
}

const std::string& UmockdevPrinterHost::error() const {
    return impl_->error;
}

nlohmann::json UmockdevPrinterHost::Transcript() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    nlohmann::json printers = nlohmann::json::array();
    for (const Device* device : impl_->printers) {
        nlohmann::json printer = device->model->Transcript();
        printer["usbfsPath"] = SysfsRecords::UsbfsNode(device->devnum);
        printers.push_back(std::move(printer));
    }
    return {{"printers", printers}};
}

std::string UmockdevPrinterHost::PreloadLibraries(const std::string& folder) {
    return folder + "/" + kShimLibrary + ":libumockdev-preload.so.0";
}

}  // namespace simulator
