#include "simulator/PrinterModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

namespace simulator {
namespace {

constexpr std::uint32_t kStart = 0x38;
constexpr std::uint32_t kImageInfo = 0x138;
constexpr std::uint32_t kDataHeader = 0x238;
constexpr std::uint32_t kEnd = 0x1038;

struct Status {
    std::int32_t word;
    int stage;
};

ssize_t Send(PrinterModel& printer, std::uint32_t w0, std::uint32_t w1 = 0, std::uint32_t w2 = 0) {
    std::uint8_t bytes[12];
    const std::uint32_t words[3] = {w0, w1, w2};
    for (int i = 0; i < 12; ++i) {
        bytes[i] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
    }
    return printer.ReceiveOut(bytes, sizeof bytes);
}

ssize_t SendImageInfo(PrinterModel& p, std::uint32_t info) {
    return Send(p, kImageInfo, 0x00100000, info);
}

Status ReadStatus(PrinterModel& printer) {
    const InAnswer answer = printer.AnswerIn();
    EXPECT_EQ(answer.bytes.size(), 12u);
    std::uint8_t record[12] = {};
    std::copy_n(answer.bytes.begin(), std::min<std::size_t>(12, answer.bytes.size()), record);
    const std::uint32_t word =
        record[0] | record[1] << 8 | record[2] << 16 | static_cast<std::uint32_t>(record[3]) << 24;
    return {static_cast<std::int32_t>(word), record[8]};
}

// The updater's stage wait, with a poll budget in place of its clock.
bool WaitForStage(PrinterModel& printer, int stage, int polls = 20) {
    bool busySeen = false;
    for (int i = 0; i < polls; ++i) {
        const Status status = ReadStatus(printer);
        if ((status.word == kStatusStageDone && status.stage == stage) ||
            (status.word == kStatusIdle && !busySeen)) {
            return true;
        }
        busySeen = busySeen || status.word == kStatusBusy;
    }
    return false;
}

// Version prefix of "2.5.-1.16", then a pattern.
std::vector<std::uint8_t> MakeImage(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    const std::uint8_t prefix[4] = {0x05, 0x02, 0x10, 0xFF};
    std::copy(prefix, prefix + 4, image.begin());
    return image;
}

// The whole exchange as the update worker runs it; false at the first step that fails.
bool RunUpdate(PrinterModel& printer, const std::vector<std::uint8_t>& image, bool strip = false) {
    const std::size_t skip = strip ? 4 : 0;
    const std::size_t length = image.size() - skip;
    bool ok = Send(printer, kStart) == 12 && WaitForStage(printer, 1) &&
              SendImageInfo(printer, static_cast<std::uint32_t>(image.size() - 6)) == 12 &&
              WaitForStage(printer, 2) &&
              Send(printer, kDataHeader, static_cast<std::uint32_t>(length)) == 12;
    for (std::size_t sent = 0; ok && sent < length;) {
        const std::size_t chunk = std::min<std::size_t>(4096, length - sent);
        ok = printer.ReceiveOut(image.data() + skip + sent, chunk) == static_cast<ssize_t>(chunk);
        sent += chunk;
    }
    ok = ok && WaitForStage(printer, 255);
    Send(printer, kEnd);
    return ok;
}

Fault MakeFault(FaultKind kind, int stage = 0) {
    Fault fault;
    fault.kind = kind;
    fault.stage = stage;
    return fault;
}

PrinterConfig Config(std::vector<Fault> faults = {}, std::uint32_t busyPolls = 0) {
    PrinterConfig config;
    config.deviceId = "MFG:Orvane;MDL:Wend 300;VER:1.0.0.7;";
    config.busyPolls = busyPolls;
    config.faults = std::move(faults);
    return config;
}

TEST(PrinterModelTest, AcknowledgesEachStageAfterTheConfiguredBusyPolls) {
    for (std::uint32_t busyPolls : {0u, 3u}) {
        SCOPED_TRACE(busyPolls);
        PrinterModel printer(Config({}, busyPolls));
        EXPECT_EQ(ReadStatus(printer).word, kStatusIdle);
        auto expectAck = [&](int stage) {
            for (std::uint32_t i = 0; i < busyPolls; ++i) {
                EXPECT_EQ(ReadStatus(printer).word, kStatusBusy);
            }
            for (int i = 0; i < 2; ++i) {  // repeated until the next command
                const Status status = ReadStatus(printer);
                EXPECT_EQ(status.word, kStatusStageDone);
                EXPECT_EQ(status.stage, stage);
            }
        };
        Send(printer, kStart);
        expectAck(1);
        SendImageInfo(printer, 10);
        expectAck(2);
        Send(printer, kDataHeader, 16);
        const std::vector<std::uint8_t> data(16, 0xAB);
        // Data of command size after the header is data, not a command.
        EXPECT_EQ(printer.ReceiveOut(data.data(), 12), 12);
        EXPECT_EQ(printer.ReceiveOut(data.data(), 4), 4);
        expectAck(255);
        Send(printer, kEnd);
        EXPECT_EQ(ReadStatus(printer).word, kStatusIdle);
        EXPECT_EQ(printer.GetOutcome(), Outcome::kFlashed);
        EXPECT_EQ(printer.InTransfers(), 1 + 3 * (busyPolls + 2) + 1);
    }
}

TEST(PrinterModelTest, FlashReportsTheImageVersionOnlyWhenThePrefixArrived) {
    const std::uint8_t negative[4] = {0xFF, 0x80, 0xFF, 0xFF};
    EXPECT_EQ(DecodeImageVersion(negative), "-128.255.-1.255");
    // A plain update's new version is checked by the update worker's and the dialog's tests.
    const std::vector<std::uint8_t> image = MakeImage(8192);
    PrinterModel stripped(Config());
    EXPECT_EQ(stripped.GetOutcome(), Outcome::kUntouched);
    ASSERT_TRUE(RunUpdate(stripped, image, true));
    EXPECT_EQ(stripped.GetOutcome(), Outcome::kFlashed);
    EXPECT_EQ(stripped.FirmwareVersion(), "1.0.0.7");
    EXPECT_EQ(stripped.DataBytes(), 8188u);

    PrinterConfig config = Config();
    config.deviceId = "MFG:Orvane;MDL:Wend 300";
    PrinterModel unterminated(config);
    ASSERT_TRUE(RunUpdate(unterminated, image));
    EXPECT_EQ(unterminated.FirmwareVersion(), "2.5.-1.16");
    EXPECT_EQ(unterminated.DeviceId(), "MFG:Orvane;MDL:Wend 300VER:2.5.-1.16;");
}

TEST(PrinterModelTest, AnswersTheDeviceIdWithItsOwnLengthPrefix) {
    struct Case {
        LengthPrefix order;
        std::string deviceId;
        std::size_t maxLength;
        std::vector<std::uint8_t> expected;
    };
    const std::vector<Case> cases = {
        {LengthPrefix::kBig, "MFG:A;", 1023, {0x00, 0x08, 'M', 'F', 'G', ':', 'A', ';'}},
        {LengthPrefix::kLittle, "MFG:A;", 1023, {0x08, 0x00, 'M', 'F', 'G', ':', 'A', ';'}},
        {LengthPrefix::kFixed, "MFG:A;", 1023, {0xFF, 0xFE, 'M', 'F', 'G', ':', 'A', ';'}},
        {LengthPrefix::kBig, "", 1023, {0x00, 0x02}},
        {LengthPrefix::kBig, std::string(300, 'x'), 3, {0x01, 0x2E, 'x'}},
    };
    for (const Case& c : cases) {
        PrinterConfig config;
        config.deviceId = c.deviceId;
        config.lengthPrefix = c.order;
        config.prefixValue = 0xFFFE;
        PrinterModel printer(config);
        std::vector<std::uint8_t> answer;
        ASSERT_EQ(printer.AnswerDeviceId(c.maxLength, answer), 0);
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(printer.DeviceIdQueries(), 1u);
    }
}

// The update worker's tests run the other stage faults (no final acknowledgement, idle only,
// busy for ever) through the whole exchange.
TEST(PrinterModelTest, StageFaults) {
    PrinterModel noAck(Config({MakeFault(FaultKind::kNoAck, 2)}));  // busy, then idle for ever
    Send(noAck, kStart);
    EXPECT_TRUE(WaitForStage(noAck, 1));
    SendImageInfo(noAck, 94);
    EXPECT_FALSE(WaitForStage(noAck, 2));
    EXPECT_EQ(ReadStatus(noAck).word, kStatusIdle);
    SendImageInfo(noAck, 94);
    EXPECT_EQ(ReadStatus(noAck).word, kStatusBusy);
    Send(noAck, kEnd);
    EXPECT_EQ(noAck.GetOutcome(), Outcome::kFailed);

    PrinterModel wrongStage(Config({MakeFault(FaultKind::kWrongStage, 1)}, 1));
    Send(wrongStage, kStart);
    EXPECT_EQ(ReadStatus(wrongStage).word, kStatusBusy);
    const Status status = ReadStatus(wrongStage);
    EXPECT_EQ(status.word, kStatusStageDone);
    EXPECT_EQ(status.stage, 2);
    EXPECT_FALSE(WaitForStage(wrongStage, 1));
}

TEST(PrinterModelTest, IoFaults) {
    Fault readError = MakeFault(FaultKind::kStatusReadError);
    readError.afterReads = 3;
    Fault shortRecord = MakeFault(FaultKind::kShortRecord);
    shortRecord.atRead = 2;
    shortRecord.bytes = 5;
    Fault doubleRecord = MakeFault(FaultKind::kDoubleRecord);
    doubleRecord.atRead = 3;
    Fault empty = MakeFault(FaultKind::kZeroLengthRead);
    empty.atRead = 1;
    Fault stall = MakeFault(FaultKind::kStallRead);
    stall.atRead = 3;
    stall.ms = 70;
    PrinterModel reads(Config({readError, shortRecord, doubleRecord, empty, stall}));
    const std::vector<std::pair<int, std::size_t>> answers = {{0, 0}, {0, 5}, {0, 24}, {-EIO, 0}};
    for (const auto& [error, size] : answers) {
        const InAnswer answer = reads.AnswerIn();
        EXPECT_EQ(answer.error, error);
        EXPECT_EQ(answer.bytes.size(), size);
        EXPECT_EQ(answer.delayMs, reads.InTransfers() == 3 ? 70u : 0u);
    }

    // The failing write is not received, and only the first write of that command fails.
    Fault writeError = MakeFault(FaultKind::kWriteError);
    writeError.command = "ImageInfoCommand";
    writeError.error = EPIPE;
    PrinterModel writes(Config({writeError}));
    EXPECT_EQ(Send(writes, kStart), 12);
    EXPECT_EQ(SendImageInfo(writes, 1), -EPIPE);
    EXPECT_EQ(SendImageInfo(writes, 2), 12);
    const nlohmann::json commands = writes.Transcript()["commands"];
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1]["words"][2], 2);
}

TEST(PrinterModelTest, DataFaultsStrikeTheChunkHoldingTheByte) {
    const std::vector<std::uint8_t> image = MakeImage(8192);
    struct Case {
        FaultKind kind;
        ssize_t secondChunkResult;
        std::uint64_t dataBytes;
    };
    const std::vector<Case> cases = {
        {FaultKind::kWriteError, -EIO, 4096},
        {FaultKind::kShortWrite, 5000 - 4096, 5000},
        {FaultKind::kDisconnect, -ENODEV, 4096},
        {FaultKind::kStallWrite, kOutStalled, 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FaultKindName(c.kind));
        Fault fault = MakeFault(c.kind);
        fault.atDataByte = 5000;
        PrinterModel printer(Config({fault}));
        Send(printer, kStart);
        SendImageInfo(printer, 8186);
        Send(printer, kDataHeader, 8192);
        EXPECT_EQ(printer.ReceiveOut(image.data(), 4096), 4096);
        EXPECT_EQ(printer.ReceiveOut(image.data() + 4096, 4096), c.secondChunkResult);
        EXPECT_EQ(printer.DataBytes(), c.dataBytes);
        Send(printer, kEnd);
        const nlohmann::json transcript = printer.Transcript();
        if (c.kind == FaultKind::kDisconnect) {
            std::vector<std::uint8_t> answer;
            EXPECT_TRUE(printer.Disconnected());
            EXPECT_EQ(printer.AnswerIn().error, -ENODEV);
            EXPECT_EQ(printer.AnswerDeviceId(1023, answer), -ENODEV);
            EXPECT_EQ(transcript["commands"].size(), 3u);
        } else if (c.kind != FaultKind::kStallWrite) {
            EXPECT_EQ(transcript["outcome"], "failed");
            // The printer dropped the broken transfer, so EndCommand is a command again.
            EXPECT_EQ(transcript["commands"].back()["name"], "EndCommand");
        }
    }
}

TEST(PrinterModelTest, TranscriptRecordsWhatArrived) {
    PrinterModel printer(Config());
    printer.SetDevicePath("/dev/usb/lp3");
    printer.NoteOpen();
    printer.NoteRead();
    std::vector<std::uint8_t> id;
    printer.AnswerDeviceId(1023, id);
    Send(printer, kStart);
    ReadStatus(printer);
    Send(printer, 0x99, 1, 2);
    Send(printer, kDataHeader, 3);
    const std::uint8_t bytes[8] = {'a', 'b', 'c', 1, 2, 3, 4, 5};
    printer.ReceiveOut(bytes, 3);
    printer.ReceiveOut(bytes + 3, 5);

    // A write after the announced data is a command again, even a short one.
    EXPECT_EQ(printer.Transcript(), nlohmann::json::parse(R"({
        "devicePath": "/dev/usb/lp3", "opens": 1, "deviceIdQueries": 1, "statusReads": 1,
        "inTransfers": 1, "restarts": 0,
        "commands": [{"name": "StartCommand", "words": [56, 0, 0]},
                     {"name": "unknown", "words": [153, 1, 2]},
                     {"name": "DataHeaderCommand", "words": [568, 3, 0]},
                     {"name": "unknown", "words": [67305985, 5, 0]}],
        "dataWrites": [3], "dataBytes": 3, "outcome": "failed", "firmwareVersion": "1.0.0.7",
        "dataSha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
        "usbfs": {"opens": 0, "claims": 0, "refusedClaims": 0, "releases": 0, "usblpDetaches": 0,
                  "usbfsDetaches": 0, "refusedDetaches": 0, "usblpAttaches": 0, "controlUrbs": 0,
                  "bulkOutUrbs": 0, "bulkInUrbs": 0}})"));

    PrinterConfig config;
    config.deviceId = "MFG:Orvane;MDL:Wend 300;";
    EXPECT_TRUE(PrinterModel(config).Transcript()["firmwareVersion"].is_null());
}

TEST(PrinterModelTest, HandlersAndObserversMayRunOnDifferentThreads) {
    PrinterModel printer(Config({}, 1));
    std::atomic<bool> done{false};
    std::thread device([&] {
        RunUpdate(printer, MakeImage(9000));
        done = true;
    });
    while (!done) {
        printer.Transcript();
        printer.StatusReads();
    }
    device.join();
    EXPECT_EQ(printer.GetOutcome(), Outcome::kFlashed);
}

}  // namespace
}  // namespace simulator
