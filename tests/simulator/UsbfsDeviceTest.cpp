// The usbfs side of emulated printers, driven by the real libusb under umockdev's preload.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libusb.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <tuple>

#include "simulator/UmockdevPrinterHost.h"

namespace simulator {
namespace {

constexpr unsigned kTimeoutMs = 10000;
constexpr std::uint16_t kVendor = 0x04B8;

PrinterConfig Printer(std::uint16_t product, Answers answers = Answers::kAtOnce) {
    PrinterConfig config;
    config.deviceId = "MFG:Orvane;MDL:Wend " + std::to_string(product) + ";";
    config.idVendor = kVendor;
    config.idProduct = product;
    config.answers = answers;
    return config;
}

// One libusb context over the host's testbed; devices must be added before it is created.
class Usb {
public:
    Usb() { EXPECT_EQ(libusb_init(&context_), 0); }
    ~Usb() { libusb_exit(context_); }
    libusb_device_handle* Open(std::uint16_t product) {
        return libusb_open_device_with_vid_pid(context_, kVendor, product);
    }
    // Handles events until flag is set.
    void WaitFor(const int& flag) {
        while (flag == 0) {
            libusb_handle_events_completed(context_, nullptr);
        }
    }

private:
    libusb_context* context_ = nullptr;
};

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

int DeviceId(libusb_device_handle* handle, std::string& id) {
    unsigned char buffer[1024] = {};
    const int result =
        libusb_control_transfer(handle, 0xA1, 0, 0, 0, buffer, sizeof buffer, kTimeoutMs);
    if (result >= 2) {
        id.assign(reinterpret_cast<char*>(buffer) + 2, static_cast<std::size_t>(result - 2));
    }
    return result;
}

int Transfer(libusb_device_handle* handle, unsigned char endpoint, std::uint8_t* data, int size) {
    int done = 0;
    const int result = libusb_bulk_transfer(handle, endpoint, data, size, &done, kTimeoutMs);
    return result == 0 ? done : result;
}

struct Async {
    int done = 0;
    libusb_transfer_status status = LIBUSB_TRANSFER_COMPLETED;
    std::uint8_t record[12] = {};
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    ~Async() { libusb_free_transfer(transfer); }
    int SubmitIn(libusb_device_handle* handle) {
        libusb_fill_bulk_transfer(
            transfer, handle, 0x82, record, sizeof record,
            [](libusb_transfer* t) {
                auto* self = static_cast<Async*>(t->user_data);
                self->status = t->status;
                self->done = 1;
            },
            this, 0);
        return libusb_submit_transfer(transfer);
    }
};

TEST(UsbfsDeviceTest, DetachClaimAndReattachAsTheKernelDoes) {
    UmockdevPrinterHost host;
    ASSERT_EQ(host.AddPrinter(Printer(0x0202)), "/dev/usb/lp0");
    PrinterConfig held = Printer(0x0203);
    held.faults.push_back({});
    held.faults.back().kind = FaultKind::kHeld;
    ASSERT_EQ(host.AddPrinter(held), "/dev/usb/lp1");
    EXPECT_EQ(host.UsbfsPath(0), "/dev/bus/usb/001/002");
    Usb usb;
    libusb_device_handle* first = usb.Open(0x0202);
    libusb_device_handle* second = usb.Open(0x0202);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(libusb_get_device_address(libusb_get_device(first)), 2);

    // usblp holds the interface: GET_DEVICE_ID passes anyway (devio.c lets it through to a
    // printer-class interface), another class request to the interface does not.
    EXPECT_EQ(libusb_kernel_driver_active(first, 0), 1);
    std::string id;
    EXPECT_GT(DeviceId(first, id), 0);
    EXPECT_EQ(id, "MFG:Orvane;MDL:Wend 514;");
    unsigned char status = 0;
    EXPECT_LT(libusb_control_transfer(first, 0xA1, 1, 0, 0, &status, 1, kTimeoutMs), 0);
    EXPECT_EQ(libusb_claim_interface(first, 0), LIBUSB_ERROR_BUSY);

    // Detaching usblp takes its node away; the claim then holds against every other file.
    ASSERT_EQ(libusb_detach_kernel_driver(first, 0), 0);
    EXPECT_FALSE(Exists("/dev/usb/lp0"));
    ASSERT_EQ(libusb_claim_interface(first, 0), 0);
    EXPECT_EQ(libusb_control_transfer(first, 0xA1, 1, 0, 0, &status, 1, kTimeoutMs), 1);
    EXPECT_EQ(libusb_kernel_driver_active(second, 0), 0);
    EXPECT_EQ(libusb_claim_interface(second, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_detach_kernel_driver(second, 0), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_attach_kernel_driver(second, 0), LIBUSB_ERROR_BUSY);

    // Released and reattached, usblp is back on the lowest free minor.
    ASSERT_EQ(libusb_release_interface(first, 0), 0);
    EXPECT_EQ(libusb_attach_kernel_driver(first, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(second, 0), 1);
    EXPECT_EQ(host.DevicePath(0), "/dev/usb/lp0");
    const int fd = open("/dev/usb/lp0", O_RDWR);
    EXPECT_GE(fd, 0);
    close(fd);
    libusb_close(second);
    libusb_close(first);

    // Another program has claimed the held printer through usbfs.
    libusb_device_handle* taken = usb.Open(0x0203);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(libusb_kernel_driver_active(taken, 0), 0);
    EXPECT_EQ(libusb_detach_kernel_driver(taken, 0), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_claim_interface(taken, 0), LIBUSB_ERROR_BUSY);
    libusb_close(taken);

    const nlohmann::json usbfs = host.Transcript()["printers"][0]["usbfs"];
    EXPECT_EQ(std::make_tuple(usbfs["claims"], usbfs["refusedClaims"], usbfs["usblpDetaches"],
                              usbfs["usblpAttaches"], usbfs["releases"]),
              std::make_tuple(1, 3, 1, 1, 1));
}

// Each URB is one transfer at the time it is submitted; a printer that answers only with news
// keeps an IN URB pending until a command arrives, and unplugging it fails what is in flight.
TEST(UsbfsDeviceTest, EveryUrbIsOneTransferUntilThePrinterLeaves) {
    UmockdevPrinterHost host;
    ASSERT_FALSE(host.AddPrinter(Printer(0x0300, Answers::kOnNews)).empty());
    Usb usb;
    libusb_device_handle* handle = usb.Open(0x0300);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(libusb_set_auto_detach_kernel_driver(handle, 1), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);

    Async pending;
    ASSERT_EQ(pending.SubmitIn(handle), 0);
    ASSERT_TRUE(host.WaitForWaitingRead(0, std::chrono::seconds(10)));
    std::uint8_t start[12] = {0x38};
    EXPECT_EQ(Transfer(handle, 0x01, start, sizeof start), 12);
    usb.WaitFor(pending.done);
    EXPECT_EQ(pending.status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(pending.record[8], 1);  // stage 1 acknowledged

    std::uint8_t info[12] = {0x38, 0x01};
    EXPECT_EQ(Transfer(handle, 0x01, info, sizeof info), 12);
    std::uint8_t record[12] = {};
    EXPECT_EQ(Transfer(handle, 0x82, record, sizeof record), 12);
    EXPECT_EQ(record[8], 2);
    nlohmann::json printer = host.Transcript()["printers"][0];
    EXPECT_EQ(std::make_tuple(printer["inTransfers"], printer["usbfs"]["bulkInUrbs"],
                              printer["usbfs"]["bulkOutUrbs"], printer["usbfs"]["usblpDetaches"],
                              printer["opens"]),
              std::make_tuple(2, 2, 2, 1, 0));

    Async unplugged;
    ASSERT_EQ(unplugged.SubmitIn(handle), 0);
    ASSERT_TRUE(host.WaitForWaitingRead(0, std::chrono::seconds(10)));
    ASSERT_TRUE(host.RemovePrinter(0));
    usb.WaitFor(unplugged.done);
    EXPECT_EQ(unplugged.status, LIBUSB_TRANSFER_NO_DEVICE);
    EXPECT_EQ(Transfer(handle, 0x82, record, sizeof record), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(Exists(host.UsbfsPath(0)));
    libusb_close(handle);
}

// A printer that vanishes at a data transfer, or stops taking data until it is pulled, fails the
// transfer as a vanished device does.
TEST(UsbfsDeviceTest, DataFaultsEndInAVanishedDevice) {
    UmockdevPrinterHost host;
    for (const FaultKind kind : {FaultKind::kDisconnect, FaultKind::kStallWrite}) {
        PrinterConfig config = Printer(kind == FaultKind::kDisconnect ? 0x0600 : 0x0601);
        config.faults.push_back({});
        config.faults.back().kind = kind;
        config.faults.back().atDataByte = 0;
        config.faults.back().unplugAfterMs = 50;
        ASSERT_FALSE(host.AddPrinter(config).empty());
    }
    Usb usb;
    for (const std::uint16_t product : {0x0600, 0x0601}) {
        libusb_device_handle* handle = usb.Open(product);
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
        std::uint8_t header[12] = {0x38, 0x02, 0, 0, 10};
        std::uint8_t data[10] = {};
        EXPECT_EQ(Transfer(handle, 0x01, header, sizeof header), 12);
        EXPECT_EQ(Transfer(handle, 0x01, data, sizeof data), LIBUSB_ERROR_NO_DEVICE);
        EXPECT_EQ(Transfer(handle, 0x01, header, sizeof header), LIBUSB_ERROR_NO_DEVICE);
        libusb_close(handle);
    }
    EXPECT_FALSE(host.Present(0));
    EXPECT_FALSE(host.Present(1));
    EXPECT_FALSE(Exists(host.UsbfsPath(0)));
}

// A printer that restarts after a flash comes back at a new address with a fresh lp node.
TEST(UsbfsDeviceTest, RestartedPrintersComeBackAtANewAddress) {
    UmockdevPrinterHost host;
    PrinterConfig config = Printer(0x0400);
    config.deviceId = "MFG:A;MDL:B;VER:1.0.0.0;";
    config.restart = PrinterConfig::Restart::kYes;
    config.restartDelayMs = 50;
    ASSERT_FALSE(host.AddPrinter(config).empty());
    {
        Usb usb;
        libusb_device_handle* handle = usb.Open(0x0400);
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
        std::uint8_t commands[4][12] = {
            {0x38}, {0x38, 0x01, 0, 0, 0, 0, 0x10}, {0x38, 0x02, 0, 0, 6}};
        commands[3][0] = 0x38;
        commands[3][1] = 0x10;
        std::uint8_t image[6] = {0, 2, 0, 0, 0, 0};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Transfer(handle, 0x01, commands[i], 12), 12);
        }
        EXPECT_EQ(Transfer(handle, 0x01, image, sizeof image), 6);
        EXPECT_EQ(Transfer(handle, 0x01, commands[3], 12), 12);
        ASSERT_TRUE(host.WaitForPresence(0, false, std::chrono::seconds(10)));
        EXPECT_EQ(Transfer(handle, 0x01, commands[0], 12), LIBUSB_ERROR_NO_DEVICE);
        libusb_close(handle);
    }
    ASSERT_TRUE(host.WaitForPresence(0, true, std::chrono::seconds(10)));
    EXPECT_EQ(host.UsbfsPath(0), "/dev/bus/usb/001/003");
    EXPECT_EQ(host.DevicePath(0), "/dev/usb/lp0");
    Usb usb;
    libusb_device_handle* handle = usb.Open(0x0400);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(libusb_get_device_address(libusb_get_device(handle)), 3);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);
    std::string id;
    EXPECT_GT(DeviceId(handle, id), 0);
    EXPECT_EQ(id, "MFG:A;MDL:B;VER:2.0.0.0;");
    libusb_close(handle);
}

TEST(UsbfsDeviceTest, TheProbeDetachesReadsTheIdAndReattaches) {
    UmockdevPrinterHost host;
    ASSERT_FALSE(host.AddPrinter(Printer(0x0500)).empty());
    PrinterConfig silent = Printer(0x0501);
    silent.faults.push_back({});
    silent.faults.back().kind = FaultKind::kNoDeviceId;
    ASSERT_FALSE(host.AddPrinter(silent).empty());
    const auto probe = [](const char* pid, int& status) {
        const std::string command = std::string(LIBUSB_PROBE) + " --vid 04b8 --pid " + pid;
        FILE* pipe = popen(command.c_str(), "r");
        char line[4096] = {};
        const bool read = pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr;
        status = pipe != nullptr ? pclose(pipe) : -1;
        return read ? nlohmann::json::parse(line) : nlohmann::json();
    };
    int status = -1;
    const nlohmann::json good = probe("0500", status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(good, nlohmann::json::parse(R"({"opened": true, "detached": true, "claimed": true,
        "deviceId": "MFG:Orvane;MDL:Wend 1280;", "error": null})"));
    EXPECT_EQ(host.DevicePath(0), "/dev/usb/lp0");
    EXPECT_TRUE(Exists("/dev/usb/lp0"));
    const nlohmann::json bad = probe("0501", status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(std::make_tuple(bad["claimed"], bad["deviceId"], bad["error"]),
              std::make_tuple(nlohmann::json(true), nlohmann::json(nullptr),
                              nlohmann::json("GET_DEVICE_ID: LIBUSB_ERROR_PIPE")));
}

}  // namespace
}  // namespace simulator
