#include <thread>

#include "platform/LastError.h"
#include "platform/ManualClock.h"
#include "platform/MessageQueue.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/UpdateWorker.h"
#include "updater/UpdaterMessages.h"

using namespace updater_test;

namespace {

using Messages = std::vector<std::pair<std::uintptr_t, std::intptr_t>>;

class UpdateWorkerTest : public ::testing::Test {
protected:
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
        EXPECT_TRUE(worker.SetWindow(&queue_) && worker.SetPrinter(&printer) &&
                    worker.SetImage(&image));
        worker.Start();
        Messages messages;
        // Every caller checks the final message, so a run that never sends it fails there.
        for (platform::Message m; queue_.Take(m, std::chrono::seconds(120));) {
            EXPECT_EQ(m.message, WM_UPDATE_PROGRESS);
            messages.emplace_back(m.wParam, m.lParam);
            if (m.wParam >= kProgressNotStarted && m.wParam <= kProgressFinishedReboot)
                break;
        }
        EXPECT_TRUE(worker.IsStarted()) << "the run must wait for Stop";
        EXPECT_TRUE(worker.Stop(10000) && !worker.IsStarted() && queue_.Size() == 0);
        return messages;
    }

    nlohmann::json Transcript(std::size_t i) { return host_.Printer(i).Transcript(); }

    static std::vector<std::string> CommandNames(const nlohmann::json& transcript) {
        std::vector<std::string> names;
        for (const auto& command : transcript["commands"])
            names.push_back(command["name"]);
        return names;
    }

    simulator::UmockdevPrinterHost host_;
    platform::ManualClock clock_{1000};
    platform::ScopedClock scopedClock_{clock_};
    platform::MessageQueue queue_;
    std::string dir_ = MakeTempDir();
    std::vector<std::unique_ptr<FirmwareImage>> images_;
};

constexpr std::uint32_t kPoll = UpdateWorker::kPollIntervalMs;

}  // namespace

TEST_F(UpdateWorkerTest, PlainPrinterGetsTheWholeFileInFullChunks) {
    auto printer = Attach(host_, Scenario(R"("busyPolls": 2)"));
    EXPECT_EQ(Update(*printer, Image(ImageBytes(8192))),
              (Messages{{1, 0}, {5, 8192}, {6, 4096}, {6, 8192}, {3, 1}}));
    const nlohmann::json t = Transcript(0);
    EXPECT_EQ(CommandNames(t), (std::vector<std::string>{"StartCommand", "ImageInfoCommand",
                                                         "DataHeaderCommand", "EndCommand"}));
    EXPECT_EQ(t["commands"][1]["words"][2], 8186);
    EXPECT_EQ(t["commands"][2]["words"][1], 8192);
    EXPECT_EQ(t["dataWrites"], nlohmann::json::array({4096, 4096}));
    EXPECT_EQ(t["outcome"], "flashed");
    EXPECT_EQ(t["firmwareVersion"], "1.5.0.3");
    EXPECT_EQ(clock_.Elapsed(), 3u * 2u * kPoll);
}

TEST_F(UpdateWorkerTest, IdleStrippingAndRebootingPrinters) {
    // An idle answer passes every stage at once.
    auto idle = Attach(host_, Scenario(R"("faults": [{"kind": "idle-only"}])"));
    EXPECT_EQ(Update(*idle, Image(ImageBytes(10))).back(), (Messages::value_type{3, 1}));
    EXPECT_EQ(Transcript(0)["statusReads"], 3);
    EXPECT_EQ(clock_.Elapsed(), 0u);

    // A stripping printer gets the file without its version prefix: the same data as the bytes
    // from offset 4 sent whole to a plain printer.
    const std::vector<std::uint8_t> bytes = ImageBytes(8200);
    auto stripping = Attach(host_, Config(), {true, false, -1});
    const Messages messages = Update(*stripping, Image(bytes));
    EXPECT_EQ(messages, (Messages{{1, 0}, {5, 8200}, {6, 4096}, {6, 8192}, {6, 8196}, {3, 1}}));
    const nlohmann::json stripped = Transcript(1);
    EXPECT_EQ(stripped["commands"][1]["words"][2], 8194);
    EXPECT_EQ(stripped["commands"][2]["words"][1], 8196);
    EXPECT_EQ(stripped["dataWrites"], nlohmann::json::array({4096, 4096, 4}));
    auto plain = Attach(host_, Config());
    Update(*plain, Image(std::vector<std::uint8_t>(bytes.begin() + 4, bytes.end())));
    EXPECT_EQ(Transcript(2)["dataSha256"], stripped["dataSha256"]);

    // A rebooting printer ends with code 4, a failed start included, and still gets the end
    // command.
    auto failing =
        Attach(host_, Scenario(R"("faults": [{"kind": "write-error", "command": "StartCommand"}])"),
               {false, true, -1});
    EXPECT_EQ(Update(*failing, Image(ImageBytes(64))), (Messages{{1, 0}, {5, 64}, {4, 0}}));
    EXPECT_EQ(CommandNames(Transcript(3)), std::vector<std::string>{"EndCommand"});
    EXPECT_EQ(Transcript(3)["statusReads"], 0);
}

// usblp reads ahead: the record the first read after a command returns was queued before it.
// Through usblp each row waits twice, once after reading the record usblp queued before the
// command away (the printer as a read on demand shows it, which the rules are written for), once
// straight after the command. Through libusb there is no queued record. The rules stay
// as they are; a printer that answered idle before the command passes stage 1 on that stale
// record whatever it does after it.
TEST_F(UpdateWorkerTest, WaitForStageRules) {
    // Busy, then idle: idle no longer counts; the wait runs to its time limit. Busy from the
    // start: the stale record is busy too. Deadlines are compared as plain 32-bit numbers, so one
    // that wraps past 2^32 is behind the tick count already and the wait ends after its first read.
    struct Case {
        const char* printer;
        bool passes, passesOnStale;
        std::uint32_t elapsedMs, staleElapsedMs = 0, startTick = 1000;  // on the driven clock
    };
    const Case cases[] = {
        {R"("busyPolls": 3, "faults": [{"kind": "no-ack", "stage": 1}])", false, true, 60500},
        {R"("faults": [{"kind": "busy-forever"}])", false, false, 60500, 60500},
        {R"("faults": [{"kind": "wrong-stage", "stage": 1, "reportedStage": 2}])", false, true,
         60500},
        {R"("busyPolls": 4)", true, true, 2000},
        {R"("faults": [{"kind": "stall-read", "atRead": 2, "ms": 20}])", true, true, 0},
        {R"("faults": [{"kind": "status-read-error"}])", false, false, 0},
        {R"("faults": [{"kind": "busy-forever"}])", false, false, 0, 0, 0xFFFFF000u}};
    // libusb reads only when asked: the wait straight after the command is the designed one.
    const std::vector<bool> staleRuns =
        transport_test::Libusb() ? std::vector<bool>{false} : std::vector<bool>{false, true};
    for (const Case& c : cases)
        for (const bool stale : staleRuns) {
            SCOPED_TRACE(std::string(c.printer) + (stale ? ", stale record" : ""));
            auto printer = Attach(host_, Scenario(c.printer));
            ASSERT_TRUE(printer->SendStart());
            PrinterStatusRecord queued;
            if (!stale && !transport_test::Libusb())
                printer->ReadStatus(queued);
            UpdateWorker worker;
            ASSERT_TRUE(worker.SetPrinter(printer.get()));
            clock_.Advance(c.startTick - clock_.GetTickCount());
            const std::uint32_t before = clock_.Elapsed();
            EXPECT_EQ(worker.waitForStage(1, UpdateWorker::kStartTimeoutMs),
                      stale ? c.passesOnStale : c.passes);
            EXPECT_EQ(clock_.Elapsed() - before, stale ? c.staleElapsedMs : c.elapsedMs);
        }
}

TEST_F(UpdateWorkerTest, EveryFaultEndsInTheRightFinalMessageAndEndCommand) {
    // endWritten: a vanished device cannot receive it. limitMs: of the stage wait that runs out.
    // waitsOnNews: a printer that answers only with news leaves the read waiting for good; the
    // update then ends only when the printer goes. The end command's own result is not looked at.
    const std::tuple<const char*, bool, std::intptr_t, std::uint32_t, bool> cases[] = {
        {R"("kind": "no-ack", "stage": 2)", true, 0, 5000, true},
        {R"("kind": "no-ack", "stage": 255)", true, 0, 60000, true},
        {R"("kind": "busy-forever")", true, 0, 60000, false},
        {R"("kind": "status-read-error", "afterReads": 1)", true, 0, 0, false},
        {R"("kind": "write-error", "command": "ImageInfoCommand")", true, 0, 0, false},
        {R"("kind": "write-error", "command": "DataHeaderCommand")", true, 0, 0, false},
        {R"("kind": "write-error", "atDataByte": 5000)", true, 0, 0, false},
        {R"("kind": "short-write", "atDataByte": 5000)", true, 0, 0, false},
        {R"("kind": "disconnect", "atDataByte": 5000)", false, 0, 0, false},
        {R"("kind": "wrong-stage", "stage": 255)", true, 0, 60000, true},
        {R"("kind": "write-error", "command": "EndCommand")", false, 1, 0, false},
        {R"("kind": "stall-read", "atRead": 2, "ms": 20)", true, 1, 0, false}};
    std::size_t index = 0;
    for (const char* answers : {"at-once", "on-news"})
        for (const auto& [fault, endWritten, outcome, limitMs, waitsOnNews] : cases) {
            SCOPED_TRACE(std::string(fault) + ", answers " + answers);
            auto printer = Attach(host_, Scenario(R"("answers": ")" + std::string(answers) +
                                                  R"(", "faults": [{)" + fault + "}]"));
            const std::size_t i = index++;
            const bool waits = answers == std::string("on-news") && waitsOnNews;
            std::thread unplug([&] {
                EXPECT_TRUE(!waits || (host_.WaitForWaitingRead(i, std::chrono::seconds(60)) &&
                                       host_.RemovePrinter(i)));
            });
            const std::uint32_t before = clock_.Elapsed();
            const Messages messages = Update(*printer, Image(ImageBytes(9000)));
            unplug.join();
            // The limit, then the poll that finds it passed; a printer may cost a poll more.
            if (!waits) {
                EXPECT_NEAR(clock_.Elapsed() - before, limitMs + kPoll, kPoll);
            }
            ASSERT_GE(messages.size(), 3u);
            EXPECT_EQ(Messages({messages[0], messages[1], messages.back()}),
                      (Messages{{1, 0}, {5, 9000}, {3, outcome}}));
            const nlohmann::json t = Transcript(i);
            ASSERT_FALSE(t["commands"].empty());
            EXPECT_EQ(t["commands"].back()["name"] == "EndCommand", endWritten && !waits);
            EXPECT_TRUE(outcome == 1 || t["outcome"] != "flashed");
            host_.RemovePrinter(i);  // usblp has 16 minors
        }
}

TEST_F(UpdateWorkerTest, MissingPartsRefuseOrEndTheRunAtOnce) {
    UpdateWorker worker;
    platform::SetLastError(0);
    EXPECT_FALSE(worker.SetWindow(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    EXPECT_FALSE(worker.SetPrinter(nullptr) || worker.SetImage(nullptr));

    // No window: nothing is posted and the run ends by itself.
    worker.Start();
    EXPECT_TRUE(worker.Stop(10000));
    EXPECT_EQ(queue_.Size(), 0u);

    // A window but no printer or image: code 2 only, and the run ends without Stop.
    worker.SetWindow(&queue_);
    worker.Start();
    const platform::Message m = queue_.Take();
    EXPECT_EQ(std::pair(m.message, m.wParam), std::pair(WM_UPDATE_PROGRESS, kProgressNotStarted));
    while (worker.IsStarted())
        std::this_thread::yield();
    EXPECT_EQ(queue_.Size(), 0u);
}
