#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "platform/LastError.h"
#include "platform/MessageQueue.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/DiscoveryWorker.h"
#include "updater/UpdaterMessages.h"

using namespace updater_test;

namespace {

// The shipped description files lie beside the test program, which is the worker's default.
const char* const kKestrel200 = "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;";
const char* const kHeron10 = "MFG:Orvane;MDL:Heron 10;VER:3.0.1.0;PHD:HR;";

class DiscoveryWorkerTest : public ::testing::Test {
protected:
    // Runs discovery once and checks that exactly one WM_PRINTERS_FOUND (1, 0) came.
    void Discover(DiscoveryWorker& worker) {
        ASSERT_TRUE(worker.SetWindow(&queue_));
        worker.Start();
        platform::Message m;
        ASSERT_TRUE(queue_.Take(m, std::chrono::seconds(120)));
        EXPECT_EQ(m.message, WM_PRINTERS_FOUND);
        EXPECT_EQ(m.wParam, 1u);
        EXPECT_EQ(m.lParam, 0);
        EXPECT_TRUE(worker.Stop(10000));
        EXPECT_EQ(queue_.Size(), 0u);
    }

    // "version short name reboot" for each printer found.
    static std::vector<std::string> Found(DiscoveryWorker& worker) {
        std::vector<std::string> found;
        for (AttachedPrinter* printer : worker.GetPrinters()) {
            std::string version, name;
            EXPECT_TRUE(printer->GetFirmwareVersion(version) && printer->GetShortName(name));
            found.push_back(version + " " + name + " " + std::to_string(printer->RequiresReboot()));
        }
        return found;
    }

    simulator::UmockdevPrinterHost host_;
    platform::MessageQueue queue_;
};

}  // namespace

TEST_F(DiscoveryWorkerTest, NoPrinterGivesOneMessageAndAnEmptyList) {
    DiscoveryWorker worker;
    Discover(worker);
    EXPECT_TRUE(worker.GetPrinters().empty());

    platform::SetLastError(0);
    EXPECT_FALSE(worker.SetWindow(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
}

TEST_F(DiscoveryWorkerTest, ListsOpenedKnownPrintersInOrderAndLeavesOthersOut) {
    host_.AddPrinter(Config(kKestrel200));
    simulator::PrinterConfig held = Config(kHeron10);
    held.faults.push_back(MakeFault(simulator::FaultKind::kHeld));
    host_.AddPrinter(held);
    host_.AddPrinter(Config("MFG:Orvane;MDL:Kestrel 999;VER:1.0.0.0;"));
    host_.AddPrinter(Config(kHeron10));

    DiscoveryWorker worker;
    Discover(worker);
    EXPECT_EQ(Found(worker),
              (std::vector<std::string>{"1.2.0.0 Kestrel 200 1", "3.0.1.0 Heron 10 0"}));
    ASSERT_EQ(worker.GetPrinters().size(), 2u);
    EXPECT_EQ(std::wstring(worker.GetPrinters()[0]->GetDevicePath()), Wide(host_.DevicePath(0)));
    EXPECT_EQ(std::wstring(worker.GetPrinters()[1]->GetDevicePath()), Wide(host_.DevicePath(3)));
}

TEST_F(DiscoveryWorkerTest, SecondRunReleasesTheFirstRunsPrintersBeforeFindingThemAgain) {
    host_.AddPrinter(Config(kKestrel200));
    host_.AddPrinter(Config(kHeron10));
    DiscoveryWorker worker;
    Discover(worker);
    const std::vector<std::string> first = Found(worker);
    ASSERT_EQ(first.size(), 2u);
    const std::uint64_t opensAfterFirst = host_.Printer(0).Opens();

    // The first run's ports are exclusive: the second run finds both printers again only if it
    // closed them first.
    Discover(worker);
    EXPECT_EQ(Found(worker), first);
    EXPECT_GT(host_.Printer(0).Opens(), opensAfterFirst);
}

TEST_F(DiscoveryWorkerTest, DirectoryOverrideReplacesTheProgramFolder) {
    host_.AddPrinter(Config(kKestrel200));
    DiscoveryWorker worker;
    worker.SetDirectory(Wide(MakeTempDir()) + L"/");
    Discover(worker);
    EXPECT_TRUE(worker.GetPrinters().empty());
}
