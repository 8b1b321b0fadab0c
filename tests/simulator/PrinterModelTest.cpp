#include "simulator/PrinterModel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>
#include <vector>

#include "tests/simulator/WireBytes.h"

namespace simulator {
namespace {

ssize_t Send(PrinterModel& printer, std::uint32_t w0, std::uint32_t w1 = 0, std::uint32_t w2 = 0) {
    const std::vector<std::uint8_t> bytes = CommandBytes(w0, w1, w2);
    return printer.ReceiveOut(bytes.data(), bytes.size());
}

// The status word and the stage of the next answer.
std::pair<std::int32_t, int> ReadStatus(PrinterModel& printer) {
    InAnswer answer = printer.AnswerIn();
    EXPECT_EQ(answer.bytes.size(), 12u);
    answer.bytes.resize(12);
    return {StatusWord(answer.bytes.data()), answer.bytes[8]};
}

// Sends an image whose first four bytes are the version prefix of "2.5.-1.16" (strip: without
// them, as some models want it), in chunks of 4 KiB, and ends the exchange.
void SendImage(PrinterModel& printer, std::size_t size, bool strip = false) {
    std::vector<std::uint8_t> image(size, 0x5A);
    image[0] = 0x05, image[1] = 0x02, image[2] = 0x10, image[3] = 0xFF;
    const std::size_t skip = strip ? 4 : 0;
    Send(printer, kStartCommand);
    Send(printer, kImageInfoCommand, kImageInfoWord, static_cast<std::uint32_t>(size - 6));
    Send(printer, kDataHeaderCommand, static_cast<std::uint32_t>(size - skip));
    for (std::size_t sent = skip; sent < size; sent += 4096) {
        printer.ReceiveOut(image.data() + sent, std::min<std::size_t>(4096, size - sent));
    }
    Send(printer, kEndCommand);
}

Fault MakeFault(FaultKind kind, int stage = 0) {
    Fault fault;
    fault.kind = kind, fault.stage = stage;
    return fault;
}

PrinterConfig Config(std::vector<Fault> faults = {}, std::uint32_t busyPolls = 0) {
    PrinterConfig config;
    config.deviceId = "MFG:Orvane;MDL:Wend 300;VER:1.0.0.7;";
    config.busyPolls = busyPolls, config.faults = std::move(faults);
    return config;
}

TEST(PrinterModelTest, AcknowledgesEachStageAfterTheConfiguredBusyPolls) {
    for (std::uint32_t busyPolls : {0u, 3u}) {
        SCOPED_TRACE(busyPolls);
        PrinterModel printer(Config({}, busyPolls));
        EXPECT_EQ(ReadStatus(printer).first, kStatusIdle);
        auto expectAck = [&](int stage) {
            for (std::uint32_t i = 0; i < busyPolls; ++i) {
                EXPECT_EQ(ReadStatus(printer).first, kStatusBusy);
            }
            for (int i = 0; i < 2; ++i) {  // repeated until the next command
                EXPECT_EQ(ReadStatus(printer), std::make_pair(kStatusStageDone, stage));
            }
        };
        Send(printer, kStartCommand);
        expectAck(1);
        Send(printer, kImageInfoCommand, kImageInfoWord, 10);
        expectAck(2);
        Send(printer, kDataHeaderCommand, 16);
        const std::vector<std::uint8_t> data(16, 0xAB);
        // Data of command size after the header is data, not a command.
        EXPECT_EQ(printer.ReceiveOut(data.data(), 12), 12);
        EXPECT_EQ(printer.ReceiveOut(data.data(), 4), 4);
        expectAck(255);
        Send(printer, kEndCommand);
        EXPECT_EQ(ReadStatus(printer).first, kStatusIdle);
        EXPECT_EQ(printer.GetOutcome(), Outcome::kFlashed);
        EXPECT_EQ(printer.InTransfers(), 1 + 3 * (busyPolls + 2) + 1);
    }
}

TEST(PrinterModelTest, FlashReportsTheImageVersionOnlyWhenThePrefixArrived) {
    const std::uint8_t negative[4] = {0xFF, 0x80, 0xFF, 0xFF};
    EXPECT_EQ(DecodeImageVersion(negative), "-128.255.-1.255");
    PrinterModel stripped(Config());
    EXPECT_EQ(stripped.GetOutcome(), Outcome::kUntouched);
    SendImage(stripped, 8192, true);
    EXPECT_EQ(
        std::make_tuple(stripped.GetOutcome(), stripped.FirmwareVersion(), stripped.DataBytes()),
        std::make_tuple(Outcome::kFlashed, "1.0.0.7", 8188u));
    PrinterConfig config = Config();
    config.deviceId = "MFG:Orvane;MDL:Wend 300";
    PrinterModel unterminated(config);
    SendImage(unterminated, 8192);
    EXPECT_EQ(unterminated.DeviceId(), "MFG:Orvane;MDL:Wend 300VER:2.5.-1.16;");
}

// The update worker's tests run the other stage faults (no final acknowledgement, idle only,
// busy for ever) through the whole exchange.
TEST(PrinterModelTest, StageFaults) {
    PrinterModel noAck(Config({MakeFault(FaultKind::kNoAck, 2)}));  // busy, then idle for ever
    Send(noAck, kStartCommand);
    EXPECT_EQ(ReadStatus(noAck), std::make_pair(kStatusStageDone, 1));
    for (int round = 0; round < 2; ++round) {
        Send(noAck, kImageInfoCommand, kImageInfoWord, 94);
        EXPECT_EQ(ReadStatus(noAck).first, kStatusBusy);
        EXPECT_EQ(ReadStatus(noAck), std::make_pair(kStatusIdle, 0));
        EXPECT_EQ(ReadStatus(noAck), std::make_pair(kStatusIdle, 0));
    }
    Send(noAck, kEndCommand);
    EXPECT_EQ(noAck.GetOutcome(), Outcome::kFailed);

    PrinterModel wrongStage(Config({MakeFault(FaultKind::kWrongStage, 1)}, 1));
    Send(wrongStage, kStartCommand);
    EXPECT_EQ(ReadStatus(wrongStage).first, kStatusBusy);
    EXPECT_EQ(ReadStatus(wrongStage), std::make_pair(kStatusStageDone, 2));
}

// The device layer's tests run a failing command write through the port.
TEST(PrinterModelTest, ReadFaults) {
    Fault readError = MakeFault(FaultKind::kStatusReadError),
          stall = MakeFault(FaultKind::kStallRead);
    readError.afterReads = 2, stall.atRead = 2, stall.ms = 70;
    PrinterModel reads(Config({readError, stall}));
    for (const auto& expected : {std::make_tuple(0, 12, 0), {0, 12, 70}, {-EIO, 0, 0}}) {
        const InAnswer answer = reads.AnswerIn();
        EXPECT_EQ(std::make_tuple(answer.error, int(answer.bytes.size()), int(answer.delayMs)),
                  expected);
    }
}

// Each strikes once: a second transfer over the same byte goes through.
TEST(PrinterModelTest, DataFaultsStrikeTheChunkHoldingTheByte) {
    const std::vector<std::uint8_t> data(4096, 1);
    for (const auto& [kind, secondChunkResult] :
         {std::make_pair(FaultKind::kWriteError, ssize_t{-EIO}),
          {FaultKind::kShortWrite, 0},
          {FaultKind::kDisconnect, -ENODEV},
          {FaultKind::kStallWrite, kOutStalled}}) {
        SCOPED_TRACE(FaultKindName(kind));
        Fault fault = MakeFault(kind);
        fault.atDataByte = 4096;  // the first byte of the second chunk
        PrinterModel printer(Config({fault}));
        Send(printer, kStartCommand);
        Send(printer, kDataHeaderCommand, 8192);
        EXPECT_EQ(printer.ReceiveOut(data.data(), 4096), 4096);
        EXPECT_EQ(printer.ReceiveOut(data.data(), 4096), secondChunkResult);
        EXPECT_EQ(printer.DataBytes(), 4096u);
        Send(printer, kEndCommand);
        const nlohmann::json commands = printer.Transcript()["commands"];
        if (kind == FaultKind::kDisconnect) {
            std::vector<std::uint8_t> answer;
            EXPECT_EQ(std::make_tuple(printer.Disconnected(), printer.AnswerIn().error,
                                      printer.AnswerDeviceId(1023, answer), commands.size()),
                      std::make_tuple(true, -ENODEV, -ENODEV, 2u));
            continue;
        }
        // The printer dropped the broken transfer, so EndCommand is a command again.
        EXPECT_EQ(commands.back()["name"] == "EndCommand", kind != FaultKind::kStallWrite);
        Send(printer, kDataHeaderCommand, 4096);
        EXPECT_EQ(printer.ReceiveOut(data.data(), 4096), 4096);
    }
}

TEST(PrinterModelTest, TranscriptRecordsWhatArrived) {
    PrinterModel printer(Config());
    printer.SetDevicePath("/dev/usb/lp3");
    printer.NoteOpen();
    printer.NoteRead();
    std::vector<std::uint8_t> id;
    printer.AnswerDeviceId(1023, id);
    Send(printer, kStartCommand);
    ReadStatus(printer);
    Send(printer, 0x99, 1, 2);
    Send(printer, kDataHeaderCommand, 3);
    const std::uint8_t bytes[8] = {'a', 'b', 'c', 1, 2, 3, 4, 5};
    printer.ReceiveOut(bytes, 3);
    printer.ReceiveOut(bytes + 3, 5);

    // A write after the announced data is a command again, even a short one.
    EXPECT_EQ(printer.Transcript(), nlohmann::json::parse(R"({
        "devicePath": "/dev/usb/lp3", "opens": 1, "deviceIdQueries": 1, "statusReads": 1,
        "inTransfers": 1, "restarts": 0, "commands": [{"name": "StartCommand", "words": [56, 0, 0]},
          {"name": "unknown", "words": [153, 1, 2]}, {"name": "DataHeaderCommand",
          "words": [568, 3, 0]}, {"name": "unknown", "words": [67305985, 5, 0]}], "dataWrites": [3],
        "dataBytes": 3,
        "outcome": "failed", "firmwareVersion": "1.0.0.7",
        "dataSha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
        "usbfs": {"opens": 0, "claims": 0, "refusedClaims": 0, "releases": 0, "usblpDetaches": 0,
          "usbfsDetaches": 0, "refusedDetaches": 0, "usblpAttaches": 0, "controlUrbs": 0,
          "bulkOutUrbs": 0, "bulkInUrbs": 0}})"));

    PrinterConfig config;
    config.deviceId = "MFG:Orvane;MDL:Wend 300;";
    EXPECT_TRUE(PrinterModel(config).Transcript()["firmwareVersion"].is_null());
}

}  // namespace
}  // namespace simulator
