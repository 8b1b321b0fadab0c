// The device's answers to control requests, its descriptors and its usbfs capabilities.
#include "simulator/UsbfsDevice.h"

#include <linux/usbdevice_fs.h>

#include <cerrno>

namespace simulator {

namespace {

std::uint16_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

}  // namespace

std::uint32_t UsbfsDevice::Capabilities() {
    return USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
           USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
}

std::vector<std::uint8_t> UsbfsDevice::Descriptors(const PrinterConfig& config) {
    const auto low = [](std::uint16_t value) { return static_cast<std::uint8_t>(value & 0xFF); };
    const auto high = [](std::uint16_t value) { return static_cast<std::uint8_t>(value >> 8); };
    return {// device: USB 2.0, class per interface, 64-byte ep0, one configuration
            18, 1, 0x00, 0x02, 0, 0, 0, 64, low(config.idVendor), high(config.idVendor),
            low(config.idProduct), high(config.idProduct), 0x00, 0x01, 0, 0, kSerialIndex, 1,
            // configuration 1: one interface, self-powered
            9, 2, 32, 0, 1, 1, 0, 0xC0, 1,
            // interface 0: printer, unidirectional-or-bidirectional (protocol 2), two endpoints
            9, 4, 0, 0, 2, 7, 1, 2, 0,
            // bulk OUT 0x01 and bulk IN 0x82, 512 bytes
            7, 5, kOutEndpoint, 2, 0x00, 0x02, 0, 7, 5, kInEndpoint, 2, 0x00, 0x02, 0};
}

int UsbfsDevice::Control(FileKey file, const Urb& urb, std::vector<std::uint8_t>& answer) {
    const std::uint8_t requestType = urb.buffer[0];
    const std::uint8_t request = urb.buffer[1];
    const std::uint16_t value = Word(urb.buffer + 2);
    const std::uint16_t index = Word(urb.buffer + 4);
    const std::uint16_t length = Word(urb.buffer + 6);
    // drivers/usb/core/devio.c check_ctrlrecip: GET_DEVICE_ID to a printer-class alternate
    // setting passes whoever holds the interface; other requests to the interface (or to one
    // of its endpoints) need it claimed, implicitly if need be.
    const bool deviceIdRequest = requestType == 0xA1 && request == 0 && index == 0;
    if ((requestType & 0x60) != 0x40 && !deviceIdRequest) {
        const unsigned recipient = requestType & 0x1F;
        const unsigned target = index & 0xFF;
        if (recipient == 1) {
            if (target >= 32) {
                return -EINVAL;
            }
            if (target != 0) {
                return -ENOENT;
            }
        }
        if (recipient == 2 && (target & 0x7F) != 0 && target != kOutEndpoint &&
            target != kInEndpoint) {
            return -ENOENT;
        }
        if (recipient == 1 || (recipient == 2 && (target & 0x7F) != 0)) {
            const int claim = ClaimLocked(file);
            if (claim != 0) {
                return claim;
            }
        }
    }
    model_.NoteUsbfs("controlUrbs");
    if (requestType == 0xA1 && request == 0) {
        return model_.AnswerDeviceId(length, answer) < 0 ? -EPIPE : 0;
    }
    if (requestType == 0xA1 && request == 1) {
        answer = {0x18};  // GET_PORT_STATUS: selected, no error
        return 0;
    }
    if (requestType == 0x21 && request == 2) {
        return 0;  // SOFT_RESET
    }
    if (requestType == 0x80 && request == 0) {
        answer = {1, 0};  // GET_STATUS: self-powered
        return 0;
    }
    if (requestType == 0x80 && request == 6) {
        const std::vector<std::uint8_t> all = Descriptors(model_.Config());
        const unsigned type = value >> 8;
        const unsigned number = value & 0xFF;
        if (type == 1) {
            answer.assign(all.begin(), all.begin() + 18);
        } else if (type == 2 && number == 0) {
            answer.assign(all.begin() + 18, all.end());
        } else if (type == 3 && number == 0) {
            answer = {4, 3, 0x09, 0x04};
        } else if (type == 3 && number == kSerialIndex) {
            answer = {static_cast<std::uint8_t>(2 + 2 * serial_.size()), 3};
            for (const char c : serial_) {
                answer.push_back(static_cast<std::uint8_t>(c));
                answer.push_back(0);
            }
        } else {
            return -EPIPE;
        }
        return 0;
    }
    return -EPIPE;
}

}  // namespace simulator
