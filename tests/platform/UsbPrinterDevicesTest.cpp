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

    const std::string first = host.AddPrinter(printer);
    const std::string other = host.AddNonPrinterDevice();
    const std::string second = host.AddPrinter(printer);
    ASSERT_FALSE(first.empty() || other.empty() || second.empty()) << host.error();

    ASSERT_TRUE(platform::EnumerateUsbPrinterPaths(paths));
    EXPECT_EQ(paths, (std::vector<std::wstring>{Wide(first), Wide(second)}));

    ASSERT_TRUE(host.RemovePrinter(0));
    ASSERT_TRUE(platform::EnumerateUsbPrinterPaths(paths));
    EXPECT_EQ(paths, std::vector<std::wstring>{Wide(second)});
}

}  // namespace
