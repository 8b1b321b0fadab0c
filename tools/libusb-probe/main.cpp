// libusb_probe --vid X --pid Y: what a print system's USB backend does to a printer it probes.
// Finds the first device with that vendor and product id (hex), opens it, detaches the kernel
// driver if one is active, claims interface 0, asks GET_DEVICE_ID, releases the interface and
// reattaches the driver it detached. Prints one JSON line
//   {"opened": bool, "detached": bool|"error", "claimed": bool|"error",
//    "deviceId": "..."|null, "error": "..."|null}
// (error: the first failure, null without one) and exits 0 when it got the device ID, 1
// otherwise, 2 on a bad command line.
#include <libusb.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/IntegerText.h"

namespace {

constexpr unsigned kTimeoutMs = 5000;

// Hex digits, with or without 0x, for a 16-bit id.
bool ParseHex(const std::string& text, std::uint16_t& value) {
    const std::size_t digits =
        text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0 ? 2 : 0;
    std::int32_t parsed = 0;
    const bool hex =
        text.size() > digits && std::all_of(text.begin() + digits, text.end(),
                                            [](unsigned char c) { return std::isxdigit(c) != 0; });
    if (!hex || !platform::ParseIntegerText(text, parsed, 16) || parsed > 0xFFFF) {
        return false;
    }
    value = static_cast<std::uint16_t>(parsed);
    return true;
}

libusb_device_handle* Open(libusb_context* context, std::uint16_t vid, std::uint16_t pid,
                           int& result) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device_handle* handle = nullptr;
    result = LIBUSB_ERROR_NOT_FOUND;
    for (ssize_t i = 0; i < count && handle == nullptr; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) == 0 && descriptor.idVendor == vid &&
            descriptor.idProduct == pid) {
            result = libusb_open(list[i], &handle);
        }
    }
    if (count >= 0) {
        libusb_free_device_list(list, 1);
    }
    return handle;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    bool haveVid = false;
    bool havePid = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--vid") == 0) {
            haveVid = ParseHex(argv[i + 1], vid);
        } else if (std::strcmp(argv[i], "--pid") == 0) {
            havePid = ParseHex(argv[i + 1], pid);
        }
    }
    if (!haveVid || !havePid || argc != 5) {
        std::fprintf(stderr, "usage: libusb_probe --vid HEX --pid HEX\n");
        return 2;
    }
    nlohmann::json out = {{"opened", false},
                          {"detached", false},
                          {"claimed", false},
                          {"deviceId", nullptr},
                          {"error", nullptr}};
    const auto fail = [&out](const std::string& step, int code) {
        if (out["error"].is_null()) {
            out["error"] = step + ": " + libusb_error_name(code);
        }
    };
    libusb_context* context = nullptr;
    int result = libusb_init(&context);
    if (result != 0) {
        fail("init", result);
        std::cout << out.dump() << std::endl;
        return 1;
    }
    libusb_device_handle* handle = Open(context, vid, pid, result);
    if (handle == nullptr) {
        fail("open", result);
    } else {
        out["opened"] = true;
        bool detached = false;
        result = libusb_kernel_driver_active(handle, 0);
        if (result == 1) {
            result = libusb_detach_kernel_driver(handle, 0);
            detached = result == 0;
            out["detached"] = detached ? nlohmann::json(true) : nlohmann::json("error");
            if (!detached) {
                fail("detach", result);
            }
        } else if (result < 0) {
            fail("kernel driver", result);
        }
        result = libusb_claim_interface(handle, 0);
        if (result == 0) {
            out["claimed"] = true;
            unsigned char id[1024] = {};
            result = libusb_control_transfer(handle, 0xA1, 0, 0, 0, id, sizeof id, kTimeoutMs);
            if (result >= 2) {
                std::size_t length = static_cast<std::size_t>(id[0] << 8 | id[1]);
                length = std::min<std::size_t>(std::max<std::size_t>(length, 2),
                                               static_cast<std::size_t>(result));
                out["deviceId"] = std::string(reinterpret_cast<char*>(id) + 2, length - 2);
            } else {
                fail("GET_DEVICE_ID", result < 0 ? result : LIBUSB_ERROR_IO);
            }
            libusb_release_interface(handle, 0);
        } else {
            out["claimed"] = "error";
            fail("claim", result);
        }
        if (detached) {
            result = libusb_attach_kernel_driver(handle, 0);
            if (result != 0) {
                fail("attach", result);
            }
        }
        libusb_close(handle);
    }
    libusb_exit(context);
    std::cout << out.dump() << std::endl;
    return out["deviceId"].is_null() ? 1 : 0;
}
