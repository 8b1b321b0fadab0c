#include "platform/UsbPrinterDevices.h"

#include <libudev.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/LastError.h"
#include "platform/ModulePath.h"

namespace platform {
namespace {

constexpr long kPrinterInterfaceClass = 0x07;

struct UdevUnref {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};

bool IsPrinterInterface(udev_device* device) {
    const char* name = udev_device_get_sysname(device);
    if (name == nullptr || std::strncmp(name, "lp", 2) != 0) {
        return false;
    }
    // The parent belongs to the child device; it must not be unreferenced.
    udev_device* usbInterface =
        udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface");
    if (usbInterface == nullptr) {
        return false;
    }
    const char* interfaceClass = udev_device_get_sysattr_value(usbInterface, "bInterfaceClass");
    if (interfaceClass == nullptr) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(interfaceClass, &end, 16);
    return end != interfaceClass && value == kPrinterInterfaceClass;
}

}  // namespace

bool EnumerateUsbPrinterPaths(std::vector<std::wstring>& paths) {
    paths.clear();
    std::unique_ptr<udev, UdevUnref> context(udev_new());
    if (!context) {
        SetLastError(errno != 0 ? static_cast<std::uint32_t>(errno) : ENOMEM);
        return false;
    }
    std::unique_ptr<udev_enumerate, UdevUnref> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate) {
        SetLastError(errno != 0 ? static_cast<std::uint32_t>(errno) : ENOMEM);
        return false;
    }
    int result = udev_enumerate_add_match_subsystem(enumerate.get(), "usbmisc");
    if (result >= 0) {
        result = udev_enumerate_scan_devices(enumerate.get());
    }
    if (result < 0) {
        SetLastError(static_cast<std::uint32_t>(-result));
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        std::unique_ptr<udev_device, UdevUnref> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device || !IsPrinterInterface(device.get())) {
            continue;
        }
        const char* node = udev_device_get_devnode(device.get());
        std::wstring wide;
        if (node != nullptr && NarrowToWide(node, wide)) {
            paths.push_back(std::move(wide));
        }
    }
    return true;
}

std::string UsbPortOf(const std::wstring& devicePath) {
    std::string node;
    std::unique_ptr<udev, UdevUnref> context(udev_new());
    if (!context || !WideToNarrow(devicePath, node)) {
        return {};
    }
    std::unique_ptr<udev_enumerate, UdevUnref> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "usbmisc") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return {};
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        std::unique_ptr<udev_device, UdevUnref> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        const char* devnode = device ? udev_device_get_devnode(device.get()) : nullptr;
        if (devnode == nullptr || node != devnode) {
            continue;
        }
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
        const char* name = usb != nullptr ? udev_device_get_sysname(usb) : nullptr;
        return name != nullptr ? name : "";
    }
    return {};
}

}  // namespace platform
