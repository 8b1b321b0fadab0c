// Runs with the emulation's preload libraries: the device calls below, libusb's included, reach
// the emulated nodes.
#include "simulator/UmockdevPrinterHost.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libudev.h>
#include <libusb.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "platform/UsbPrinterIoctl.h"
#include "simulator/UsbfsDevice.h"
#include "tests/simulator/WireBytes.h"

namespace simulator {
namespace {

constexpr unsigned kTimeoutMs = 10000;
constexpr std::uint16_t kVendor = 0x04B8;

std::string Attribute(udev_device* device, const char* name) {
    const char* value = device != nullptr ? udev_device_get_sysattr_value(device, name) : nullptr;
    return value != nullptr ? value : "";
}

// What an enumeration of usbmisc devices sees: by device node,
// "<interface class> <idVendor>:<idProduct> <serial>".
std::map<std::string, std::string> Enumerate() {
    std::map<std::string, std::string> nodes;
    udev* context = udev_new();
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "usbmisc");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* device =
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
        nodes[udev_device_get_devnode(device)] =
            Attribute(udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface"),
                      "bInterfaceClass") +
            " " + Attribute(usb, "idVendor") + ":" + Attribute(usb, "idProduct") + " " +
            Attribute(usb, "serial");
        udev_device_unref(device);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    return nodes;
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

void Command(int fd, std::uint32_t w0, std::uint32_t w1 = 0, std::uint32_t w2 = 0) {
    const std::vector<std::uint8_t> bytes = CommandBytes(w0, w1, w2);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), 12);
}

// errno of a call on fd that must fail.
template <typename Call>
int Failure(Call call) {
    errno = 0;
    EXPECT_EQ(call(), -1);
    return errno;
}

// A data fault strikes at the first data byte; a stalled printer is pulled after 50 ms.
PrinterConfig Printer(const std::string& deviceId, std::uint16_t product = 0x0001,
                      std::optional<FaultKind> fault = std::nullopt) {
    PrinterConfig config;
    config.deviceId = deviceId, config.idVendor = kVendor, config.idProduct = product;
    if (fault) {
        config.faults.resize(1);
        config.faults[0].kind = *fault, config.faults[0].atDataByte = 0;
        config.faults[0].unplugAfterMs = 50;
    }
    return config;
}

// One libusb context over the host's testbed; devices must be added before it is created.
struct Usb {
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
    libusb_context* context_ = nullptr;
};

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
                static_cast<Async*>(t->user_data)->status = t->status;
                static_cast<Async*>(t->user_data)->done = 1;
            },
            this, 0);
        return libusb_submit_transfer(transfer);
    }
};

TEST(UmockdevPrinterHostTest, PrintersAreUsbPrinterNodesThatTheModelAnswers) {
    UmockdevPrinterHost host;
    PrinterConfig first = Printer("MFG:Orvane;MDL:Wend 300;VER:1.0.0.7;", 0x0202);
    first.serial = "XY42";
    ASSERT_EQ(host.AddPrinter(first), "/dev/usb/lp0");
    ASSERT_EQ(host.AddNonPrinterDevice(), "/dev/usb/lp1");
    ASSERT_EQ(host.AddPrinter(Printer("MFG:Orvane;MDL:Wend 100;")), "/dev/usb/lp2");
    EXPECT_EQ(host.PrinterCount(), 2u);
    const std::map<std::string, std::string> expected = {{"/dev/usb/lp0", "07 04b8:0202 XY42"},
                                                         {"/dev/usb/lp1", "ff 1209:0002 OTHER"},
                                                         {"/dev/usb/lp2", "07 04b8:0001 SIM0002"}};
    EXPECT_EQ(Enumerate(), expected);

    // Records the testbed cannot parse are refused with its own reason.
    PrinterConfig unrecordable = Printer("");
    unrecordable.serial = "A\nB";
    EXPECT_EQ(host.AddPrinter(unrecordable), "");
    EXPECT_EQ(host.error().find("cannot make"), std::string::npos) << host.error();
}

// A printer that vanishes at a data transfer, or stops taking data until it is pulled, leaves
// the bus through either node; descriptors still open fail from then on.
TEST(UmockdevPrinterHostTest, VanishedAndRemovedPrintersLeaveTheBus) {
    UmockdevPrinterHost host;
    ASSERT_FALSE(host.AddPrinter(Printer("MFG:A;MDL:B;", 1, FaultKind::kDisconnect)).empty());
    ASSERT_FALSE(host.AddPrinter(Printer("MFG:A;MDL:C;", 2)).empty());
    ASSERT_FALSE(host.AddPrinter(Printer("MFG:A;MDL:D;", 3, FaultKind::kDisconnect)).empty());
    ASSERT_FALSE(host.AddPrinter(Printer("MFG:A;MDL:E;", 4, FaultKind::kStallWrite)).empty());
    const int fd = open("/dev/usb/lp0", O_RDWR);
    ASSERT_GE(fd, 0);
    Command(fd, kDataHeaderCommand, 10);
    std::uint8_t data[12] = {};
    EXPECT_EQ(Failure([&] { return write(fd, data, 10); }), ENODEV);
    EXPECT_EQ(Failure([&] { return read(fd, data, 12); }), ENODEV);
    close(fd);
    Failure([] { return open("/dev/usb/lp0", O_RDWR); });

    const int open1 = open("/dev/usb/lp1", O_RDWR);
    ASSERT_GE(open1, 0);
    EXPECT_TRUE(host.RemovePrinter(1));
    EXPECT_FALSE(host.RemovePrinter(9));
    char id[1024];
    EXPECT_EQ(Failure([&] { return ioctl(open1, LPIOC_GET_DEVICE_ID(sizeof id), id); }), ENODEV);
    close(open1);

    Usb usb;
    for (const std::uint16_t product : {3, 4}) {
        libusb_device_handle* handle = usb.Open(product);
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
        const std::vector<std::uint8_t> header = CommandBytes(kDataHeaderCommand, 10);
        std::copy(header.begin(), header.end(), data);
        EXPECT_EQ(Transfer(handle, 0x01, data, 12), 12);
        EXPECT_EQ(Transfer(handle, 0x01, data, 10), LIBUSB_ERROR_NO_DEVICE);
        EXPECT_EQ(Transfer(handle, 0x01, data, 12), LIBUSB_ERROR_NO_DEVICE);
        libusb_close(handle);
        EXPECT_FALSE(Exists(host.UsbfsPath(product - 1)));
    }
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_EQ(host.Transcript()["printers"].size(), 4u);
}

// After EndCommand of a flash the printer leaves and comes back on the lowest free node and a
// new USB address, with the new version.
TEST(UmockdevPrinterHostTest, RestartingPrintersComeBackOnTheLowestFreeNode) {
    UmockdevPrinterHost host;
    PrinterConfig restarting = Printer("MFG:A;MDL:B;VER:1.0.0.0;");
    restarting.restart = PrinterConfig::Restart::kYes;
    restarting.restartDelayMs = 50;
    ASSERT_EQ(host.AddPrinter(Printer("MFG:A;MDL:C;")), "/dev/usb/lp0");
    ASSERT_EQ(host.AddPrinter(restarting), "/dev/usb/lp1");
    ASSERT_TRUE(host.RemovePrinter(0));

    const int fd = open("/dev/usb/lp1", O_RDWR);
    ASSERT_GE(fd, 0);
    Command(fd, kStartCommand);
    Command(fd, kImageInfoCommand, kImageInfoWord, 0);
    Command(fd, kDataHeaderCommand, 6);
    const std::uint8_t image[6] = {0, 2, 0, 0, 0, 0};
    EXPECT_EQ(write(fd, image, sizeof image), 6);
    Command(fd, kEndCommand);
    ASSERT_TRUE(host.WaitForPresence(1, false, std::chrono::seconds(10)));
    std::uint8_t record[12];
    EXPECT_EQ(Failure([&] { return read(fd, record, sizeof record); }), ENODEV);
    close(fd);
    ASSERT_TRUE(host.WaitForPresence(1, true, std::chrono::seconds(10)));
    const nlohmann::json transcript = host.Transcript()["printers"][1];
    EXPECT_EQ(std::make_tuple(transcript["devicePath"], transcript["restarts"],
                              transcript["outcome"], host.UsbfsPath(1)),
              std::make_tuple("/dev/usb/lp0", 1, "flashed", "/dev/bus/usb/001/004"));
}

TEST(UsbfsDeviceTest, DetachClaimAndReattachAsTheKernelDoes) {
    UmockdevPrinterHost host;
    ASSERT_EQ(host.AddPrinter(Printer("MFG:Orvane;MDL:Wend 514;", 0x0202)), "/dev/usb/lp0");
    EXPECT_EQ(host.UsbfsPath(0), "/dev/bus/usb/001/002");
    Usb usb;
    libusb_device_handle* first = usb.Open(0x0202);
    libusb_device_handle* second = usb.Open(0x0202);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(libusb_get_device_address(libusb_get_device(first)), 2);
    // Descriptors and the serial as a control transfer asks for them.
    const std::vector<std::uint8_t> descriptors = UsbfsDevice::Descriptors(Printer("", 0x0202));
    unsigned char answer[1024] = {};
    ASSERT_EQ(libusb_get_descriptor(first, LIBUSB_DT_CONFIG, 0, answer, 64), 32);
    EXPECT_TRUE(std::equal(descriptors.begin() + 18, descriptors.end(), answer));
    ASSERT_EQ(libusb_get_descriptor(first, LIBUSB_DT_DEVICE, 0, answer, 64), 18);
    EXPECT_TRUE(std::equal(descriptors.begin(), descriptors.begin() + 18, answer));
    EXPECT_EQ(answer[16], 3) << "iSerialNumber";
    EXPECT_EQ(libusb_get_string_descriptor_ascii(first, 3, answer, 64), 7);
    EXPECT_STREQ(reinterpret_cast<char*>(answer), "SIM0001");

    // usblp holds the interface: a class request other than GET_DEVICE_ID (devio.c lets that
    // through to a printer-class interface) is refused.
    EXPECT_EQ(libusb_kernel_driver_active(first, 0), 1);
    EXPECT_LT(libusb_control_transfer(first, 0xA1, 1, 0, 0, answer, 1, kTimeoutMs), 0);
    EXPECT_EQ(libusb_claim_interface(first, 0), LIBUSB_ERROR_BUSY);

    // Detaching usblp takes its node away; the claim then holds against every other file.
    ASSERT_EQ(libusb_detach_kernel_driver(first, 0), 0);
    ASSERT_EQ(libusb_claim_interface(first, 0), 0);
    EXPECT_EQ(libusb_control_transfer(first, 0xA1, 1, 0, 0, answer, 1, kTimeoutMs), 1);
    EXPECT_EQ(libusb_kernel_driver_active(second, 0), 0);
    EXPECT_EQ(libusb_claim_interface(second, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_detach_kernel_driver(second, 0), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_attach_kernel_driver(second, 0), LIBUSB_ERROR_BUSY);

    ASSERT_EQ(libusb_release_interface(first, 0), 0);
    EXPECT_EQ(libusb_attach_kernel_driver(first, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(second, 0), 1);
    libusb_close(second);
    libusb_close(first);

    const nlohmann::json usbfs = host.Transcript()["printers"][0]["usbfs"];
    EXPECT_EQ(std::make_tuple(usbfs["claims"], usbfs["refusedClaims"], usbfs["usblpDetaches"],
                              usbfs["usblpAttaches"], usbfs["releases"]),
              std::make_tuple(1, 3, 1, 1, 1));
}

// Each URB is one transfer at the time it is submitted; a printer that answers only with news
// keeps an IN URB pending until a command arrives, and unplugging it fails what is in flight.
TEST(UsbfsDeviceTest, EveryUrbIsOneTransferUntilThePrinterLeaves) {
    UmockdevPrinterHost host;
    PrinterConfig config = Printer("MFG:A;MDL:B;");
    config.answers = Answers::kOnNews;
    ASSERT_FALSE(host.AddPrinter(config).empty());
    Usb usb;
    libusb_device_handle* handle = usb.Open(1);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(libusb_set_auto_detach_kernel_driver(handle, 1), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);

    for (const std::uint32_t command : {kStartCommand, kImageInfoCommand}) {
        Async pending;
        ASSERT_EQ(pending.SubmitIn(handle), 0);
        ASSERT_TRUE(host.WaitForWaitingRead(0, std::chrono::seconds(10)));
        std::vector<std::uint8_t> bytes = CommandBytes(command);
        EXPECT_EQ(Transfer(handle, 0x01, bytes.data(), 12), 12);
        usb.WaitFor(pending.done);
        EXPECT_EQ(pending.status, LIBUSB_TRANSFER_COMPLETED);
        EXPECT_EQ(pending.record[8], command == kStartCommand ? 1 : 2);
    }
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
    libusb_close(handle);
}

TEST(UsbfsDeviceTest, TheProbeDetachesReadsTheIdAndReattaches) {
    UmockdevPrinterHost host;
    ASSERT_FALSE(host.AddPrinter(Printer("MFG:Orvane;MDL:Wend 1280;", 0x0500)).empty());
    ASSERT_FALSE(host.AddPrinter(Printer("", 0x0501, FaultKind::kNoDeviceId)).empty());
    // libusb-probe's exit status; out gets the JSON line it prints.
    const auto probe = [](const char* pid, nlohmann::json& out) {
        FILE* pipe = popen((std::string(LIBUSB_PROBE) + " --vid 04b8 --pid " + pid).c_str(), "r");
        char line[4096] = {};
        out = std::fgets(line, sizeof line, pipe) ? nlohmann::json::parse(line) : nlohmann::json();
        return WEXITSTATUS(pclose(pipe));
    };
    nlohmann::json out;
    EXPECT_EQ(probe("0500", out), 0);
    EXPECT_EQ(out, nlohmann::json::parse(R"({"opened": true, "detached": true, "claimed": true,
        "deviceId": "MFG:Orvane;MDL:Wend 1280;", "error": null})"));
    EXPECT_TRUE(Exists("/dev/usb/lp0"));
    EXPECT_EQ(probe("0x0501", out), 1);
    EXPECT_TRUE(out["claimed"] == true && out["deviceId"].is_null()) << out;
    EXPECT_EQ(out["error"], "GET_DEVICE_ID: LIBUSB_ERROR_PIPE");
    EXPECT_EQ(probe("05O1", out), 2) << "not hex";
}

}  // namespace
}  // namespace simulator
