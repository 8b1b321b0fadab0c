#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "device/PrinterPort.h"
#include "device/PrinterProtocol.h"
#include "platform/LastError.h"
#include "platform/PrinterTransport.h"
#include "platform/UsblpDeviceIdAnswer.h"
#include "tests/device/SimulatedPrinters.h"

namespace {

using device_test::Host;
using device_test::WithFault;
using device_test::WithId;
using platform::PrinterTransport;
using simulator::FaultKind;
using simulator::LengthPrefix;
using simulator::PrinterConfig;

// The port's path to a new printer through the given transport.
std::wstring AddPrinter(const PrinterConfig& config,
                        PrinterTransport transport = PrinterTransport::kUsblp) {
    std::string path = Host().AddPrinter(config);
    EXPECT_FALSE(path.empty()) << Host().error();
    if (transport == PrinterTransport::kLibusb) {
        path = Host().UsbfsPath(Host().PrinterCount() - 1) + ":0";
    }
    return std::wstring(path.begin(), path.end());
}

// The tests below run through both transports; where they differ, the test says how.
class PrinterPortThrough : public ::testing::TestWithParam<PrinterTransport> {
protected:
    bool Libusb() const { return GetParam() == PrinterTransport::kLibusb; }
    std::wstring Add(const PrinterConfig& config) const { return AddPrinter(config, GetParam()); }
};

void Command(std::uint8_t (&bytes)[12], std::uint32_t word0, std::uint32_t word1) {
    std::memset(bytes, 0, sizeof bytes);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(word0 >> (8 * i));
        bytes[4 + i] = static_cast<std::uint8_t>(word1 >> (8 * i));
    }
}

TEST(PrinterPort, ClosedPortRefusesWithoutTouchingArguments) {
    PrinterPort port;
    platform::SetLastError(0);
    EXPECT_FALSE(port.Open(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);

    PrinterPort missing;
    EXPECT_FALSE(missing.Open(L"/dev/usb/lp99"));
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ENOENT));

    for (PrinterPort* closed : {&port, &missing}) {
        char buffer[12] = {};
        std::uint32_t length = sizeof buffer;
        EXPECT_FALSE(closed->Read(buffer, length));
        EXPECT_FALSE(closed->Write(buffer, length));
        EXPECT_EQ(length, 12u);
        std::string text = "kept";
        EXPECT_FALSE(closed->QueryDeviceId(text));
        EXPECT_EQ(text, "kept");
    }
}

TEST_P(PrinterPortThrough, HeldDeviceCannotBeOpenedUntilReleased) {
    const std::wstring path = Add(WithId("MFG:Orvane;MDL:OP-A;"));
    {
        PrinterPort holder;
        ASSERT_TRUE(holder.Open(path.c_str()));
        if (Libusb()) {
            // The interface is taken from usblp with the first transfer.
            std::uint8_t record[12];
            std::uint32_t length = sizeof record;
            ASSERT_TRUE(holder.Read(record, length));
        }
        PrinterPort second;
        EXPECT_FALSE(second.Open(path.c_str()));
        EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EBUSY))
            << "the driver refuses a second open before any lock is asked for";
        std::string text;
        EXPECT_FALSE(second.QueryDeviceId(text));
    }
    PrinterPort afterRelease;  // the holder's destruction closed the device
    EXPECT_TRUE(afterRelease.Open(path.c_str()));
}

TEST_P(PrinterPortThrough, MovesBlocksAndReportsShortWrites) {
    PrinterConfig config = WithFault(FaultKind::kShortWrite);
    config.faults[0].atDataByte = 5;
    const std::wstring path = Add(config);
    PrinterPort port;
    ASSERT_TRUE(port.Open(path.c_str()));

    std::uint8_t command[12];
    std::uint32_t length = sizeof command;
    platform::SetLastError(0);
    EXPECT_FALSE(port.Write(nullptr, length));
    EXPECT_FALSE(port.Read(nullptr, length));
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);

    Command(command, kStartCommand, 0);  // acknowledged with stage 1
    ASSERT_TRUE(port.Write(command, length));
    EXPECT_EQ(length, 12u);
    // usblp read ahead at open: the first record is what the printer said before the command,
    // the acknowledgement comes with the next one. libusb reads when asked.
    std::uint8_t status[12] = {};
    std::int32_t word;
    const std::vector<std::int32_t> records =
        Libusb() ? std::vector<std::int32_t>{kStatusStageDone}
                 : std::vector<std::int32_t>{kStatusIdle, kStatusStageDone};
    for (const std::int32_t expected : records) {
        length = sizeof status;
        ASSERT_TRUE(port.Read(status, length));
        EXPECT_EQ(length, 12u);
        std::memcpy(&word, status, sizeof word);
        EXPECT_EQ(word, expected);
    }
    EXPECT_EQ(status[8], 1);

    Command(command, kDataHeaderCommand, 10);  // 10 bytes follow
    length = sizeof command;
    ASSERT_TRUE(port.Write(command, length));
    const std::uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    length = sizeof data;
    EXPECT_TRUE(port.Write(data, length));
    EXPECT_EQ(length, 5u);
}

// The ID arrives without its prefix, up to the first NUL; a failed request keeps the text.
TEST_P(PrinterPortThrough, DeviceIdQueries) {
    // usblp passes on at most 1,021 bytes of ID; the class request itself carries 1,022.
    const std::string longest(platform::kUsblpDeviceIdMaxBytes + (Libusb() ? 1 : 0), 'x');
    const std::string longId = "MFG:Orvane;MDL:" + std::string(290, 'm') + ";";
    PrinterConfig failing = WithFault(FaultKind::kNoDeviceId);
    failing.faults[0].error = EIO;
    const struct {
        const char* name;
        PrinterConfig config;
        std::string expected;
        int error = 0;
    } cases[] = {
        {"big-endian prefix", WithId("MFG:A;MDL:B;"), "MFG:A;MDL:B;"},
        {"little-endian, length over 255", WithId(longId, LengthPrefix::kLittle), longId},
        {"longest the driver passes on", WithId(longest), longest},
        {"longest, little-endian", WithId(longest, LengthPrefix::kLittle), longest},
        {"longer: cut", WithId(longest + "y"), longest},
        {"cut at the first NUL", WithId(std::string("MFG:A;\0MDL:B;", 13)), "MFG:A;"},
        // usblp turns any failure into EIO; the control transfer reports the printer's stall.
        {"failing request", failing, "kept", Libusb() ? EPIPE : EIO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = Add(c.config);
        PrinterPort port;
        ASSERT_TRUE(port.Open(path.c_str()));
        std::string text = "kept";
        EXPECT_EQ(port.QueryDeviceId(text), c.error == 0);
        EXPECT_EQ(text, c.expected);
        if (c.error != 0) {
            EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(c.error));
        }
        Host().RemovePrinter(Host().PrinterCount() - 1);  // usblp has 16 minors
    }
}

// A failed read or write leaves the port open and usable; a zero-length packet is a 0-byte read
// that succeeds.
TEST_P(PrinterPortThrough, FailedTransfersLeaveThePortUsable) {
    PrinterConfig empty = WithFault(FaultKind::kZeroLengthRead);
    std::uint8_t record[12];
    std::uint32_t length = sizeof record;
    PrinterPort emptyPort;
    ASSERT_TRUE(emptyPort.Open(Add(empty).c_str()));
    EXPECT_TRUE(emptyPort.Read(record, length));
    EXPECT_EQ(length, 0u);

    PrinterConfig failing = WithFault(FaultKind::kStatusReadError);
    simulator::Fault startFails;
    startFails.kind = FaultKind::kWriteError;
    startFails.command = "StartCommand";
    failing.faults.push_back(startFails);
    PrinterPort port;
    ASSERT_TRUE(port.Open(Add(failing).c_str()));
    length = sizeof record;
    EXPECT_FALSE(port.Read(record, length));
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EIO));
    std::uint8_t command[12];
    Command(command, kStartCommand, 0);
    for (const bool accepted : {false, true}) {
        length = sizeof command;
        EXPECT_EQ(port.Write(command, length), accepted);
    }
    std::string text;
    EXPECT_TRUE(port.QueryDeviceId(text));
    EXPECT_EQ(text, "MFG:Orvane;MDL:OP-A;");
}

INSTANTIATE_TEST_SUITE_P(Transports, PrinterPortThrough,
                         ::testing::Values(PrinterTransport::kUsblp, PrinterTransport::kLibusb),
                         [](const auto& info) {
                             return std::string(platform::PrinterTransportName(info.param));
                         });

std::uint8_t* StartCommand() {
    static std::uint8_t bytes[12];
    Command(bytes, kStartCommand, 0);
    return bytes;
}

// Through libusb the port takes the interface from usblp with its first transfer, no other
// program can take it meanwhile, and closing gives it back.
TEST(PrinterPortLibusb, ClaimsTheInterfaceForItsLifeAndGivesItBackToUsblp) {
    const std::wstring path = AddPrinter(WithId("MFG:Orvane;MDL:OP-A;"), PrinterTransport::kLibusb);
    const std::size_t index = Host().PrinterCount() - 1;
    const std::string lp = Host().DevicePath(index);
    struct stat node {};
    {
        PrinterPort port;
        ASSERT_TRUE(port.Open(path.c_str()));
        std::string text;
        EXPECT_TRUE(port.QueryDeviceId(text));
        EXPECT_EQ(::stat(lp.c_str(), &node), 0) << "identification leaves usblp bound";

        std::uint32_t length = 12;
        ASSERT_TRUE(port.Write(StartCommand(), length));
        EXPECT_NE(::stat(lp.c_str(), &node), 0);
        PrinterPort usblp;
        EXPECT_FALSE(usblp.Open(std::wstring(lp.begin(), lp.end()).c_str()));
        PrinterPort other;
        EXPECT_FALSE(other.Open(path.c_str()));
        EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EBUSY));
    }
    EXPECT_TRUE(Host().Present(index));
    EXPECT_EQ(Host().Transcript()["printers"][index]["usbfs"]["usblpAttaches"], 1);
    const std::string back = Host().DevicePath(index);
    EXPECT_EQ(::stat(back.c_str(), &node), 0) << back;
}

// A worker stopped by force inside a read must not leave libusb's locks behind: the transfer is
// cancelled on the way out and the port, and libusb, go on working.
TEST(PrinterPortLibusb, ForcedStopInsideAReadLeavesLibusbUsable) {
    PrinterConfig config = WithId("MFG:Orvane;MDL:OP-A;");
    config.answers = simulator::Answers::kOnNews;
    const std::wstring path = AddPrinter(config, PrinterTransport::kLibusb);
    PrinterPort port;
    ASSERT_TRUE(port.Open(path.c_str()));
    pthread_t reader;
    ASSERT_EQ(::pthread_create(
                  &reader, nullptr,
                  [](void* argument) -> void* {
                      std::uint8_t record[12];
                      std::uint32_t length = sizeof record;
                      static_cast<PrinterPort*>(argument)->Read(record, length);
                      return nullptr;
                  },
                  &port),
              0);
    ASSERT_TRUE(Host().WaitForWaitingRead(Host().PrinterCount() - 1, std::chrono::seconds(10)));
    ASSERT_EQ(::pthread_cancel(reader), 0);
    void* result = nullptr;
    ASSERT_EQ(::pthread_join(reader, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);

    std::uint32_t length = 12;
    ASSERT_TRUE(port.Write(StartCommand(), length));
    std::uint8_t record[12];
    length = sizeof record;
    ASSERT_TRUE(port.Read(record, length));
    EXPECT_EQ(length, 12u);
}

bool BlockedInRead(pid_t thread) {
    std::ifstream state("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    return state >> number && number == SYS_read;
}

std::atomic<int> signalsCaught{0};

// A FIFO stands in for a device whose ID request fails (ENOTTY) and whose reads block.
TEST(PrinterPort, ReadWaitsForDataThroughSignalsAfterAFailedIdRequest) {
    const std::string fifo = ::testing::TempDir() + "port-fifo-" + std::to_string(getpid());
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int feed = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // keeps the FIFO open
    // The program reads no input, and descriptor 0 is as good as any for the port.
    ::close(0);
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
    bool readOk = false;
    char received[8] = {};
    std::uint32_t length = sizeof received;
    std::thread reader([&] {
        readerId = ::gettid();
        readOk = port.Read(received, length);
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
    EXPECT_TRUE(readOk);
    EXPECT_EQ(std::string(received, length), "status");
}

}  // namespace
