#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DeviceConnection.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace platform {

// A printer-class interface reached through usbfs with libusb, path "/dev/bus/usb/BBB/DDD:I".
//
// Open leaves the device as it is: an interface that no driver holds is claimed at once, one
// that another program has claimed through usbfs is refused (EBUSY), and one bound to usblp stays
// bound. The first Read or Write claims the interface, detaching usblp for as long as the
// connection lives (a program printing through usblp loses it then, as it would to any libusb
// program); closing releases it and gives it back to usblp, also after an error. A claimed
// interface cannot be detached by another libusb program, so nothing interrupts the transfer. The
// device ID comes from the class request GET_DEVICE_ID, which the kernel passes to a printer-class
// interface whoever holds it, so that listing printers detaches nothing.
//
// Each Read is one bulk-IN transfer made at the time of the call, rounded up to whole packets
// (bytes beyond length in that transfer are dropped); each Write one bulk-OUT transfer. A forced
// stop of the calling thread waits for the transfer to be cancelled first.
class LibusbConnection : public DeviceConnection {
public:
    static std::unique_ptr<DeviceConnection> Open(const wchar_t* path);
    ~LibusbConnection() override;
    LibusbConnection(const LibusbConnection&) = delete;
    LibusbConnection& operator=(const LibusbConnection&) = delete;

    bool Read(void* buffer, std::uint32_t& length) override;
    bool Write(const void* buffer, std::uint32_t& length) override;
    bool QueryDeviceId(std::string& bytes) override;

private:
    struct Interface {
        int number = 0;
        int altSetting = 0;
        int configIndex = 0;
        int configValue = 1;
        unsigned char outEndpoint = 0;
        unsigned char inEndpoint = 0;  // 0: a unidirectional printer
        int inPacketSize = 64;
    };

    LibusbConnection(libusb_context* context, libusb_device_handle* handle,
                     const Interface& interface);
    static std::unique_ptr<DeviceConnection> OpenHeld(const wchar_t* path);
    // The printer-class setting of interface `number` in the active configuration, with its bulk
    // endpoints; false when it has none or no bulk-OUT endpoint.
    static bool Describe(libusb_device* device, int number, Interface& interface);
    bool Claim();
    // The kernel driver bound to the interface now: "usblp", "usbfs", or empty.
    std::string BoundDriver() const;

    libusb_context* const context_;  // the connection's own
    libusb_device_handle* const handle_;
    const Interface interface_;
    bool claimed_ = false;
    bool detached_ = false;
};

}  // namespace platform
