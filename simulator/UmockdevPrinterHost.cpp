#include "simulator/UmockdevPrinterHost.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/UsbPrinterIoctl.h"

namespace simulator {

namespace {

// One emulated lp node. Handlers get a pointer to it; it lives as long as the host.
struct Device {
    std::unique_ptr<PrinterModel> model;  // null for a node that is not a printer
    std::string devicePath;               // "/dev/usb/lp0"
    std::string usbSysPath;               // "/sys/devices/.../usb1/1-1"
    std::string nodeSysPath;              // "/sys/devices/.../usb1/1-1/1-1:1.0/usbmisc/lp0"
    UMockdevIoctlBase* handler = nullptr;
    int holderFd = -1;  // the "other program" of the held fault
    bool removed = false;
    // The host's testbed and the lock that serialises changes to it between the caller's thread
    // and the worker thread (a vanished device is removed from there).
    UMockdevTestbed* testbed = nullptr;
    std::mutex* testbedMutex = nullptr;
};

// Takes the device out of sysfs and /dev, so that discovery no longer finds it. Called with
// testbedMutex held.
void RemoveDevice(Device& device) {
    if (!device.removed) {
        device.removed = true;
        // The node first: only its own removal takes the /dev entry away.
        umockdev_testbed_remove_device(device.testbed, device.nodeSysPath.c_str());
        umockdev_testbed_remove_device(device.testbed, device.usbSysPath.c_str());
    }
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// A usbmisc lp node under a USB interface of the given class, under a USB device, in the
// umockdev-record text form (the only form that gives the device a /dev node).
std::string DeviceDescription(std::size_t index, const std::string& interfaceClass,
                              std::uint16_t idVendor, std::uint16_t idProduct,
                              const std::string& serial) {
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(index + 1);
    const std::string interface = usb + "/1-" + std::to_string(index + 1) + ":1.0";
    const std::string lp = "lp" + std::to_string(index);
    const bool printer = interfaceClass == "07";
    std::string text;
    text += "P: " + interface + "/usbmisc/" + lp + "\n";
    text += "N: usb/" + lp + "\n";
    text += "E: DEVNAME=/dev/usb/" + lp + "\n";
    text += "E: SUBSYSTEM=usbmisc\n";
    text += "E: MAJOR=180\n";
    text += "E: MINOR=" + std::to_string(index) + "\n";
    text += "A: dev=180:" + std::to_string(index) + "\n\n";
    text += "P: " + interface + "\n";
    text += "E: SUBSYSTEM=usb\n";
    text += "E: DEVTYPE=usb_interface\n";
    text += printer ? "E: DRIVER=usblp\n" : "";
    text += "A: bInterfaceClass=" + interfaceClass + "\n";
    text += printer ? "A: bInterfaceSubClass=01\nA: bInterfaceProtocol=02\n"
                    : "A: bInterfaceSubClass=00\nA: bInterfaceProtocol=00\n";
    text += "A: bInterfaceNumber=00\n\n";
    text += "P: " + usb + "\n";
    text += "E: SUBSYSTEM=usb\n";
    text += "E: DEVTYPE=usb_device\n";
    text += "A: idVendor=" + Hex4(idVendor) + "\n";
    text += "A: idProduct=" + Hex4(idProduct) + "\n";
    text += "A: serial=" + serial + "\n";
    text += "A: busnum=1\n";
    text += "A: devnum=" + std::to_string(index + 2) + "\n";
    return text;
}

void SetSysPaths(Device& device, std::size_t index) {
    const std::string usb = std::to_string(index + 1);
    device.usbSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + usb;
    device.nodeSysPath =
        device.usbSysPath + "/1-" + usb + ":1.0/usbmisc/lp" + std::to_string(index);
}

// The model's handlers return the count done or -errno.
void CompleteWithResult(UMockdevIoctlClient* client, ssize_t result) {
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                   result < 0 ? static_cast<int>(-result) : 0);
}

// Handlers run on umockdev's worker thread. Each completes its request before returning.

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* device = static_cast<Device*>(data);
    const gulong request = umockdev_ioctl_client_get_request(client);
    const bool deviceIdQuery = _IOC_TYPE(request) == platform::kUsbPrinterIoctlType &&
                               _IOC_NR(request) == platform::kUsbPrinterIoctlGetDeviceIdNr;
    if (!deviceIdQuery) {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    if (_IOC_DIR(request) != _IOC_READ) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }
    const std::size_t size = _IOC_SIZE(request);
    GError* error = nullptr;
    UMockdevIoctlData* buffer = nullptr;
    if (size > 0) {
        buffer =
            umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, &error);
        if (buffer == nullptr) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return TRUE;
        }
    }
    const int result =
        device->model->HandleDeviceIdQuery(buffer != nullptr ? buffer->data : nullptr, size);
    if (buffer != nullptr) {
        g_object_unref(buffer);
    }
    CompleteWithResult(client, result);
    return TRUE;
}

gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* device = static_cast<Device*>(data);
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    const ssize_t result = device->model->HandleRead(
        buffer->data, static_cast<std::size_t>(std::max(buffer->data_len, 0)));
    CompleteWithResult(client, result);
    return TRUE;
}

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* device = static_cast<Device*>(data);
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    const ssize_t result = device->model->HandleWrite(
        buffer->data, static_cast<std::size_t>(std::max(buffer->data_len, 0)));
    if (result == -ENODEV) {
        std::lock_guard<std::mutex> lock(*device->testbedMutex);
        RemoveDevice(*device);
    }
    CompleteWithResult(client, result);
    return TRUE;
}

void OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
    static_cast<Device*>(data)->model->HandleOpen();
}

}  // namespace

struct UmockdevPrinterHost::Impl {
    std::mutex testbedMutex;
    UMockdevTestbed* testbed = nullptr;
    std::vector<std::unique_ptr<Device>> devices;  // every lp node, in the order added
    std::vector<Device*> printers;                 // the printers among them
    std::string error;

    std::string AddNode(std::unique_ptr<Device> owned, const std::string& description) {
        Device& device = *owned;
        {
            std::lock_guard<std::mutex> lock(testbedMutex);
            GError* failure = nullptr;
            if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &failure)) {
                error = failure != nullptr ? failure->message : "the testbed refused the device";
                g_clear_error(&failure);
                return {};
            }
        }
        // Kept from here on, even if the rest fails: the handlers point at it.
        devices.push_back(std::move(owned));
        if (!device.model) {
            return device.devicePath;
        }
        device.handler = umockdev_ioctl_base_new();
        g_signal_connect(device.handler, "handle-ioctl", G_CALLBACK(OnIoctl), &device);
        g_signal_connect(device.handler, "handle-read", G_CALLBACK(OnRead), &device);
        g_signal_connect(device.handler, "handle-write", G_CALLBACK(OnWrite), &device);
        g_signal_connect(device.handler, "client-connected", G_CALLBACK(OnClientConnected),
                         &device);
        GError* failure = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed, device.devicePath.c_str(), device.handler,
                                           &failure)) {
            error = failure != nullptr ? failure->message : "cannot attach the handler";
            g_clear_error(&failure);
            return {};
        }
        if (device.model->Held() && !Hold(device)) {
            return {};
        }
        printers.push_back(&device);
        return device.devicePath;
    }

    // Takes the exclusive lock that the updater's port also asks for, on the node's real file,
    // so that the updater's open succeeds and its flock fails, as with a busy printer.
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
};

UmockdevPrinterHost::UmockdevPrinterHost() : impl_(std::make_unique<Impl>()) {
    impl_->testbed = umockdev_testbed_new();
}

UmockdevPrinterHost::~UmockdevPrinterHost() {
    for (auto& device : impl_->devices) {
        if (device->holderFd >= 0) {
            close(device->holderFd);
        }
        if (device->handler != nullptr) {
            if (!device->removed) {
                umockdev_testbed_detach_ioctl(impl_->testbed, device->devicePath.c_str(), nullptr);
            }
        }
    }
    g_object_unref(impl_->testbed);
    for (auto& device : impl_->devices) {
        if (device->handler != nullptr) {
            g_object_unref(device->handler);
        }
        // umockdev joins its handler thread inside uninstrumented GLib code; taking the model's
        // lock once here makes that thread's last use of the model visible to ThreadSanitizer.
        if (device->model) {
            device->model->Opens();
        }
    }
}

std::string UmockdevPrinterHost::AddPrinter(const PrinterConfig& config) {
    const std::size_t index = impl_->devices.size();
    auto device = std::make_unique<Device>();
    device->model = std::make_unique<PrinterModel>(config);
    device->devicePath = "/dev/usb/lp" + std::to_string(index);
    SetSysPaths(*device, index);
    device->testbed = impl_->testbed;
    device->testbedMutex = &impl_->testbedMutex;
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%04zu", impl_->printers.size() + 1);
    const std::string description =
        DeviceDescription(index, "07", config.idVendor, config.idProduct,
                          config.serial.empty() ? std::string(serial) : config.serial);
    return impl_->AddNode(std::move(device), description);
}

std::string UmockdevPrinterHost::AddNonPrinterDevice() {
    const std::size_t index = impl_->devices.size();
    auto device = std::make_unique<Device>();
    device->devicePath = "/dev/usb/lp" + std::to_string(index);
    SetSysPaths(*device, index);
    device->testbed = impl_->testbed;
    device->testbedMutex = &impl_->testbedMutex;
    return impl_->AddNode(std::move(device),
                          DeviceDescription(index, "ff", 0x1209, 0x0002, "OTHER"));
}

bool UmockdevPrinterHost::RemovePrinter(std::size_t index) {
    if (index >= impl_->printers.size()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(impl_->testbedMutex);
    RemoveDevice(*impl_->printers[index]);
    return true;
}

std::size_t UmockdevPrinterHost::PrinterCount() const {
    return impl_->printers.size();
}

PrinterModel& UmockdevPrinterHost::Printer(std::size_t index) {
    return *impl_->printers.at(index)->model;
}

const std::string& UmockdevPrinterHost::DevicePath(std::size_t index) const {
    return impl_->printers.at(index)->devicePath;
}

std::string UmockdevPrinterHost::RootDir() const {
    return umockdev_testbed_get_root_dir(impl_->testbed);
}

const std::string& UmockdevPrinterHost::error() const {
    return impl_->error;
}

nlohmann::json UmockdevPrinterHost::Transcript() const {
    nlohmann::json printers = nlohmann::json::array();
    for (const Device* device : impl_->printers) {
        printers.push_back(device->model->Transcript(device->devicePath));
    }
    return {{"printers", printers}};
}

}  // namespace simulator
