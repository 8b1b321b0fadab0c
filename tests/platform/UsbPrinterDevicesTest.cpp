#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/PrinterTransport.h"
#include "platform/UsbPrinterDevices.h"
#include "simulator/UmockdevPrinterHost.h"

using platform::PrinterTransport;

static std::wstring Wide(const std::string& path) {
    return std::wstring(path.begin(), path.end());
}

static std::vector<std::wstring> PathsThrough(PrinterTransport transport) {
    platform::SelectPrinterTransport(transport);
    std::vector<std::wstring> paths = {L"stale entry"};
    EXPECT_TRUE(platform::EnumerateUsbPrinterPaths(paths));
    platform::SelectPrinterTransport(PrinterTransport::kAuto);
    return paths;
}

// One testbed per process: the steps build on each other.
TEST(EnumerateUsbPrinterPaths, ListsPrinterInterfacesOnlyInUdevOrderThroughEachTransport) {
    simulator::UmockdevPrinterHost host;
    simulator::PrinterConfig printer;
    printer.deviceId = "MFG:Orvane;MDL:A;";
    for (const PrinterTransport transport :
         {PrinterTransport::kAuto, PrinterTransport::kUsblp, PrinterTransport::kLibusb}) {
        EXPECT_TRUE(PathsThrough(transport).empty());
    }

    // udev lists by USB port, not by node name: lp0 sits on the last port here.
    printer.port = 5;
    const std::string first = host.AddPrinter(printer);
    const std::string other = host.AddNonPrinterDevice();
    const std::string notLp = host.AddNonPrinterDevice("07", "hiddev0");
    printer.port = 0;
    const std::string second = host.AddPrinter(printer);
    ASSERT_FALSE(first.empty() || other.empty() || notLp.empty() || second.empty()) << host.error();
    const std::vector<std::wstring> lps = {Wide(second), Wide(first)};
    const std::vector<std::wstring> usbfs = {Wide(host.UsbfsPath(1) + ":0"),
                                             Wide(host.UsbfsPath(0) + ":0")};
    EXPECT_EQ(PathsThrough(PrinterTransport::kUsblp), lps);
    // The suite runs as root: auto may open every usbfs node, and lists each printer once.
    for (const PrinterTransport transport : {PrinterTransport::kLibusb, PrinterTransport::kAuto}) {
        EXPECT_EQ(PathsThrough(transport), usbfs);
    }
    // access(2) asks for the real user, which may give up root for a moment: one who may not
    // open the usbfs nodes gets usblp's nodes through auto, unless libusb is chosen outright.
    ASSERT_EQ(setresuid(65534, 0, 0), 0);
    const std::vector<std::wstring> autoAsUser = PathsThrough(PrinterTransport::kAuto);
    const std::vector<std::wstring> libusbAsUser = PathsThrough(PrinterTransport::kLibusb);
    ASSERT_EQ(setresuid(0, 0, 0), 0);
    EXPECT_EQ(autoAsUser, lps);
    EXPECT_EQ(libusbAsUser, usbfs);

    std::vector<platform::UsbPrinterInterface> printers;
    ASSERT_TRUE(platform::ListUsbPrinterInterfaces(printers));
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[1].transport, PrinterTransport::kLibusb);
    EXPECT_EQ(printers[1].port + printers[1].driver, "1-5usblp");

    EXPECT_EQ(platform::UsbPortOf(L"/dev/usb/lp9"), "");
    EXPECT_EQ(platform::UsbPortOf(L"/dev/bus/usb/001/099:0"), "");

    ASSERT_TRUE(host.RemovePrinter(0));
    EXPECT_EQ(PathsThrough(PrinterTransport::kUsblp), std::vector<std::wstring>{Wide(second)});
    EXPECT_EQ(PathsThrough(PrinterTransport::kAuto), std::vector<std::wstring>{usbfs[0]});
}
