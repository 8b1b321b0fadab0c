#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "platform/LastError.h"
#include "platform/MessageQueue.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/DiscoveryWorker.h"
#include "updater/UpdaterMessages.h"

using namespace updater_test;

#include "tests/AllocationFaults.h"

namespace {

// The shipped description files lie beside the test program, which is the worker's default.
const char* const kKestrel200 = "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;";
const char* const kHeron10 = "MFG:Orvane;MDL:Heron 10;VER:3.0.1.0;PHD:HR;";

// Writes text into the pipe as its reader makes room; fails when nothing is read for a minute.
void Feed(int fifo, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        pollfd ready{fifo, POLLOUT, 0};
        ASSERT_EQ(poll(&ready, 1, 60000), 1) << "the worker stopped reading";
        const ssize_t written = write(fifo, text.data() + done, text.size() - done);
        ASSERT_GT(written, 0);
        done += static_cast<std::size_t>(written);
    }
}

class DiscoveryWorkerTest : public ::testing::Test {
protected:
    void Start(DiscoveryWorker& worker) {
        ASSERT_TRUE(worker.SetWindow(&queue_));
        worker.Start();
    }
    // Waits for the run and checks that exactly one WM_PRINTERS_FOUND (1, 0) came.
    void Finish(DiscoveryWorker& worker) {
        platform::Message m;
        ASSERT_TRUE(queue_.Take(m, std::chrono::seconds(120)));
        EXPECT_EQ(std::tuple(m.message, m.wParam, m.lParam),
                  std::tuple(WM_PRINTERS_FOUND, std::uintptr_t{1}, std::intptr_t{0}));
        EXPECT_TRUE(worker.Stop(10000) && queue_.Size() == 0);
    }
    void Discover(DiscoveryWorker& worker) { Start(worker), Finish(worker); }

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

// With no printer, one message and an empty list; a second run releases the first run's
// printers before finding them again.
TEST_F(DiscoveryWorkerTest, RunsFindThePrintersOfTheirTime) {
    DiscoveryWorker worker;
    platform::SetLastError(0);
    EXPECT_FALSE(worker.SetWindow(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    Discover(worker);
    EXPECT_TRUE(worker.GetPrinters().empty());

    host_.AddPrinter(Config(kKestrel200));
    host_.AddPrinter(Config(kHeron10));
    Discover(worker);
    const std::vector<std::string> first = Found(worker);
    ASSERT_EQ(first, (std::vector<std::string>{"1.2.0.0 Kestrel 200 1", "3.0.1.0 Heron 10 0"}));
    const std::uint64_t opensAfterFirst = transport_test::Opens(host_, 0);

    // The first run's ports are exclusive: the second run finds both printers again only if it
    // closed them first.
    Discover(worker);
    EXPECT_EQ(Found(worker), first);
    EXPECT_GT(transport_test::Opens(host_, 0), opensAfterFirst);
}

TEST_F(DiscoveryWorkerTest, AnErrorEscapingTheFinderStillSendsTheMessage) {
#ifdef REFLASHER_NO_ALLOCATION_FAULTS
    GTEST_SKIP() << "no allocation faults under ThreadSanitizer";
#else
    DiscoveryWorker worker;
    // The run's copy of the directory is the only allocation of its size.
    const std::wstring directory(3001, L'd');
    worker.SetDirectory(directory);
    allocation_faults::FailNext((directory.size() + 1) * sizeof(wchar_t), false);
    Discover(worker);
    EXPECT_EQ(allocation_faults::size.load(), 0u);
    EXPECT_TRUE(worker.GetPrinters().empty());
#endif
}

// Wend.xml is a pipe that the test fills, with a long comment after the XML declaration: once
// more than the pipe holds has gone in, the worker is inside the parse of the descriptions, with
// the printer's port closed after reading its ID.
TEST_F(DiscoveryWorkerTest, PrinterTakenOrForcedStopWhileTheDescriptionsAreParsed) {
    host_.AddPrinter(Config(kKestrel200));
    const std::filesystem::path shipped(platform::GetModuleDirectory());
    std::ostringstream text;
    text << std::ifstream(shipped / "Wend.xml").rdbuf();
    const std::string descriptions = text.str();
    const std::size_t declarationEnd = descriptions.find("?>") + 2;
    const std::string head =
        descriptions.substr(0, declarationEnd) + "<!--" + std::string(256 << 10, ' ');
    const std::string tail = "-->" + descriptions.substr(declarationEnd);

    for (const bool takePrinter : {true, false}) {
        SCOPED_TRACE(takePrinter ? "printer taken" : "stopped by force");
        const std::string dir = MakeTempDir();
        std::filesystem::copy_file(shipped / "WendIDs.xml", dir + "/WendIDs.xml");
        ASSERT_EQ(mkfifo((dir + "/Wend.xml").c_str(), 0600), 0);
        const int fifo = open((dir + "/Wend.xml").c_str(), O_RDWR | O_NONBLOCK);
        ASSERT_GE(fifo, 0);

        DiscoveryWorker worker;
        worker.SetDirectory(Wide(dir));
        Start(worker);
        ASSERT_NO_FATAL_FAILURE(Feed(fifo, head));
        if (takePrinter) {
            // Identified, but held by another program by the time the worker opens it.
            AttachedPrinter holder(MakeIdentified(transport_test::PathOf(host_, 0), {}));
            ASSERT_TRUE(holder.Open());
            PrinterStatusRecord status;  // reading takes the interface
            ASSERT_TRUE(!transport_test::Libusb() || holder.ReadStatus(status));
            ASSERT_NO_FATAL_FAILURE(Feed(fifo, tail));
            close(fifo);
            Finish(worker);
            EXPECT_TRUE(worker.GetPrinters().empty());
        } else {
            // The stop lands in the parse's next read of the pipe; the process goes on, and a
            // new run finds the printer.
            EXPECT_FALSE(worker.Stop(1));
            close(fifo);
            EXPECT_TRUE(worker.Stop(10000));
            worker.SetDirectory(L"");
            Discover(worker);
            EXPECT_EQ(Found(worker), std::vector<std::string>{"1.2.0.0 Kestrel 200 1"});
        }
    }
}
