#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simulator {

// The umockdev-record text (the only form that gives a device a /dev node) of an emulated USB
// device on bus 1: the device at port P ("1-P", with its usbfs node /dev/bus/usb/001/DDD when it
// has descriptors), its interface 0 and the usbmisc node under it. Paths are sysfs paths without
// "/sys".
class SysfsRecords {
public:
    struct Usb {
        int port = 0;
        int devnum = 0;
        std::uint16_t idVendor = 0;
        std::uint16_t idProduct = 0;
        std::string serial;
        std::string interfaceClass;  // two hex digits; "07": a printer (subclass 01, protocol 02)
        bool usblpBound = false;
        std::vector<std::uint8_t> descriptors;  // empty: no usbfs node
    };

    static std::string DevicePath(int port);
    static std::string InterfacePath(int port);
    // /dev/bus/usb/001/DDD
    static std::string UsbfsNode(int devnum);
    // The dev_t text of the usbfs node (major 189).
    static std::string UsbfsDev(int devnum);
    // The device and its interface, parents last.
    static std::string UsbDevice(const Usb& usb);
    // A usbmisc node of major 180 under the interface. withNode: umockdev makes the /dev node;
    // it can do so only once per name in a testbed.
    static std::string UsbmiscNode(int port, const std::string& name, int minor, bool withNode);
};

}  // namespace simulator
