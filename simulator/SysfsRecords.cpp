#include "simulator/SysfsRecords.h"

#include <cstdio>

namespace simulator {

namespace {

constexpr int kUsblpMajor = 180;
constexpr int kUsbDeviceMajor = 189;

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

}  // namespace

std::string SysfsRecords::DevicePath(int port) {
    return "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
}

std::string SysfsRecords::InterfacePath(int port) {
    return DevicePath(port) + "/1-" + std::to_string(port) + ":1.0";
}

std::string SysfsRecords::UsbfsNode(int devnum) {
    char text[32];
    std::snprintf(text, sizeof text, "/dev/bus/usb/001/%03d", devnum);
    return text;
}

std::string SysfsRecords::UsbfsDev(int devnum) {
    return std::to_string(kUsbDeviceMajor) + ":" + std::to_string(devnum - 1);
}

std::string SysfsRecords::UsbDevice(const Usb& usb) {
    const bool printer = usb.interfaceClass == "07";
    const bool usbfs = !usb.descriptors.empty();
    std::string text;
    text += "P: " + InterfacePath(usb.port) + "\n";
    text += "E: SUBSYSTEM=usb\n";
    text += "E: DEVTYPE=usb_interface\n";
    text += usb.usblpBound ? "E: DRIVER=usblp\n" : "";
    text += "A: bInterfaceClass=" + usb.interfaceClass + "\n";
    text += printer ? "A: bInterfaceSubClass=01\nA: bInterfaceProtocol=02\n"
                    : "A: bInterfaceSubClass=00\nA: bInterfaceProtocol=00\n";
    text += "A: bInterfaceNumber=00\n";
    text += "A: bAlternateSetting= 0\n\n";
    text += "P: " + DevicePath(usb.port) + "\n";
    if (usbfs) {
        const std::string node = UsbfsNode(usb.devnum);
        const std::string dev = UsbfsDev(usb.devnum);
        text += "N: " + node.substr(5) + "\n";
        text += "E: DEVNAME=" + node + "\n";
        text += "E: BUSNUM=001\n";
        text += "E: DEVNUM=" + node.substr(node.size() - 3) + "\n";
        text += "E: MAJOR=" + dev.substr(0, dev.find(':')) + "\n";
        text += "E: MINOR=" + dev.substr(dev.find(':') + 1) + "\n";
        text += "E: DRIVER=usb\n";
        text += "A: dev=" + dev + "\n";
        text += "A: speed=480\\n\n";
        text += "A: bConfigurationValue=1\\n\n";
        text += "A: bNumConfigurations=1\\n\n";
        text += "A: bNumInterfaces= 1\\n\n";
        text += "H: descriptors=";
        for (const std::uint8_t byte : usb.descriptors) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", byte);
            text += pair;
        }
        text += "\n";
    }
    text += "E: SUBSYSTEM=usb\n";
    text += "E: DEVTYPE=usb_device\n";
    text += "A: idVendor=" + Hex4(usb.idVendor) + "\n";
    text += "A: idProduct=" + Hex4(usb.idProduct) + "\n";
    text += "A: serial=" + usb.serial + "\n";
    // libusb reads these as the kernel writes them, with a newline.
    text += "A: busnum=1\\n\n";
    text += "A: devnum=" + std::to_string(usb.devnum) + "\\n\n";
    return text;
}

std::string SysfsRecords::UsbmiscNode(int port, const std::string& name, int minor, bool withNode) {
    std::string text;
    text += "P: " + InterfacePath(port) + "/usbmisc/" + name + "\n";
    text += withNode ? "N: usb/" + name + "\n" : "";
    text += "E: DEVNAME=/dev/usb/" + name + "\n";
    text += "E: SUBSYSTEM=usbmisc\n";
    text += "E: MAJOR=" + std::to_string(kUsblpMajor) + "\n";
    text += "E: MINOR=" + std::to_string(minor) + "\n";
    text += "A: dev=" + std::to_string(kUsblpMajor) + ":" + std::to_string(minor) + "\n";
    return text;
}

}  // namespace simulator
