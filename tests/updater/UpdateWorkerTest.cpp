#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "platform/LastError.h"
#include "platform/ManualClock.h"
#include "platform/MessageQueue.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/UpdateWorker.h"
#include "updater/UpdaterMessages.h"

using namespace updater_test;
using simulator::Fault;
using simulator::FaultKind;

namespace {

using Messages = std::vector<std::pair<std::uintptr_t, std::intptr_t>>;

class UpdateWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = MakeTempDir(); }

    FirmwareImage& Image(const std::vector<std::uint8_t>& bytes) {
        images_.push_back(std::make_unique<FirmwareImage>());
        const std::string path =
            WriteFile(dir_, "RVX2_" + std::to_string(images_.size()) + ".bin", bytes);
        EXPECT_TRUE(images_.back()->Load(Wide(path), false));
        return *images_.back();
    }

    // Every progress message up to the final one; any later one fails the empty-queue check.
    Messages Update(AttachedPrinter& printer, FirmwareImage& image) {
        UpdateWorker worker;
        EXPECT_TRUE(worker.SetWindow(&queue_));
        EXPECT_TRUE(worker.SetPrinter(&printer));
        EXPECT_TRUE(worker.SetImage(&image));
        worker.Start();
        Messages messages;
        for (;;) {
            platform::Message m;
            if (!queue_.Take(m, std::chrono::seconds(120))) {
                ADD_FAILURE() << "no final message";
                break;
            }
            EXPECT_EQ(m.message, WM_UPDATE_PROGRESS);
            messages.emplace_back(m.wParam, m.lParam);
            if (m.wParam == kProgressFinished || m.wParam == kProgressFinishedReboot ||
                m.wParam == kProgressNotStarted) {
                break;
            }
        }
        if (!messages.empty() && messages.back().first != kProgressNotStarted) {
            EXPECT_TRUE(worker.IsStarted()) << "the run must wait for Stop";
        }
        EXPECT_TRUE(worker.Stop(10000));
        EXPECT_FALSE(worker.IsStarted());
        EXPECT_EQ(queue_.Size(), 0u);
        return messages;
    }

    nlohmann::json Transcript(std::size_t i) { return host_.Printer(i).Transcript(); }

    static std::vector<std::string> CommandNames(const nlohmann::json& transcript) {
        std::vector<std::string> names;
        for (const auto& command : transcript["commands"]) {
            names.push_back(command["name"]);
        }
        return names;
    }

    simulator::UmockdevPrinterHost host_;
    platform::ManualClock clock_{1000};
    platform::ScopedClock scopedClock_{clock_};
    platform::MessageQueue queue_;
    std::string dir_;
    std::vector<std::unique_ptr<FirmwareImage>> images_;
};

constexpr std::uint32_t kPoll = UpdateWorker::kPollIntervalMs;

Fault NoAckAt(int stage) {
    return MakeFault(FaultKind::kNoAck, [stage](Fault& f) { f.stage = stage; });
}
Fault WrongStage(int stage, int reported = -1) {
    return MakeFault(FaultKind::kWrongStage,
                     [=](Fault& f) { f.stage = stage, f.reportedStage = reported; });
}
Fault StallAt(int read) {
    return MakeFault(FaultKind::kStallRead, [read](Fault& f) { f.atRead = read, f.ms = 20; });
}
Fault WriteFails(const char* command) {
    return MakeFault(FaultKind::kWriteError, [command](Fault& f) { f.command = command; });
}
Fault AtByte(FaultKind kind, std::int64_t byte) {
    return MakeFault(kind, [byte](Fault& f) { f.atDataByte = byte; });
}

const std::vector<std::string> kAllCommands = {"StartCommand", "ImageInfoCommand",
                                               "DataHeaderCommand", "EndCommand"};

}  // namespace

TEST_F(UpdateWorkerTest, PlainPrinterGetsTheWholeFileInFullChunks) {
    simulator::PrinterConfig config = Config();
    config.busyPolls = 2;
    auto printer = Attach(host_, config);
    const Messages messages = Update(*printer, Image(ImageBytes(8192)));

    EXPECT_EQ(messages, (Messages{{1, 0}, {5, 8192}, {6, 4096}, {6, 8192}, {3, 1}}));
    const nlohmann::json t = Transcript(0);
    EXPECT_EQ(CommandNames(t), kAllCommands);
    EXPECT_EQ(t["commands"][1]["words"][2], 8186);
    EXPECT_EQ(t["commands"][2]["words"][1], 8192);
    EXPECT_EQ(t["dataWrites"], nlohmann::json::array({4096, 4096}));
    EXPECT_EQ(t["outcome"], "flashed");
    EXPECT_EQ(t["firmwareVersion"], "1.5.0.3");
    EXPECT_EQ(clock_.Elapsed(), 3u * 2u * UpdateWorker::kPollIntervalMs);
}

TEST_F(UpdateWorkerTest, StrippingPrinterGetsTheFileWithoutItsVersionPrefix) {
    const std::vector<std::uint8_t> bytes = ImageBytes(8200);
    auto stripping = Attach(host_, Config(), {true, false, -1});
    const Messages messages = Update(*stripping, Image(bytes));
    EXPECT_EQ(messages, (Messages{{1, 0}, {5, 8200}, {6, 4096}, {6, 8192}, {6, 8196}, {3, 1}}));
    const nlohmann::json stripped = Transcript(0);
    EXPECT_EQ(stripped["commands"][1]["words"][2], 8194);
    EXPECT_EQ(stripped["commands"][2]["words"][1], 8196);
    EXPECT_EQ(stripped["dataWrites"], nlohmann::json::array({4096, 4096, 4}));

    // The same bytes from offset 4 sent whole to a plain printer give the same data.
    auto plain = Attach(host_, Config());
    Update(*plain, Image(std::vector<std::uint8_t>(bytes.begin() + 4, bytes.end())));
    EXPECT_EQ(Transcript(1)["dataSha256"], stripped["dataSha256"]);
}

TEST_F(UpdateWorkerTest, IdleAnswerPassesEveryStageAtOnce) {
    auto printer = Attach(host_, WithFaults({MakeFault(FaultKind::kIdleOnly)}));
    EXPECT_EQ(Update(*printer, Image(ImageBytes(10))).back(), (Messages::value_type{3, 1}));
    EXPECT_EQ(Transcript(0)["statusReads"], 3);
    EXPECT_EQ(clock_.Elapsed(), 0u);
}

// usblp reads ahead: the record the first read after a command returns was queued before it.
// Through usblp each row waits twice, once after reading the record usblp queued before the
// command away (the printer as a read on demand shows it, which the rules are written for), once
// straight after the command. Through libusb there is no queued record. The rules stay
// as they are; a printer that answered idle before the command passes stage 1 on that stale
// record whatever it does after it.
TEST_F(UpdateWorkerTest, WaitForStageRules) {
    struct Case {
        const char* name;
        std::vector<Fault> faults;
        std::uint32_t busyPolls;
        bool passes;
        std::uint32_t elapsedMs;  // on the driven clock
        bool passesOnStale;
        std::uint32_t staleElapsedMs = 0;
        std::uint32_t startTick = 1000;
    };
    const std::vector<Case> cases = {
        // Busy, then idle: idle no longer counts; the wait runs to its time limit.
        {"busy then idle", {NoAckAt(1)}, 3, false, 60500, true},
        // Busy from the start: the stale record is busy too.
        {"busy forever", {MakeFault(FaultKind::kBusyForever)}, 0, false, 60500, false, 60500},
        {"wrong stage", {WrongStage(1, 2)}, 0, false, 60500, true},
        {"acknowledged after busy", {}, 4, true, 2000, true},
        {"stalled read", {StallAt(2)}, 0, true, 0, true},
        {"read error", {MakeFault(FaultKind::kStatusReadError)}, 0, false, 0, false},
        // Deadlines are compared as plain 32-bit numbers, so one that wraps past 2^32 is behind
        // the tick count already and the wait ends after its first read.
        {"deadline wraps",
         {MakeFault(FaultKind::kBusyForever)},
         0,
         false,
         0,
         false,
         0,
         0xFFFFF000u},
    };
    // libusb reads only when asked: the wait straight after the command is the designed one.
    const std::vector<bool> staleRuns =
        transport_test::Libusb() ? std::vector<bool>{false} : std::vector<bool>{false, true};
    for (const Case& c : cases) {
        for (const bool stale : staleRuns) {
            SCOPED_TRACE(std::string(c.name) + (stale ? ", stale record" : ""));
            simulator::PrinterConfig config = Config();
            config.faults = c.faults;
            config.busyPolls = c.busyPolls;
            auto printer = Attach(host_, config);
            ASSERT_TRUE(printer->SendStart());
            if (!stale && !transport_test::Libusb()) {
                PrinterStatusRecord queued;
                printer->ReadStatus(queued);
            }
            UpdateWorker worker;
            ASSERT_TRUE(worker.SetPrinter(printer.get()));
            clock_.Advance(c.startTick - clock_.GetTickCount());
            const std::uint32_t before = clock_.Elapsed();
            EXPECT_EQ(worker.waitForStage(1, UpdateWorker::kStartTimeoutMs),
                      stale ? c.passesOnStale : c.passes);
            EXPECT_EQ(clock_.Elapsed() - before, stale ? c.staleElapsedMs : c.elapsedMs);
        }
    }
}

TEST_F(UpdateWorkerTest, EveryFaultEndsInTheRightFinalMessageAndEndCommand) {
    struct Case {
        const char* name;
        Fault fault;
        bool endWritten;  // a vanished device cannot receive it
        std::intptr_t outcome = 0;
        std::uint32_t limitMs = 0;  // of the stage wait that runs out
        // A printer that answers only with news leaves the read waiting for good; the update
        // then ends only when the printer goes.
        bool waitsOnNews = false;
    };
    const std::vector<Case> cases = {
        {"no ack for stage 2", NoAckAt(2), true, 0, 5000, true},
        {"no final ack", NoAckAt(255), true, 0, 60000, true},
        {"busy forever", MakeFault(FaultKind::kBusyForever), true, 0, 60000},
        {"status read error",
         MakeFault(FaultKind::kStatusReadError, [](Fault& f) { f.afterReads = 1; }), true},
        {"image info write error", WriteFails("ImageInfoCommand"), true},
        {"data header write error", WriteFails("DataHeaderCommand"), true},
        {"data write error", AtByte(FaultKind::kWriteError, 5000), true},
        {"short write", AtByte(FaultKind::kShortWrite, 5000), true},
        {"disconnect", AtByte(FaultKind::kDisconnect, 5000), false},
        {"wrong final stage", WrongStage(255), true, 0, 60000, true},
        // The end command's own result is not looked at.
        {"end command write error", WriteFails("EndCommand"), false, 1},
        {"stalled status read", StallAt(2), true, 1},
    };
    std::size_t index = 0;
    for (const simulator::Answers answers :
         {simulator::Answers::kAtOnce, simulator::Answers::kOnNews}) {
        for (const Case& c : cases) {
            const bool onNews = answers == simulator::Answers::kOnNews;
            SCOPED_TRACE(std::string(c.name) + (onNews ? ", answers on news" : ""));
            simulator::PrinterConfig config = WithFaults({c.fault});
            config.answers = answers;
            auto printer = Attach(host_, config);
            const std::size_t i = index++;
            const bool waits = onNews && c.waitsOnNews;
            std::thread unplug([&] {
                if (waits) {
                    EXPECT_TRUE(host_.WaitForWaitingRead(i, std::chrono::seconds(60)));
                    host_.RemovePrinter(i);
                }
            });
            const std::uint32_t before = clock_.Elapsed();
            const Messages messages = Update(*printer, Image(ImageBytes(9000)));
            unplug.join();
            if (!waits) {
                // The limit, then the poll that finds it passed; a printer may cost a poll more.
                EXPECT_NEAR(clock_.Elapsed() - before, c.limitMs + kPoll, kPoll);
            }
            ASSERT_GE(messages.size(), 3u);
            EXPECT_EQ(Messages(messages.begin(), messages.begin() + 2),
                      (Messages{{1, 0}, {5, 9000}}));
            EXPECT_EQ(messages.back(), (Messages::value_type{3, c.outcome}));
            const std::vector<std::string> names = CommandNames(Transcript(i));
            ASSERT_FALSE(names.empty());
            EXPECT_EQ(names.back() == "EndCommand", c.endWritten && !waits);
            if (c.outcome == 0) {
                EXPECT_NE(Transcript(i)["outcome"], "flashed");
            }
            host_.RemovePrinter(i);  // usblp has 16 minors
        }
    }
}

// A rebooting printer ends with code 4, a failed start included, and still gets the end command.
TEST_F(UpdateWorkerTest, AFailedStartStillEndsTheExchange) {
    auto failing = Attach(host_, WithFaults({WriteFails("StartCommand")}), {false, true, -1});
    EXPECT_EQ(Update(*failing, Image(ImageBytes(64))), (Messages{{1, 0}, {5, 64}, {4, 0}}));
    EXPECT_EQ(CommandNames(Transcript(0)), std::vector<std::string>{"EndCommand"});
    EXPECT_EQ(Transcript(0)["statusReads"], 0);
}

TEST_F(UpdateWorkerTest, MissingPartsRefuseOrEndTheRunAtOnce) {
    UpdateWorker worker;
    platform::SetLastError(0);
    EXPECT_FALSE(worker.SetWindow(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    EXPECT_FALSE(worker.SetPrinter(nullptr));
    EXPECT_FALSE(worker.SetImage(nullptr));

    // No window: nothing is posted and the run ends by itself.
    worker.Start();
    EXPECT_TRUE(worker.Stop(10000));
    EXPECT_EQ(queue_.Size(), 0u);

    // A window but no printer or image: code 2 only, and the run ends without Stop.
    worker.SetWindow(&queue_);
    worker.Start();
    const platform::Message m = queue_.Take();
    EXPECT_EQ(m.message, WM_UPDATE_PROGRESS);
    EXPECT_EQ(m.wParam, kProgressNotStarted);
    while (worker.IsStarted()) {
        std::this_thread::yield();
    }
    EXPECT_EQ(queue_.Size(), 0u);
}
