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

#include "platform/UsbPrinterIoctl.h"
#include "simulator/Scheduler.h"
#include "simulator/UsblpDriver.h"
#include "simulator/UsblpShimRequests.h"

namespace simulator {

namespace {

constexpr int kUsblpMajor = 180;

struct Device;

// One node as attached to umockdev: its handler and the driver instance behind it. A printer
// that restarts gets a new node and a new driver; descriptors still open on the old node keep
// talking to the old, unplugged driver. Lives as long as the host.
struct Binding {
    Device* device = nullptr;
    UsblpDriver* driver = nullptr;  // null for a node nothing answers
    UMockdevIoctlBase* handler = nullptr;
    std::string devicePath;
    bool attached = false;
    std::mutex clientsMutex;
    std::set<UMockdevIoctlClient*> clients;  // referenced until the host goes
};

struct Device {
    std::unique_ptr<PrinterModel> model;                // null for a node that is not a printer
    std::vector<std::unique_ptr<UsblpDriver>> drivers;  // the last one is the current one
    std::vector<std::unique_ptr<Binding>> bindings;
    std::string interfaceClass = "07";
    std::string nodeName;  // empty: lpN of the minor
    std::string serial;
    int port = 0;
    int minor = -1;     // -1 while off the bus
    bool gone = false;  // off the bus for good: its USB port is free again
    std::string devicePath;
    int holderFd = -1;  // the "other program" of the held fault
};

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string UsbPath(int port) {
    return "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
}

std::string InterfacePath(int port) {
    return UsbPath(port) + "/1-" + std::to_string(port) + ":1.0";
}

std::string NodeName(const Device& device) {
    return device.nodeName.empty() ? "lp" + std::to_string(device.minor) : device.nodeName;
}

// A usbmisc node under a USB interface under a USB device, in the umockdev-record text form (the
// only form that gives the device a /dev node). withNode: umockdev makes the /dev node; it can do
// so only once per name in a testbed, so a minor used again gets its node back from the host.
std::string DeviceDescription(const Device& device, bool withNode) {
    const PrinterConfig fallback;
    const PrinterConfig& config = device.model ? device.model->Config() : fallback;
    const std::string node = NodeName(device);
    const bool printer = device.interfaceClass == "07";
    std::string text;
    text += "P: " + InterfacePath(device.port) + "/usbmisc/" + node + "\n";
    text += withNode ? "N: usb/" + node + "\n" : "";
    text += "E: DEVNAME=/dev/usb/" + node + "\n";
    text += "E: SUBSYSTEM=usbmisc\n";
    text += "E: MAJOR=" + std::to_string(kUsblpMajor) + "\n";
    text += "E: MINOR=" + std::to_string(device.minor) + "\n";
    text += "A: dev=" + std::to_string(kUsblpMajor) + ":" + std::to_string(device.minor) + "\n\n";
    text += "P: " + InterfacePath(device.port) + "\n";
    text += "E: SUBSYSTEM=usb\n";
    text += "E: DEVTYPE=usb_interface\n";
    text += printer ? "E: DRIVER=usblp\n" : "";
    text += "A: bInterfaceClass=" + device.interfaceClass + "\n";
    text += printer ? "A: bInterfaceSubClass=01\nA: bInterfaceProtocol=02\n"
                    : "A: bInterfaceSubClass=00\nA: bInterfaceProtocol=00\n";
    text += "A: bInterfaceNumber=00\n\n";
    text += "P: " + UsbPath(device.port) + "\n";
    text += "E: SUBSYSTEM=usb\n";
    text += "E: DEVTYPE=usb_device\n";
    text += "A: idVendor=" + Hex4(device.model ? config.idVendor : 0x1209) + "\n";
    text += "A: idProduct=" + Hex4(device.model ? config.idProduct : 0x0002) + "\n";
    text += "A: serial=" + device.serial + "\n";
    text += "A: busnum=1\n";
    text += "A: devnum=" + std::to_string(device.port + 1) + "\n";
    return text;
}

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

// Handlers run on umockdev's thread. Reads and writes may complete later, from another thread.

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* binding = static_cast<Binding*>(data);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == kShimOpenRequest) {
        const auto flags = static_cast<int>(*reinterpret_cast<const unsigned long*>(arg->data));
        CompleteWithResult(client, binding->driver->OpenResult(client, flags));
        return TRUE;
    }
    if (request == kShimCloseRequest) {
        binding->driver->Release(client);
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
        binding->driver->DeviceId(client, buffer != nullptr ? buffer->data : nullptr, size);
    if (buffer != nullptr) {
        g_object_unref(buffer);
    }
    CompleteWithResult(client, result);
    return TRUE;
}

gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* binding = static_cast<Binding*>(data);
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    binding->driver->Read(client, buffer->data,
                          static_cast<std::size_t>(std::max(buffer->data_len, 0)), Later(client));
    return TRUE;
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* binding = static_cast<Binding*>(data);
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    binding->driver->Write(client, buffer->data,
                           static_cast<std::size_t>(std::max(buffer->data_len, 0)), Later(client));
    return TRUE;
}

void OnClientNotify(GObject* object, GParamSpec*, gpointer data) {
    auto* client = reinterpret_cast<UMockdevIoctlClient*>(object);
    if (!umockdev_ioctl_client_get_connected(client)) {
        static_cast<Binding*>(data)->driver->Release(client);
    }
}

void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* binding = static_cast<Binding*>(data);
    {
        std::lock_guard<std::mutex> lock(binding->clientsMutex);
        binding->clients.insert(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
    }
    g_signal_connect(client, "notify::connected", G_CALLBACK(OnClientNotify), binding);
    binding->driver->Connect(client);
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
    // The binding whose handler listens on each node path.
    std::map<std::string, Binding*> attachedAt;
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

    // Puts the device's node on the bus at its minor, answered by its current driver.
    bool Plug(Device& device) {
        device.devicePath = "/dev/usb/" + NodeName(device);
        // The handler of an earlier device on this node goes now (see Unplug).
        const auto earlier = attachedAt.find(device.devicePath);
        if (earlier != attachedAt.end()) {
            umockdev_testbed_detach_ioctl(testbed, device.devicePath.c_str(), nullptr);
            earlier->second->attached = false;
            attachedAt.erase(earlier);
            unlink(
                (std::string(umockdev_testbed_get_root_dir(testbed)) + "/ioctl" + device.devicePath)
                    .c_str());
        }
        const auto used = nodeTargets.find(device.devicePath);
        GError* failure = nullptr;
        if (!umockdev_testbed_add_from_string(
                testbed, DeviceDescription(device, used == nodeTargets.end()).c_str(), &failure)) {
            error = failure != nullptr ? failure->message : "the testbed refused the device";
            g_clear_error(&failure);
            return false;
        }
        const std::string node = umockdev_testbed_get_root_dir(testbed) + device.devicePath;
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
        auto binding = std::make_unique<Binding>();
        binding->device = &device;
        binding->driver = device.drivers.back().get();
        binding->devicePath = device.devicePath;
        binding->handler = umockdev_ioctl_base_new();
        g_signal_connect(binding->handler, "handle-ioctl", G_CALLBACK(OnIoctl), binding.get());
        g_signal_connect(binding->handler, "handle-read", G_CALLBACK(OnRead), binding.get());
        g_signal_connect(binding->handler, "handle-write", G_CALLBACK(OnWrite), binding.get());
        g_signal_connect(binding->handler, "client-connected", G_CALLBACK(OnClientConnected),
                         binding.get());
        Binding& attached = *binding;
        device.bindings.push_back(std::move(binding));
        if (!umockdev_testbed_attach_ioctl(testbed, device.devicePath.c_str(), attached.handler,
                                           &failure)) {
            error = failure != nullptr ? failure->message : "cannot attach the handler";
            g_clear_error(&failure);
            return false;
        }
        attached.attached = true;
        attachedAt[device.devicePath] = &attached;
        presenceChanged.notify_all();
        return true;
    }

    // Takes the device's node out of sysfs and /dev and frees its minor.
    void Unplug(Device& device) {
        if (device.minor < 0) {
            return;
        }
        const std::string root = umockdev_testbed_get_root_dir(testbed);
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
        umockdev_testbed_remove_device(
            testbed, ("/sys" + InterfacePath(device.port) + "/usbmisc/" + node).c_str());
        umockdev_testbed_remove_device(testbed, ("/sys" + UsbPath(device.port)).c_str());
        // What umockdev leaves behind would keep the minor from being used again.
        const std::string dev = std::to_string(kUsblpMajor) + ":" + std::to_string(device.minor);
        const std::string usb = "1-" + std::to_string(device.port);
        const std::string interface = usb + ":1.0";
        for (const std::string& leftover :
             {root + "/dev/usb/" + node, root + "/dev/.node/usb_" + node,
              root + "/sys/dev/char/" + dev, root + "/sys/class/usbmisc/" + node,
              root + "/sys/class/usb/" + usb, root + "/sys/class/usb/" + interface,
              root + "/sys/bus/usb/devices/" + usb, root + "/sys/bus/usb/devices/" + interface}) {
            unlink(leftover.c_str());
        }
        device.minor = -1;
        presenceChanged.notify_all();
    }

    // The printer left the bus by itself (vanished, or restarting).
    void Vanish(Device& device) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!closing) {
            Unplug(device);
            device.gone = true;
        }
    }

    void Restart(Device& device) {
        std::lock_guard<std::mutex> lock(mutex);
        if (closing || device.minor < 0) {
            return;
        }
        device.drivers.back()->Unplug();
        Unplug(device);
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
        if (!Plug(device)) {
            Unplug(device);
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
        const std::string node =
            std::string(umockdev_testbed_get_root_dir(testbed)) + device.devicePath;
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
        if (!Plug(device)) {
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
            for (auto& driver : device->drivers) {
                driver->Unplug();
            }
        }
    }
    impl_->scheduler.reset();
    for (auto& device : impl_->devices) {
        if (device->holderFd >= 0) {
            close(device->holderFd);
        }
        for (auto& binding : device->bindings) {
            if (binding->attached) {
                umockdev_testbed_detach_ioctl(impl_->testbed, binding->devicePath.c_str(), nullptr);
            }
        }
    }
    g_object_unref(impl_->testbed);
    for (auto& device : impl_->devices) {
        for (auto& binding : device->bindings) {
            std::lock_guard<std::mutex> lock(binding->clientsMutex);
            for (UMockdevIoctlClient* client : binding->clients) {
                g_signal_handlers_disconnect_by_data(client, binding.get());
                g_object_unref(client);
            }
            g_object_unref(binding->handler);
        }
        // umockdev joins its handler thread inside uninstrumented GLib code; taking the locks
        // once here makes that thread's last use of them visible to ThreadSanitizer.
        if (device->model) {
            device->model->Opens();
            for (auto& driver : device->drivers) {
                driver->Present();
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
    device.drivers.back()->Unplug();
    impl_->Unplug(device);
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

bool UmockdevPrinterHost::Present(std::size_t index) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->printers.at(index)->minor >= 0;
}

bool UmockdevPrinterHost::WaitForPresence(std::size_t index, bool present,
                                          std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->presenceChanged.wait_for(
        lock, timeout, [&] { return (impl_->printers.at(index)->minor >= 0) == present; });
}

bool UmockdevPrinterHost::WaitForWaitingRead(std::size_t index, std::chrono::milliseconds timeout) {
    // The driver does not report it, so it is looked at now and then.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        UsblpDriver* driver = nullptr;
        {
            std::lock_guard<std::mutex> lock(impl_->mutex);
            driver = impl_->printers.at(index)->drivers.back().get();
        }
        if (driver->ReadWaiting()) {
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
        printers.push_back(device->model->Transcript());
    }
    return {{"printers", printers}};
}

std::string UmockdevPrinterHost::PreloadLibraries(const std::string& folder) {
    return folder + "/" + kShimLibrary + ":libumockdev-preload.so.0";
}

}  // namespace simulator
