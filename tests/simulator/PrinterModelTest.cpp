#include "simulator/PrinterModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

namespace simulator {
namespace {

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
    return printer.HandleWrite(bytes, sizeof bytes);
}

ssize_t SendStart(PrinterModel& p) {
    return Send(p, 0x38);
}
ssize_t SendImageInfo(PrinterModel& p, std::uint32_t info) {
    return Send(p, 0x138, 0x00100000, info);
}
ssize_t SendDataHeader(PrinterModel& p, std::uint32_t length) {
    return Send(p, 0x238, length);
}
ssize_t SendEnd(PrinterModel& p) {
    return Send(p, 0x1038);
}

Status ReadStatus(PrinterModel& printer) {
    std::uint8_t record[12] = {};
    EXPECT_EQ(printer.HandleRead(record, sizeof record), 12);
    const std::uint32_t word =
        record[0] | record[1] << 8 | record[2] << 16 | static_cast<std::uint32_t>(record[3]) << 24;
    return {static_cast<std::int32_t>(word), record[8]};
}

// The updater's stage wait, with a poll budget in place of its clock.
bool WaitForStage(PrinterModel& printer, int stage, int polls = 20) {
    bool busySeen = false;
    for (int i = 0; i < polls; ++i) {
        const Status status = ReadStatus(printer);
        if (status.word == kStatusStageDone && status.stage == stage) {
            return true;
        }
        if (status.word == kStatusIdle && !busySeen) {
            return true;
        }
        busySeen = busySeen || status.word == kStatusBusy;
    }
    return false;
}

std::vector<std::uint8_t> MakeImage(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    // Version prefix of "2.5.-1.16".
    image[0] = 0x05;
    image[1] = 0x02;
    image[2] = 0x10;
    image[3] = 0xFF;
    return image;
}

// The whole exchange as the update worker runs it; false at the first step that fails.
bool RunUpdate(PrinterModel& printer, const std::vector<std::uint8_t>& image, bool strip) {
    const std::size_t skip = strip ? 4 : 0;
    const std::size_t length = image.size() - skip;
    bool ok = SendStart(printer) == 12 && WaitForStage(printer, 1) &&
              SendImageInfo(printer, static_cast<std::uint32_t>(image.size() - 6)) == 12 &&
              WaitForStage(printer, 2) &&
              SendDataHeader(printer, static_cast<std::uint32_t>(length)) == 12;
    for (std::size_t sent = 0; ok && sent < length;) {
        const std::size_t chunk = std::min<std::size_t>(4096, length - sent);
        ok = printer.HandleWrite(image.data() + skip + sent, chunk) == static_cast<ssize_t>(chunk);
        sent += chunk;
    }
    ok = ok && WaitForStage(printer, 255);
    SendEnd(printer);
    return ok;
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
            // The acknowledgement is repeated until the next command.
            for (int i = 0; i < 2; ++i) {
                const Status status = ReadStatus(printer);
                EXPECT_EQ(status.word, kStatusStageDone);
                EXPECT_EQ(status.stage, stage);
            }
        };
        SendStart(printer);
        expectAck(1);
        SendImageInfo(printer, 10);
        expectAck(2);
        SendDataHeader(printer, 16);
        const std::vector<std::uint8_t> data(16, 0xAB);
        // Data of command size after the header is data, not a command.
        EXPECT_EQ(printer.HandleWrite(data.data(), 12), 12);
        EXPECT_EQ(printer.HandleWrite(data.data(), 4), 4);
        expectAck(255);
        SendEnd(printer);
        EXPECT_EQ(ReadStatus(printer).word, kStatusIdle);
        EXPECT_EQ(printer.GetOutcome(), Outcome::kFlashed);
        EXPECT_EQ(printer.StatusReads(), 1 + 3 * (busyPolls + 2) + 1);
    }
}

TEST(PrinterModelTest, FlashReportsTheImageVersionOnlyWhenThePrefixArrived) {
    const std::vector<std::uint8_t> image = MakeImage(8192);
    {
        PrinterModel printer(Config());
        EXPECT_EQ(printer.GetOutcome(), Outcome::kUntouched);
        ASSERT_TRUE(RunUpdate(printer, image, false));
        EXPECT_EQ(printer.GetOutcome(), Outcome::kFlashed);
        EXPECT_EQ(printer.FirmwareVersion(), "2.5.-1.16");
        EXPECT_EQ(printer.DeviceId(), "MFG:Orvane;MDL:Wend 300;VER:2.5.-1.16;");
        EXPECT_EQ(printer.DataBytes(), 8192u);
    }
    {
        PrinterModel printer(Config());
        ASSERT_TRUE(RunUpdate(printer, image, true));
        EXPECT_EQ(printer.GetOutcome(), Outcome::kFlashed);
        EXPECT_EQ(printer.FirmwareVersion(), "1.0.0.7");
        EXPECT_EQ(printer.DataBytes(), 8188u);
    }
    {
        PrinterConfig config = Config();
        config.deviceId = "MFG:Orvane;MDL:Wend 300";
        PrinterModel printer(config);
        ASSERT_TRUE(RunUpdate(printer, image, false));
        EXPECT_EQ(printer.DeviceId(), "MFG:Orvane;MDL:Wend 300VER:2.5.-1.16;");
    }
}

TEST(PrinterModelTest, DecodesVersionPrefixes) {
    const std::uint8_t plain[4] = {0x03, 0x01, 0x07, 0x00};
    const std::uint8_t negative[4] = {0xFF, 0x80, 0xFF, 0xFF};
    EXPECT_EQ(DecodeImageVersion(plain), "1.3.0.7");
    EXPECT_EQ(DecodeImageVersion(negative), "-128.255.-1.255");
}

TEST(PrinterModelTest, AnswersTheDeviceIdWithTheDriversLengthPrefix) {
    struct Case {
        LengthPrefix order;
        std::string deviceId;
        std::size_t bufferSize;
        std::vector<std::uint8_t> expected;
    };
    const std::vector<Case> cases = {
        {LengthPrefix::kBig, "MFG:A;", 1024, {0x00, 0x08, 'M', 'F', 'G', ':', 'A', ';'}},
        {LengthPrefix::kLittle, "MFG:A;", 1024, {0x08, 0x00, 'M', 'F', 'G', ':', 'A', ';'}},
        {LengthPrefix::kBig, "", 1024, {0x00, 0x02}},
        {LengthPrefix::kBig, "MFG:A;", 4, {0x00, 0x08, 'M', 'F'}},
        {LengthPrefix::kBig, std::string(300, 'x'), 3, {0x01, 0x2E, 'x'}},
    };
    for (const Case& c : cases) {
        PrinterConfig config;
        config.deviceId = c.deviceId;
        config.lengthPrefix = c.order;
        PrinterModel printer(config);
        std::vector<std::uint8_t> buffer(c.bufferSize, 0xEE);
        ASSERT_EQ(printer.HandleDeviceIdQuery(buffer.data(), buffer.size()), 0);
        EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + c.expected.size()),
                  c.expected);
        if (c.expected.size() < buffer.size()) {
            EXPECT_EQ(buffer[c.expected.size()], 0xEE) << "bytes past the answer stay untouched";
        }
        EXPECT_EQ(printer.DeviceIdQueries(), 1u);
    }
}

TEST(PrinterModelTest, StageFaults) {
    const std::vector<std::uint8_t> image = MakeImage(100);
    {  // no-ack: busy, then idle for ever; the wait for stage 2 cannot pass.
        Fault fault;
        fault.kind = FaultKind::kNoAck;
        fault.stage = 2;
        PrinterModel printer(Config({fault}));
        SendStart(printer);
        EXPECT_TRUE(WaitForStage(printer, 1));
        SendImageInfo(printer, 94);
        EXPECT_FALSE(WaitForStage(printer, 2));
        EXPECT_EQ(ReadStatus(printer).word, kStatusIdle);
        SendImageInfo(printer, 94);
        EXPECT_EQ(ReadStatus(printer).word, kStatusBusy);
        SendEnd(printer);
        EXPECT_EQ(printer.GetOutcome(), Outcome::kFailed);
    }
    {  // no-ack of the last stage: all data arrived, yet the flash did not happen.
        Fault fault;
        fault.kind = FaultKind::kNoAck;
        fault.stage = 255;
        PrinterModel printer(Config({fault}));
        EXPECT_FALSE(RunUpdate(printer, image, false));
        EXPECT_EQ(printer.GetOutcome(), Outcome::kFailed);
        EXPECT_EQ(printer.FirmwareVersion(), "1.0.0.7");
    }
    {  // wrong-stage: stage 1 is answered with stage 2.
        Fault fault;
        fault.kind = FaultKind::kWrongStage;
        fault.stage = 1;
        PrinterModel printer(Config({fault}, 1));
        SendStart(printer);
        EXPECT_EQ(ReadStatus(printer).word, kStatusBusy);
        const Status status = ReadStatus(printer);
        EXPECT_EQ(status.word, kStatusStageDone);
        EXPECT_EQ(status.stage, 2);
        EXPECT_FALSE(WaitForStage(printer, 1));
    }
    {  // idle-only: the updater passes every stage without a stage number.
        Fault fault;
        fault.kind = FaultKind::kIdleOnly;
        PrinterModel printer(Config({fault}, 2));
        EXPECT_TRUE(RunUpdate(printer, image, false));
        EXPECT_EQ(printer.StatusReads(), 3u);
        EXPECT_EQ(printer.GetOutcome(), Outcome::kFlashed);
    }
    {  // busy-forever
        Fault fault;
        fault.kind = FaultKind::kBusyForever;
        PrinterModel printer(Config({fault}));
        EXPECT_EQ(ReadStatus(printer).word, kStatusBusy);
        EXPECT_FALSE(RunUpdate(printer, image, false));
        EXPECT_EQ(printer.GetOutcome(), Outcome::kFailed);
    }
}

TEST(PrinterModelTest, IoFaults) {
    {  // status-read-error after three good reads
        Fault fault;
        fault.kind = FaultKind::kStatusReadError;
        fault.afterReads = 3;
        PrinterModel printer(Config({fault}));
        std::uint8_t record[12];
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(printer.HandleRead(record, sizeof record), 12);
        }
        EXPECT_EQ(printer.HandleRead(record, sizeof record), -EIO);
        EXPECT_EQ(printer.HandleRead(record, sizeof record), -EIO);
    }
    {  // write-error at a command: that write fails once and is not received
        Fault fault;
        fault.kind = FaultKind::kWriteError;
        fault.command = "ImageInfoCommand";
        fault.error = EPIPE;
        PrinterModel printer(Config({fault}));
        EXPECT_EQ(SendStart(printer), 12);
        EXPECT_EQ(SendImageInfo(printer, 1), -EPIPE);
        EXPECT_EQ(SendImageInfo(printer, 2), 12);
        const nlohmann::json commands = printer.Transcript("/dev/usb/lp0")["commands"];
        ASSERT_EQ(commands.size(), 2u);
        EXPECT_EQ(commands[1]["words"][2], 2);
    }
    {  // no-device-id
        Fault fault;
        fault.kind = FaultKind::kNoDeviceId;
        PrinterModel printer(Config({fault}));
        std::uint8_t buffer[1024];
        EXPECT_EQ(printer.HandleDeviceIdQuery(buffer, sizeof buffer), -EIO);
        EXPECT_EQ(printer.DeviceIdQueries(), 1u);
    }
    {  // stall-read still answers the record once the stall is over
        Fault fault;
        fault.kind = FaultKind::kStallRead;
        fault.atRead = 1;
        fault.ms = 1;
        PrinterModel printer(Config({fault}));
        EXPECT_EQ(ReadStatus(printer).word, kStatusIdle);
    }
    {
        Fault fault;
        fault.kind = FaultKind::kHeld;
        EXPECT_TRUE(PrinterModel(Config({fault})).Held());
        EXPECT_FALSE(PrinterModel(Config()).Held());
    }
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FaultKindName(c.kind));
        Fault fault;
        fault.kind = c.kind;
        fault.atDataByte = 5000;
        PrinterModel printer(Config({fault}));
        SendStart(printer);
        SendImageInfo(printer, 8186);
        SendDataHeader(printer, 8192);
        EXPECT_EQ(printer.HandleWrite(image.data(), 4096), 4096);
        EXPECT_EQ(printer.HandleWrite(image.data() + 4096, 4096), c.secondChunkResult);
        EXPECT_EQ(printer.DataBytes(), c.dataBytes);
        SendEnd(printer);
        const nlohmann::json transcript = printer.Transcript("/dev/usb/lp0");
        EXPECT_EQ(transcript["outcome"], "failed");
        if (c.kind == FaultKind::kDisconnect) {
            std::uint8_t buffer[1024];
            EXPECT_TRUE(printer.Disconnected());
            EXPECT_EQ(printer.HandleRead(buffer, 12), -ENODEV);
            EXPECT_EQ(printer.HandleDeviceIdQuery(buffer, sizeof buffer), -ENODEV);
            EXPECT_EQ(printer.HandleOpen(), -ENODEV);
            EXPECT_EQ(transcript["commands"].size(), 3u);
        } else {
            // The printer dropped the broken transfer, so EndCommand is a command again.
            EXPECT_EQ(transcript["commands"].back()["name"], "EndCommand");
        }
    }
}

TEST(PrinterModelTest, TranscriptRecordsWhatArrived) {
    PrinterModel printer(Config());
    printer.HandleOpen();
    std::uint8_t id[1024];
    printer.HandleDeviceIdQuery(id, sizeof id);
    SendStart(printer);
    ReadStatus(printer);
    Send(printer, 0x99, 1, 2);
    SendDataHeader(printer, 3);
    const std::uint8_t abc[3] = {'a', 'b', 'c'};
    printer.HandleWrite(abc, 3);
    const std::uint8_t odd[5] = {1, 2, 3, 4, 5};
    printer.HandleWrite(odd, 5);

    const nlohmann::json expected = {
        {"devicePath", "/dev/usb/lp3"},
        {"opens", 1},
        {"deviceIdQueries", 1},
        {"statusReads", 1},
        {"commands",
         {{{"name", "StartCommand"}, {"words", {0x38, 0, 0}}},
          {{"name", "unknown"}, {"words", {0x99, 1, 2}}},
          {{"name", "DataHeaderCommand"}, {"words", {0x238, 3, 0}}},
          {{"name", "unknown"}, {"words", {0x04030201, 5, 0}}}}},
        {"dataWrites", {3}},
        {"dataBytes", 3},
        {"dataSha256", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"outcome", "failed"},
        {"firmwareVersion", "1.0.0.7"},
    };
    EXPECT_EQ(printer.Transcript("/dev/usb/lp3"), expected);

    PrinterConfig config;
    config.deviceId = "MFG:Orvane;MDL:Wend 300;";
    EXPECT_TRUE(PrinterModel(config).Transcript("/dev/usb/lp0")["firmwareVersion"].is_null());
}

TEST(PrinterModelTest, HandlersAndObserversMayRunOnDifferentThreads) {
    PrinterModel printer(Config({}, 1));
    std::atomic<bool> done{false};
    std::thread device([&] {
        const std::vector<std::uint8_t> image = MakeImage(9000);
        RunUpdate(printer, image, false);
        done = true;
    });
    while (!done) {
        printer.Transcript("/dev/usb/lp0");
        printer.StatusReads();
    }
    device.join();
    EXPECT_EQ(printer.GetOutcome(), Outcome::kFlashed);
}

}  // namespace
}  // namespace simulator
