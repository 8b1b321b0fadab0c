#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "device/PrinterPort.h"
#include "platform/LastError.h"
#include "platform/UsblpDeviceIdAnswer.h"
#include "tests/device/SimulatedPrinters.h"

namespace {

using device_test::Host;
using device_test::WithFault;
using device_test::WithId;
using simulator::FaultKind;
using simulator::LengthPrefix;
using simulator::PrinterConfig;

std::wstring AddPrinter(const PrinterConfig& config) {
    const std::string path = Host().AddPrinter(config);
    EXPECT_FALSE(path.empty()) << Host().error();
    return std::wstring(path.begin(), path.end());
}

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

TEST(PrinterPort, HeldDeviceCannotBeOpenedUntilReleased) {
    const std::wstring path = AddPrinter(WithId("MFG:Orvane;MDL:OP-A;"));
    {
        PrinterPort holder;
        ASSERT_TRUE(holder.Open(path.c_str()));
        PrinterPort second;
        EXPECT_FALSE(second.Open(path.c_str()));
        EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EBUSY))
            << "the driver refuses a second open before any lock is asked for";
        std::string text;
        EXPECT_FALSE(second.QueryDeviceId(text));
    }
    PrinterPort afterRelease;  // the holder's destruction closed the device
    EXPECT_TRUE(afterRelease.Open(path.c_str()));

    const std::wstring heldElsewhere = AddPrinter(WithFault(FaultKind::kHeld));
    PrinterPort refused;
    EXPECT_FALSE(refused.Open(heldElsewhere.c_str()));
}

TEST(PrinterPort, MovesBlocksAndReportsShortWrites) {
    PrinterConfig config = WithFault(FaultKind::kShortWrite);
    config.faults[0].atDataByte = 5;
    const std::wstring path = AddPrinter(config);
    PrinterPort port;
    ASSERT_TRUE(port.Open(path.c_str()));

    std::uint8_t command[12];
    std::uint32_t length = sizeof command;
    platform::SetLastError(0);
    EXPECT_FALSE(port.Write(nullptr, length));
    EXPECT_FALSE(port.Read(nullptr, length));
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);

    Command(command, 0x38, 0);  // start: acknowledged with stage 1
    ASSERT_TRUE(port.Write(command, length));
    EXPECT_EQ(length, 12u);
    // The driver read ahead at open: the first record is what the printer said before the
    // command; the acknowledgement comes with the next one.
    std::uint8_t status[12] = {};
    std::int32_t word;
    for (const std::int32_t expected : {simulator::kStatusIdle, simulator::kStatusStageDone}) {
        length = sizeof status;
        ASSERT_TRUE(port.Read(status, length));
        EXPECT_EQ(length, 12u);
        std::memcpy(&word, status, sizeof word);
        EXPECT_EQ(word, expected);
    }
    EXPECT_EQ(status[8], 1);

    Command(command, 0x238, 10);  // data header: 10 bytes follow
    length = sizeof command;
    ASSERT_TRUE(port.Write(command, length));
    const std::uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    length = sizeof data;
    EXPECT_TRUE(port.Write(data, length));
    EXPECT_EQ(length, 5u);
}

TEST(PrinterPort, DeviceIdArrivesWithoutPrefixUpToFirstNul) {
    const std::string longest(platform::kUsblpDeviceIdMaxBytes, 'x');
    const std::string longId = "MFG:Orvane;MDL:" + std::string(290, 'm') + ";";
    const std::string nul("MFG:A;\0MDL:B;", 13);
    const struct {
        const char* name;
        std::string deviceId;
        LengthPrefix prefix;
        std::string expected;
    } cases[] = {
        {"big-endian prefix", "MFG:A;MDL:B;", LengthPrefix::kBig, "MFG:A;MDL:B;"},
        {"little-endian prefix", "MFG:A;MDL:B;", LengthPrefix::kLittle, "MFG:A;MDL:B;"},
        {"little-endian, length over 255", longId, LengthPrefix::kLittle, longId},
        {"longest the driver passes on", longest, LengthPrefix::kBig, longest},
        {"longest, little-endian", longest, LengthPrefix::kLittle, longest},
        {"longer: cut", longest + "y", LengthPrefix::kBig, longest},
        {"cut at the first NUL", nul, LengthPrefix::kBig, "MFG:A;"},
        {"NUL first: empty text", std::string("\0MFG:A;", 7), LengthPrefix::kBig, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = AddPrinter(WithId(c.deviceId, c.prefix));
        PrinterPort port;
        ASSERT_TRUE(port.Open(path.c_str()));
        std::string text = "old";
        EXPECT_TRUE(port.QueryDeviceId(text));
        EXPECT_EQ(text, c.expected);
    }
}

TEST(PrinterPort, FailedDeviceIdQueryKeepsText) {
    PrinterConfig failing = WithFault(FaultKind::kNoDeviceId);
    failing.faults[0].error = EIO;
    const struct {
        const char* name;
        PrinterConfig config;
        int error;
    } cases[] = {
        {"zero-byte ID", WithId(""), ENODATA},
        {"zero-byte ID, little-endian", WithId("", LengthPrefix::kLittle), ENODATA},
        {"failing request", failing, EIO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = AddPrinter(c.config);
        PrinterPort port;
        ASSERT_TRUE(port.Open(path.c_str()));
        std::string text = "kept";
        EXPECT_FALSE(port.QueryDeviceId(text));
        EXPECT_EQ(text, "kept");
        EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(c.error));
    }
}

// A failed read or write leaves the port open and usable; a zero-length packet is a 0-byte read
// that succeeds.
TEST(PrinterPort, FailedTransfersLeaveThePortUsable) {
    PrinterConfig empty = WithFault(FaultKind::kZeroLengthRead);
    std::uint8_t record[12];
    std::uint32_t length = sizeof record;
    PrinterPort emptyPort;
    ASSERT_TRUE(emptyPort.Open(AddPrinter(empty).c_str()));
    EXPECT_TRUE(emptyPort.Read(record, length));
    EXPECT_EQ(length, 0u);

    PrinterConfig failing = WithFault(FaultKind::kStatusReadError);
    simulator::Fault startFails;
    startFails.kind = FaultKind::kWriteError;
    startFails.command = "StartCommand";
    failing.faults.push_back(startFails);
    PrinterPort port;
    ASSERT_TRUE(port.Open(AddPrinter(failing).c_str()));
    length = sizeof record;
    EXPECT_FALSE(port.Read(record, length));
    EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(EIO));
    std::uint8_t command[12];
    Command(command, 0x38, 0);
    for (const bool accepted : {false, true}) {
        length = sizeof command;
        EXPECT_EQ(port.Write(command, length), accepted);
    }
    std::string text;
    EXPECT_TRUE(port.QueryDeviceId(text));
    EXPECT_EQ(text, "MFG:Orvane;MDL:OP-A;");
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
