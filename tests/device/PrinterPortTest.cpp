#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "device/PrinterPort.h"
#include "device/PrinterProtocol.h"
#include "platform/LastError.h"
#include "platform/PrinterTransport.h"
#include "platform/UsblpDeviceIdAnswer.h"
#include "tests/device/SimulatedPrinters.h"

using namespace device_test;
using platform::PrinterTransport;
using simulator::FaultKind;
using simulator::PrinterConfig;

// A 12-byte command record (the protocol and the host are little-endian).
static std::vector<std::uint8_t> Command(std::uint32_t word0, std::uint32_t word1 = 0) {
    std::vector<std::uint8_t> bytes(12, 0);
    std::memcpy(bytes.data(), &word0, 4);
    std::memcpy(bytes.data() + 4, &word1, 4);
    return bytes;
}

// The length after the transfer; after a failed one, -1 minus that length.
static long Write(PrinterPort& port, const std::vector<std::uint8_t>& bytes) {
    std::uint32_t length = bytes.size();
    return port.Write(bytes.data(), length) ? long(length) : -1 - long(length);
}
static long Read(PrinterPort& port, void* record, std::uint32_t length = 12) {
    return port.Read(record, length) ? long(length) : -1 - long(length);
}

// The tests below run through both transports; where they differ, the test says how.
class PrinterPortThrough : public ::testing::TestWithParam<PrinterTransport> {
protected:
    bool Libusb() const { return GetParam() == PrinterTransport::kLibusb; }
    std::wstring Add(const PrinterConfig& config) const { return AddPrinter(config, Libusb()); }
};

TEST(PrinterPort, ClosedPortRefusesWithoutTouchingArguments) {
    PrinterPort port, missing;
    platform::SetLastError(0);
    EXPECT_FALSE(port.Open(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    // A libusb path names interface 0 to 255; past that it names nothing.
    for (const auto& [path, error] : {std::pair{L"/dev/bus/usb/001/999:255", ENODEV},
                                      {L"/dev/bus/usb/001/999:256", ENOENT},
                                      {L"/dev/usb/lp99", ENOENT}}) {
        EXPECT_FALSE(missing.Open(path));
        EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(error));
    }
    for (PrinterPort* closed : {&port, &missing}) {
        char buffer[12] = {};
        EXPECT_EQ(Read(*closed, buffer), -13);
        EXPECT_EQ(Write(*closed, Command(0)), -13);
        std::string text = "kept";
        EXPECT_FALSE(closed->QueryDeviceId(text));
        EXPECT_EQ(text, "kept");
    }
}

// Through libusb the interface is taken from usblp with the first transfer; from then on, and
// through usblp from the open on, the device cannot be opened again until the port is gone.
TEST_P(PrinterPortThrough, MovesBlocksReportsShortWritesAndHoldsTheDevice) {
    PrinterConfig config = WithFault(FaultKind::kShortWrite);
    config.faults[0].atDataByte = 5;
    const std::wstring path = Add(config);
    {
        PrinterPort port, second;
        ASSERT_TRUE(port.Open(path.c_str()));
        std::uint32_t length = 12;
        platform::SetLastError(0);
        EXPECT_FALSE(port.Write(nullptr, length));
        EXPECT_FALSE(port.Read(nullptr, length));
        EXPECT_EQ(length, 12u);
        EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);

        EXPECT_EQ(Write(port, Command(kStartCommand)), 12);  // acknowledged with stage 1
        // usblp read ahead at open: the first record is what the printer said before the
        // command, the acknowledgement comes with the next one. libusb reads when asked.
        std::int32_t status[3] = {};
        for (const std::int32_t expected : Libusb() ? std::vector<std::int32_t>{kStatusStageDone}
                                                    : std::vector{kStatusIdle, kStatusStageDone}) {
            ASSERT_EQ(Read(port, status), 12);
            EXPECT_EQ(status[0], expected);
        }
        EXPECT_EQ(status[2] & 0xFF, 1);
        EXPECT_FALSE(second.Open(path.c_str()));
        EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EBUSY))
            << "the driver refuses a second open before any lock is asked for";
        ASSERT_EQ(Write(port, Command(kDataHeaderCommand, 10)), 12);  // 10 bytes follow
        EXPECT_EQ(Write(port, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 5);
    }
    PrinterPort afterRelease;  // the holder's destruction closed the device
    EXPECT_TRUE(afterRelease.Open(path.c_str()));
}

// The ID arrives without its prefix, up to the first NUL; a failed request keeps the text.
TEST_P(PrinterPortThrough, DeviceIdQueries) {
    // usblp passes on at most 1,021 bytes of ID; the class request itself carries 1,022.
    const std::string longest(platform::kUsblpDeviceIdMaxBytes + (Libusb() ? 1 : 0), 'x');
    const std::string longId = "MFG:Orvane;MDL:" + std::string(290, 'm') + ";";
    const auto little = simulator::LengthPrefix::kLittle;
    PrinterConfig failing = WithFault(FaultKind::kNoDeviceId);
    failing.faults[0].error = EIO;
    // The printer's ID, the text the port delivers and the error of a failed request.
    const std::tuple<PrinterConfig, std::string, int> cases[] = {
        {WithId("MFG:A;MDL:B;"), "MFG:A;MDL:B;", 0},  // big-endian prefix
        {WithId(longId, little), longId, 0},          // length over 255
        {WithId(longest), longest, 0},
        {WithId(longest, little), longest, 0},
        {WithId(longest + "y"), longest, 0},  // cut
        {WithId(std::string("MFG:A;\0MDL:B;", 13)), "MFG:A;", 0},
        // usblp turns any failure into EIO; the control transfer reports the printer's stall.
        {failing, "kept", Libusb() ? EPIPE : EIO},
    };
    for (const auto& [config, expected, error] : cases) {
        SCOPED_TRACE(expected.substr(0, 20));
        PrinterPort port;
        ASSERT_TRUE(port.Open(Add(config).c_str()));
        std::string text = "kept";
        EXPECT_EQ(port.QueryDeviceId(text), error == 0);
        EXPECT_EQ(text, expected);
        EXPECT_EQ(error == 0 ? 0 : platform::GetLastError(), static_cast<std::uint32_t>(error));
        Host().RemovePrinter(Host().PrinterCount() - 1);  // usblp has 16 minors
    }
}

// A failed read leaves the port open and usable; a zero-length packet is a 0-byte read that
// succeeds.
TEST_P(PrinterPortThrough, FailedReadLeavesThePortUsable) {
    std::uint8_t record[12];
    PrinterPort emptyPort, port;
    ASSERT_TRUE(emptyPort.Open(Add(WithFault(FaultKind::kZeroLengthRead)).c_str()));
    EXPECT_EQ(Read(emptyPort, record), 0);
    ASSERT_TRUE(port.Open(Add(WithFault(FaultKind::kStatusReadError)).c_str()));
    EXPECT_LT(Read(port, record), 0);
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EIO));
    EXPECT_EQ(Write(port, Command(kStartCommand)), 12);
}

INSTANTIATE_TEST_SUITE_P(Transports, PrinterPortThrough,
                         ::testing::Values(PrinterTransport::kUsblp, PrinterTransport::kLibusb),
                         [](const auto& info) {
                             return std::string(platform::PrinterTransportName(info.param));
                         });

// Through libusb the port takes the interface from usblp with its first transfer, no other
// program can take it meanwhile, and closing gives it back. A worker stopped by force inside a
// read must not leave libusb's locks behind: the transfer is cancelled on the way out and the
// port, and libusb, go on working.
TEST(PrinterPortLibusb, ClaimsTheInterfaceForItsLifeAndSurvivesAForcedStopInARead) {
    PrinterConfig config = WithId("MFG:Orvane;MDL:OP-A;");
    config.answers = simulator::Answers::kOnNews;
    const std::wstring path = AddPrinter(config, true);
    const std::size_t index = Host().PrinterCount() - 1;
    const std::string lp = Host().DevicePath(index);
    struct stat node {};
    {
        PrinterPort port, usblp;
        ASSERT_TRUE(port.Open(path.c_str()));
        std::string text;
        EXPECT_TRUE(port.QueryDeviceId(text));
        EXPECT_EQ(::stat(lp.c_str(), &node), 0) << "identification leaves usblp bound";
        pthread_t reader;
        auto read = [](void* port) -> void* {
            std::uint8_t record[12];
            Read(*static_cast<PrinterPort*>(port), record);
            return nullptr;
        };
        ASSERT_EQ(::pthread_create(&reader, nullptr, read, &port), 0);
        ASSERT_TRUE(Host().WaitForWaitingRead(index, std::chrono::seconds(10)));
        ASSERT_EQ(::pthread_cancel(reader), 0);
        void* result = nullptr;
        ASSERT_EQ(::pthread_join(reader, &result), 0);
        EXPECT_EQ(result, PTHREAD_CANCELED);
        ASSERT_EQ(Write(port, Command(kStartCommand)), 12);
        std::uint8_t record[12];
        EXPECT_EQ(Read(port, record), 12);
        EXPECT_NE(::stat(lp.c_str(), &node), 0);
        EXPECT_FALSE(usblp.Open(std::wstring(lp.begin(), lp.end()).c_str()));
    }
    EXPECT_TRUE(Host().Present(index));
    EXPECT_EQ(Host().Transcript()["printers"][index]["usbfs"]["usblpAttaches"], 1);
    const std::string back = Host().DevicePath(index);
    EXPECT_EQ(::stat(back.c_str(), &node), 0) << back;
}

static bool BlockedInRead(pid_t thread) {
    std::ifstream state("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    return state >> number && number == SYS_read;
}

static std::atomic<int> signalsCaught{0};

// A FIFO stands in for a device whose ID request fails (ENOTTY) and whose reads block.
TEST(PrinterPort, ReadWaitsForDataThroughSignalsAfterAFailedIdRequest) {
    const std::string fifo = ::testing::TempDir() + "port-fifo-" + std::to_string(getpid());
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int feed = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // keeps the FIFO open
    ::close(0);  // the program reads no input, and descriptor 0 is as good as any for the port
    PrinterPort port;
    ASSERT_TRUE(port.Open(std::wstring(fifo.begin(), fifo.end()).c_str()));
    std::string text;
    EXPECT_FALSE(port.QueryDeviceId(text));
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ENOTTY));

    struct sigaction action = {}, previous = {};
    action.sa_handler = [](int) { ++signalsCaught; };  // no SA_RESTART: the read sees EINTR
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    std::atomic<pid_t> readerId{0};
    std::atomic<bool> readEnded{false};
    char received[8] = {};
    long length = 0;
    std::thread reader([&] {
        readerId = ::gettid();
        length = Read(port, received, sizeof received);
        readEnded = true;
    });
    while (!readEnded && (readerId == 0 || !BlockedInRead(readerId))) {
        std::this_thread::yield();
    }
    if (!readEnded) {
        ::pthread_kill(reader.native_handle(), SIGUSR1);
        while (signalsCaught == 0) {
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(::write(feed, "status", 6), 6);
    reader.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    ::close(feed);
    ::unlink(fifo.c_str());
    ASSERT_EQ(length, 6);
    EXPECT_EQ(std::string(received, length), "status");
}
