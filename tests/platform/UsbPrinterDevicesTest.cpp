#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/UsbPrinterDevices.h"
#include "simulator/UmockdevPrinterHost.h"

namespace {

std::wstring Wide(const std::string& path) {
    return std::wstring(path.begin(), path.end());
}

// One testbed per process: the steps build on each other.
TEST(EnumerateUsbPrinterPaths, ListsPrinterInterfacesOnlyInUdevOrder) {
    simulator::UmockdevPrinterHost host;
    simulator::PrinterConfig printer;
    printer.deviceId = "MFG:Orvane;MDL:A;";
    std::vector<std::wstring> paths = {L"stale entry"};
    ASSERT_TRUE(platform::EnumerateUsbPrinterPaths(paths));
    EXPECT_TRUE(paths.empty());

    // udev lists by USB port, not by node name: lp0 sits on the last port here.
    printer.port = 5;
    const std::string first = host.AddPrinter(printer);
    const std::string other = host.AddNonPrinterDevice();
    const std::string notLp = host.AddNonPrinterDevice("07", "hiddev0");
    printer.port = 0;
    const std::string second = host.AddPrinter(printer);
    ASSERT_FALSE(first.empty() || other.empty() || notLp.empty() || second.empty()) << host.error();

    ASSERT_TRUE(platform::EnumerateUsbPrinterPaths(paths));
    EXPECT_EQ(paths, (std::vector<std::wstring>{Wide(second), Wide(first)}));
    EXPECT_EQ(platform::UsbPortOf(Wide(first)), "1-5");
    EXPECT_EQ(platform::UsbPortOf(L"/dev/usb/lp9"), "");

    ASSERT_TRUE(host.RemovePrinter(0));
    ASSERT_TRUE(platform::EnumerateUsbPrinterPaths(paths));
    EXPECT_EQ(paths, std::vector<std::wstring>{Wide(second)});
}

}  // namespace
