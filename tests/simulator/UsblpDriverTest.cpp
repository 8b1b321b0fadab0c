#include "simulator/UsblpDriver.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <vector>

#include "simulator/Scheduler.h"
#include "tests/simulator/WireBytes.h"

namespace simulator {
namespace {

// A request's result, which may arrive later from another thread.
struct Result {
    std::shared_ptr<std::promise<ssize_t>> promise = std::make_shared<std::promise<ssize_t>>();
    std::shared_future<ssize_t> value = promise->get_future().share();
    UsblpDriver::Completion Callback() {
        return [p = promise](ssize_t v) { p->set_value(v); };
    }
    bool Done() const {
        return value.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    ssize_t Wait() const { return value.get(); }
};

struct Bench {
    explicit Bench(PrinterConfig config)
        : model(std::move(config)),
          driver(
              model, scheduler, [this] { ++vanished; }, nullptr) {}

    const void* Open(int flags = O_RDWR) {
        clients.push_back(std::make_unique<int>(0));
        driver.Connect(clients.back().get());
        openResult = driver.OpenResult(clients.back().get(), flags);
        return clients.back().get();
    }
    ssize_t Read(const void* client, std::uint8_t* buffer, std::size_t size) {
        Result result;
        driver.Read(client, buffer, size, result.Callback());
        return result.Wait();
    }
    ssize_t Write(const void* client, const std::vector<std::uint8_t>& bytes) {
        Result result;
        driver.Write(client, bytes.data(), bytes.size(), result.Callback());
        return result.Wait();
    }
    ssize_t Command(const void* client, std::uint32_t word, std::uint32_t w1 = 0) {
        return Write(client, CommandBytes(word, w1));
    }
    // The status word of one 12-byte read.
    std::int32_t Status(const void* client) {
        std::uint8_t record[12] = {};
        EXPECT_EQ(Read(client, record, 12), 12);
        return StatusWord(record);
    }

    Scheduler scheduler;
    PrinterModel model;
    std::atomic<int> vanished{0};
    UsblpDriver driver;
    std::vector<std::unique_ptr<int>> clients;
    int openResult = 0;
};

PrinterConfig Printer(Answers answers = Answers::kAtOnce, std::uint32_t busyPolls = 0) {
    PrinterConfig config;
    config.deviceId = "MFG:Orvane;MDL:Wend 300;VER:1.0.0.7;";
    config.answers = answers, config.busyPolls = busyPolls;
    return config;
}

TEST(UsblpDriverTest, NonBlockingReadsDoNotWait) {
    Bench bench(Printer(Answers::kOnNews));
    std::uint8_t record[12];
    // Nothing to say before a command: the queued IN transfer is still out.
    EXPECT_EQ(bench.Read(bench.Open(O_RDWR | O_NONBLOCK), record, 12), -EAGAIN);
}

// The read after a command shows what the printer said before it when the printer answers at
// once; a printer that answers only with news shows the status after the command.
TEST(UsblpDriverTest, ReadsReturnWhatTheQueuedTransferBrought) {
    Bench atOnce(Printer(Answers::kAtOnce, 1));
    const void* a = atOnce.Open();
    atOnce.Command(a, kStartCommand);
    EXPECT_EQ(atOnce.Status(a), kStatusIdle) << "answered at open, before the command";
    EXPECT_EQ(atOnce.Status(a), kStatusBusy);
    EXPECT_EQ(atOnce.Status(a), kStatusStageDone);

    Bench onNews(Printer(Answers::kOnNews, 1));
    const void* n = onNews.Open();
    Result pending;
    std::uint8_t record[12];
    onNews.driver.Read(n, record, 12, pending.Callback());
    EXPECT_FALSE(pending.Done()) << "no news yet: the read waits";
    onNews.Command(n, kStartCommand);
    EXPECT_EQ(pending.Wait(), 12);
    EXPECT_EQ(onNews.Status(n), kStatusStageDone);
    EXPECT_EQ(onNews.model.InTransfers(), 2u);
}

TEST(UsblpDriverTest, ShortDoubleAndEmptyReadsAndLongWrites) {
    PrinterConfig config = Printer();
    for (FaultKind kind :
         {FaultKind::kZeroLengthRead, FaultKind::kShortRecord, FaultKind::kDoubleRecord}) {
        config.faults.push_back({});
        config.faults.back().kind = kind, config.faults.back().atRead = config.faults.size();
    }
    Bench bench(config);
    const void* client = bench.Open();
    std::uint8_t buffer[32];
    EXPECT_EQ(bench.Read(client, buffer, 12), 0);
    EXPECT_EQ(bench.Read(client, buffer, 12), 6);
    // Two records in one transfer: two reads from the same buffer, one more transfer after them.
    EXPECT_EQ(bench.Read(client, buffer, 12), 12);
    EXPECT_EQ(bench.model.InTransfers(), 3u);
    EXPECT_EQ(bench.Read(client, buffer, 8), 8);
    EXPECT_EQ(bench.Read(client, buffer, 8), 4) << "the rest of the same buffer";
    EXPECT_EQ(bench.model.InTransfers(), 4u);
    EXPECT_EQ(bench.model.StatusReads(), 5u);
    // Writes go out in transfers of 8 KiB.
    bench.Command(client, kDataHeaderCommand, 20000);
    EXPECT_EQ(bench.Write(client, std::vector<std::uint8_t>(20000, 1)), 20000);
    EXPECT_EQ(bench.model.Transcript()["dataWrites"], nlohmann::json({8192, 8192, 3616}));
}

TEST(UsblpDriverTest, UnplugFailsWhatIsInFlightAndEverythingAfter) {
    PrinterConfig config = Printer(Answers::kOnNews);
    config.faults.push_back({});
    config.faults[0].kind = FaultKind::kStallWrite, config.faults[0].atDataByte = 100;
    Bench bench(config);
    const void* client = bench.Open();
    bench.Command(client, kStartCommand);
    bench.Status(client);
    bench.Command(client, kDataHeaderCommand, 4096);
    bench.Status(client);  // what the header brought; the next transfer waits for news
    Result write, read;
    const std::vector<std::uint8_t> data(4096, 1);
    std::uint8_t record[12];
    bench.driver.Write(client, data.data(), data.size(), write.Callback());
    bench.driver.Read(client, record, 12, read.Callback());
    EXPECT_FALSE(write.Done()) << "the printer stopped taking data";
    bench.driver.Unplug();
    EXPECT_EQ(write.Wait(), -ENODEV);
    EXPECT_EQ(read.Wait(), -ENODEV);
    std::uint8_t id[1024];
    EXPECT_EQ(bench.driver.DeviceId(client, id, sizeof id), -ENODEV);
    EXPECT_EQ(bench.Command(client, kEndCommand), -ENODEV);
    bench.Open();
    EXPECT_EQ(bench.openResult, -ENODEV);
    EXPECT_EQ(bench.vanished, 0) << "an unplug from outside is not reported back";
}

// What reaches the caller of LPIOC_GET_DEVICE_ID(len) for a printer's raw answer (the device
// layer's tests run the plain cases through the port).
TEST(UsblpDriverTest, DeviceIdIsClampedByTheBigEndianPrefix) {
    // Prefix, its fixed value, ID length, request, bytes copied (prefix included): a little-endian
    // 20 reads as 0x1600 and is clamped; a prefix below 2; a request smaller than the answer; an
    // answer shorter than its prefix says, where the bytes not sent keep what was there.
    for (const auto& [prefix, value, text, request, delivered] :
         {std::make_tuple(LengthPrefix::kLittle, 0, 20, 1024, 1023),
          {LengthPrefix::kFixed, 1, 20, 1024, 2},
          {LengthPrefix::kBig, 0, 20, 8, 8},
          {LengthPrefix::kFixed, 12, 6, 16, 12}}) {
        SCOPED_TRACE(value + 10 * request);
        PrinterConfig config = Printer();
        config.deviceId = std::string(text, 'x');
        config.lengthPrefix = prefix, config.prefixValue = value;
        Bench bench(config);
        std::vector<std::uint8_t> buffer(request, 0xEE);
        ASSERT_EQ(bench.driver.DeviceId(bench.Open(), buffer.data(), buffer.size()), 0);
        EXPECT_EQ(request - std::count(buffer.begin(), buffer.end(), 0xEE), delivered);
    }
}

}  // namespace
}  // namespace simulator
