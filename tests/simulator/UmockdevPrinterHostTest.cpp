// Runs with the emulation's preload libraries: the device calls below reach the emulated nodes.
#include "simulator/UmockdevPrinterHost.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libudev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <tuple>

#include "platform/UsbPrinterIoctl.h"

namespace simulator {
namespace {

std::string Attribute(udev_device* device, const char* name) {
    const char* value = device != nullptr ? udev_device_get_sysattr_value(device, name) : nullptr;
    return value != nullptr ? value : "";
}

// What an enumeration of usbmisc devices sees, as the device layer looks: by device node,
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
        if (device == nullptr) {
            continue;
        }
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
        const char* devnode = udev_device_get_devnode(device);
        nodes[devnode != nullptr ? devnode : "?"] =
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

void Command(int fd, std::uint32_t w0, std::uint32_t w1 = 0, std::uint32_t w2 = 0) {
    std::uint8_t bytes[12];
    const std::uint32_t words[3] = {w0, w1, w2};
    for (int i = 0; i < 12; ++i) {
        bytes[i] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
    }
    EXPECT_EQ(write(fd, bytes, sizeof bytes), 12);
}

PrinterConfig Printer(const std::string& deviceId, std::vector<Fault> faults = {}) {
    PrinterConfig config;
    config.deviceId = deviceId;
    config.faults = std::move(faults);
    return config;
}

Fault MakeFault(FaultKind kind) {
    Fault fault;
    fault.kind = kind;
    return fault;
}

TEST(UmockdevPrinterHostTest, PrintersAreUsbPrinterNodesThatTheModelAnswers) {
    UmockdevPrinterHost host;
    PrinterConfig first = Printer("MFG:Orvane;MDL:Wend 300;VER:1.0.0.7;");
    first.idVendor = 0x04B8;
    first.idProduct = 0x0202;
    first.serial = "XY42";
    ASSERT_EQ(host.AddPrinter(first), "/dev/usb/lp0");
    ASSERT_EQ(host.AddNonPrinterDevice(), "/dev/usb/lp1");
    ASSERT_EQ(host.AddPrinter(Printer("MFG:Orvane;MDL:Wend 100;")), "/dev/usb/lp2");
    EXPECT_EQ(host.PrinterCount(), 2u);
    EXPECT_EQ(host.DevicePath(1), "/dev/usb/lp2");

    const std::map<std::string, std::string> expected = {{"/dev/usb/lp0", "07 04b8:0202 XY42"},
                                                         {"/dev/usb/lp1", "ff 1209:0002 OTHER"},
                                                         {"/dev/usb/lp2", "07 1209:0001 SIM0002"}};
    EXPECT_EQ(Enumerate(), expected);

    // Every call on the node reaches its model (the device layer's tests check the answers).
    const int fd = open("/dev/usb/lp0", O_RDWR);
    ASSERT_GE(fd, 0);
    char id[1024] = {};
    EXPECT_EQ(ioctl(fd, LPIOC_GET_DEVICE_ID(sizeof id), id), 0);
    Command(fd, 0x38);
    std::uint8_t record[12] = {};
    EXPECT_EQ(read(fd, record, sizeof record), 12);
    close(fd);

    const nlohmann::json transcript = host.Transcript();
    ASSERT_EQ(transcript["printers"].size(), 2u);
    const nlohmann::json& lp0 = transcript["printers"][0];
    EXPECT_EQ(std::make_tuple(lp0["devicePath"], lp0["opens"], lp0["deviceIdQueries"],
                              lp0["statusReads"], lp0["commands"][0]["name"]),
              std::make_tuple("/dev/usb/lp0", 1, 1, 1, "StartCommand"));
    EXPECT_EQ(transcript["printers"][1]["opens"], 0);
}

TEST(UmockdevPrinterHostTest, VanishedAndRemovedPrintersLeaveTheBus) {
    UmockdevPrinterHost host;
    Fault disconnect = MakeFault(FaultKind::kDisconnect);
    disconnect.atDataByte = 0;
    ASSERT_FALSE(host.AddPrinter(Printer("MFG:A;MDL:B;", {disconnect})).empty());
    ASSERT_FALSE(host.AddPrinter(Printer("MFG:A;MDL:C;")).empty());

    const int fd = open("/dev/usb/lp0", O_RDWR);
    ASSERT_GE(fd, 0);
    Command(fd, 0x238, 10);
    const std::uint8_t data[10] = {};
    EXPECT_EQ(write(fd, data, sizeof data), -1);
    EXPECT_EQ(errno, ENODEV);
    std::uint8_t record[12];
    EXPECT_EQ(read(fd, record, sizeof record), -1);
    EXPECT_EQ(errno, ENODEV);
    close(fd);
    EXPECT_EQ(open("/dev/usb/lp0", O_RDWR), -1);
    EXPECT_EQ(Enumerate().count("/dev/usb/lp0"), 0u);

    // Descriptors already open fail from the unplug on.
    const int open1 = open("/dev/usb/lp1", O_RDWR);
    ASSERT_GE(open1, 0);
    EXPECT_TRUE(host.RemovePrinter(1));
    EXPECT_FALSE(host.RemovePrinter(2));
    char id[1024];
    EXPECT_EQ(ioctl(open1, LPIOC_GET_DEVICE_ID(sizeof id), id), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(read(open1, record, sizeof record), -1);
    EXPECT_EQ(errno, ENODEV);
    close(open1);
    EXPECT_EQ(open("/dev/usb/lp1", O_RDWR), -1);
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_EQ(host.Transcript()["printers"].size(), 2u);
}

// After EndCommand of a flash the printer leaves and comes back on the lowest free node with the
// new version; one that does not restart reports the new version at once.
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
    Command(fd, 0x38);
    Command(fd, 0x138, 0x00100000, 0);
    Command(fd, 0x238, 6);
    const std::uint8_t image[6] = {0, 2, 0, 0, 0, 0};
    EXPECT_EQ(write(fd, image, sizeof image), 6);
    Command(fd, 0x1038);
    ASSERT_TRUE(host.WaitForPresence(1, false, std::chrono::seconds(10)));
    std::uint8_t record[12];
    EXPECT_EQ(read(fd, record, sizeof record), -1);
    EXPECT_EQ(errno, ENODEV);
    close(fd);
    ASSERT_TRUE(host.WaitForPresence(1, true, std::chrono::seconds(10)));
    EXPECT_EQ(host.DevicePath(1), "/dev/usb/lp0");
    EXPECT_EQ(host.Printer(1).FirmwareVersion(), "2.0.0.0");
    const nlohmann::json transcript = host.Transcript()["printers"][1];
    EXPECT_EQ(
        std::make_tuple(transcript["devicePath"], transcript["restarts"], transcript["outcome"]),
        std::make_tuple("/dev/usb/lp0", 1, "flashed"));
    const int again = open("/dev/usb/lp0", O_RDWR);
    ASSERT_GE(again, 0);
    char id[1024] = {};
    EXPECT_EQ(ioctl(again, LPIOC_GET_DEVICE_ID(sizeof id), id), 0);
    EXPECT_STREQ(id + 2, "MFG:A;MDL:B;VER:2.0.0.0;");
    close(again);
}

}  // namespace
}  // namespace simulator
