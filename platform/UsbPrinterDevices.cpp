#include "platform/UsbPrinterDevices.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>

#include "platform/IntegerText.h"
#include "platform/LastError.h"
#include "platform/ModulePath.h"

namespace platform {
namespace {

constexpr long kPrinterInterfaceClass = 0x07;
constexpr long kPrinterSubclass = 0x01;
constexpr long kLastPrinterProtocol = 0x03;  // 04 is IPP over USB

struct UdevUnref {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using UdevDevice = std::unique_ptr<udev_device, UdevUnref>;

long HexAttribute(udev_device* device, const char* name) {
    const char* text = device != nullptr ? udev_device_get_sysattr_value(device, name) : nullptr;
    if (text == nullptr) {
        return -1;
    }
    std::int32_t value = -1;
    return ParseIntegerText(text, value, 16) ? value : -1;
}

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

// Calls visit for each device of subsystem (and devtype, if given) in udev's order. False, with
// the last error set, when udev cannot list them.
bool ForEachDevice(const char* subsystem, const char* devtype,
                   const std::function<void(udev_device*)>& visit) {
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
    int result = udev_enumerate_add_match_subsystem(enumerate.get(), subsystem);
    if (result >= 0 && devtype != nullptr) {
        result = udev_enumerate_add_match_property(enumerate.get(), "DEVTYPE", devtype);
    }
    if (result >= 0) {
        result = udev_enumerate_scan_devices(enumerate.get());
    }
    if (result < 0) {
        SetLastError(static_cast<std::uint32_t>(-result));
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        UdevDevice device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (device) {
            visit(device.get());
        }
    }
    return true;
}

// Parents belong to their child device; they must not be unreferenced.
udev_device* UsbInterfaceOf(udev_device* device) {
    return udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface");
}

udev_device* UsbDeviceOf(udev_device* device) {
    return udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
}

bool IsUsblpPrinterNode(udev_device* device) {
    const std::string name = Text(udev_device_get_sysname(device));
    return name.rfind("lp", 0) == 0 &&
           HexAttribute(UsbInterfaceOf(device), "bInterfaceClass") == kPrinterInterfaceClass;
}

bool IsPrinterInterface(udev_device* usbInterface) {
    const long protocol = HexAttribute(usbInterface, "bInterfaceProtocol");
    return HexAttribute(usbInterface, "bInterfaceClass") == kPrinterInterfaceClass &&
           HexAttribute(usbInterface, "bInterfaceSubClass") == kPrinterSubclass && protocol >= 1 &&
           protocol <= kLastPrinterProtocol;
}

// Reading and writing is what a claim needs; root passes any check.
bool MayOpen(const std::string& node) {
    return ::access(node.c_str(), R_OK | W_OK) == 0;
}

bool ListUsblpNodes(std::vector<UsbPrinterInterface>& printers,
                    const std::set<std::string>& interfacesListed) {
    return ForEachDevice("usbmisc", nullptr, [&](udev_device* device) {
        const char* node = udev_device_get_devnode(device);
        std::wstring wide;
        if (!IsUsblpPrinterNode(device) || node == nullptr || !NarrowToWide(node, wide) ||
            interfacesListed.count(Text(udev_device_get_sysname(UsbInterfaceOf(device)))) != 0) {
            return;
        }
        printers.push_back({std::move(wide), PrinterTransport::kUsblp,
                            Text(udev_device_get_sysname(UsbDeviceOf(device))), "usblp"});
    });
}

}  // namespace

bool ListUsbPrinterInterfaces(std::vector<UsbPrinterInterface>& printers) {
    printers.clear();
    const PrinterTransport transport = SelectedPrinterTransport();
    if (transport == PrinterTransport::kUsblp) {
        return ListUsblpNodes(printers, {});
    }
    std::set<std::string> interfacesListed;
    const bool listed = ForEachDevice("usb", "usb_interface", [&](udev_device* usbInterface) {
        udev_device* usbDevice = UsbDeviceOf(usbInterface);
        const char* usbfsNode = usbDevice ? udev_device_get_devnode(usbDevice) : nullptr;
        const long number = HexAttribute(usbInterface, "bInterfaceNumber");
        if (!IsPrinterInterface(usbInterface) || usbfsNode == nullptr || number < 0) {
            return;
        }
        const std::string interfaceName = Text(udev_device_get_sysname(usbInterface));
        UsbPrinterInterface printer;
        printer.port = Text(udev_device_get_sysname(usbDevice));
        if (!UsbInterfaceDriver(usbfsNode, static_cast<int>(number), printer.driver)) {
            printer.driver = "?";
        }
        if (transport == PrinterTransport::kLibusb || MayOpen(usbfsNode)) {
            NarrowToWide(std::string(usbfsNode) + ":" + std::to_string(number), printer.devicePath);
            printer.transport = PrinterTransport::kLibusb;
        } else {
            const std::string lp = UsblpNodeOf(interfaceName);
            if (lp.empty() || !NarrowToWide(lp, printer.devicePath)) {
                return;
            }
        }
        interfacesListed.insert(interfaceName);
        printers.push_back(std::move(printer));
    });
    if (!listed) {
        return false;
    }
    return transport == PrinterTransport::kLibusb || ListUsblpNodes(printers, interfacesListed);
}

bool EnumerateUsbPrinterPaths(std::vector<std::wstring>& paths) {
    paths.clear();
    std::vector<UsbPrinterInterface> printers;
    if (!ListUsbPrinterInterfaces(printers)) {
        return false;
    }
    for (UsbPrinterInterface& printer : printers) {
        paths.push_back(std::move(printer.devicePath));
    }
    return true;
}

std::string UsbPortOf(const std::wstring& devicePath) {
    std::string node;
    if (!WideToNarrow(devicePath, node)) {
        return {};
    }
    const bool usbfs = node.rfind("/dev/bus/usb/", 0) == 0;
    if (usbfs) {
        node = node.substr(0, node.find(':'));
    }
    std::string port;
    ForEachDevice(usbfs ? "usb" : "usbmisc", usbfs ? "usb_device" : nullptr,
                  [&](udev_device* device) {
                      const char* devnode = udev_device_get_devnode(device);
                      if (port.empty() && devnode != nullptr && node == devnode) {
                          udev_device* usb = usbfs ? device : UsbDeviceOf(device);
                          port = Text(usb != nullptr ? udev_device_get_sysname(usb) : nullptr);
                      }
                  });
    return port;
}

bool UsbInterfaceDriver(const std::string& usbfsNode, int number, std::string& driver) {
    int file;
    do {
        file = ::open(usbfsNode.c_str(), O_RDWR | O_CLOEXEC);
    } while (file < 0 && errno == EINTR);
    if (file < 0) {
        SetLastErrorFromErrno();
        return false;
    }
    usbdevfs_getdriver request{};
    request.interface = static_cast<unsigned>(number);
    const int result = ::ioctl(file, USBDEVFS_GETDRIVER, &request);
    const int error = errno;
    ::close(file);
    if (result == 0) {
        request.driver[sizeof request.driver - 1] = '\0';
        driver = request.driver;
        return true;
    }
    if (error == ENODATA) {
        driver.clear();
        return true;
    }
    SetLastError(static_cast<std::uint32_t>(error));
    return false;
}

std::string UsblpNodeOf(const std::string& interfaceName) {
    std::string node;
    ForEachDevice("usbmisc", nullptr, [&](udev_device* device) {
        const char* devnode = udev_device_get_devnode(device);
        if (node.empty() && devnode != nullptr && IsUsblpPrinterNode(device) &&
            Text(udev_device_get_sysname(UsbInterfaceOf(device))) == interfaceName) {
            node = devnode;
        }
    });
    return node;
}

}  // namespace platform
