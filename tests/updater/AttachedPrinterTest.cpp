#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/LastError.h"
#include "tests/updater/UpdaterTestSupport.h"

using namespace updater_test;
using simulator::FaultKind;

TEST(AttachedPrinter, IdentityQueriesFollowTheDeviceIdAndDescription) {
    simulator::UmockdevPrinterHost host;
    auto withHead = Attach(host, Config("MFG:Orvane;MDL:Test 1;VER:2.1.0.4;PHD:TH2;"));
    auto withoutHead = Attach(host, Config("MFG:Orvane;MDL:Test 1;VER:2.1;"), {false, false, 1});
    simulator::PrinterConfig noId = Config();
    noId.faults.push_back(MakeFault(FaultKind::kNoDeviceId));
    auto unreadable = Attach(host, noId, {true, true, 0});

    std::string text;
    EXPECT_TRUE(withHead->GetFirmwareVersion(text));
    EXPECT_EQ(text, "2.1.0.4");
    EXPECT_TRUE(withHead->GetHeadName(text));
    EXPECT_EQ(text, "TH2");
    std::vector<std::string> extensions;
    EXPECT_TRUE(withHead->GetFirmwareExtensions(extensions));
    EXPECT_TRUE(extensions.empty());
    EXPECT_FALSE(withHead->AcceptsFirmwareFileName(L"RVX2_105.bin"));

    EXPECT_TRUE(withoutHead->GetHeadName(text));
    EXPECT_EQ(text, "TH1");
    EXPECT_TRUE(withoutHead->GetFirmwareExtensions(extensions));
    EXPECT_EQ(extensions, (std::vector<std::string>{"bin", "fw"}));
    EXPECT_TRUE(withoutHead->AcceptsFirmwareFileName(L"rvx2_105.BIN"));
    EXPECT_TRUE(withoutHead->AcceptsFirmwareFileName(L"any.fw"));
    EXPECT_FALSE(withoutHead->AcceptsFirmwareFileName(L"X_RVX2_1.bin"));
    platform::SetLastError(0);
    EXPECT_FALSE(withoutHead->AcceptsFirmwareFileName(L""));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);

    EXPECT_FALSE(unreadable->GetFirmwareVersion(text));
    EXPECT_FALSE(unreadable->GetHeadName(text));
    EXPECT_FALSE(unreadable->GetFirmwareExtensions(extensions));
    EXPECT_FALSE(unreadable->AcceptsFirmwareFileName(L"any.fw"));

    // Flags: only firmwareCrcVerify == 1 turns the check on.
    EXPECT_FALSE(withHead->VerifiesFirmwareCrc());
    EXPECT_TRUE(withoutHead->VerifiesFirmwareCrc());
    EXPECT_FALSE(unreadable->VerifiesFirmwareCrc());
    EXPECT_TRUE(unreadable->StripsVersionBytes());
    EXPECT_TRUE(unreadable->RequiresReboot());
    std::int32_t id = 0;
    EXPECT_TRUE(unreadable->GetModelNameResourceId(id));
    EXPECT_EQ(id, 5001);
    EXPECT_TRUE(unreadable->GetShortName(text));
    EXPECT_EQ(text, "Test 1");
}

TEST(AttachedPrinter, WithoutDescriptionEveryRequestFails) {
    AttachedPrinter printer(nullptr);
    std::string text;
    std::int32_t id = 0;
    std::vector<std::string> list;
    PrinterStatusRecord status;
    const std::uint8_t byte = 0;
    EXPECT_FALSE(printer.Open());
    EXPECT_FALSE(printer.GetModelNameResourceId(id));
    EXPECT_FALSE(printer.GetShortName(text));
    EXPECT_FALSE(printer.GetFirmwareVersion(text));
    EXPECT_FALSE(printer.GetHeadName(text));
    EXPECT_FALSE(printer.GetFirmwareExtensions(list));
    EXPECT_FALSE(printer.AcceptsFirmwareFileName(L"a.fw"));
    EXPECT_FALSE(printer.VerifiesFirmwareCrc() || printer.RequiresReboot() ||
                 printer.StripsVersionBytes());
    EXPECT_FALSE(printer.ReadStatus(status));
    EXPECT_FALSE(printer.SendStart() || printer.SendEnd() || printer.SendImageInfo(1) ||
                 printer.SendDataHeader(1) || printer.SendData(&byte, 1));
}

TEST(AttachedPrinter, CommandsAreThreeLittleEndianWords) {
    simulator::UmockdevPrinterHost host;
    auto printer = Attach(host, Config());
    EXPECT_TRUE(printer->SendStart());
    EXPECT_TRUE(printer->SendImageInfo(0x01020304));
    EXPECT_TRUE(printer->SendDataHeader(3));
    const std::uint8_t data[3] = {1, 2, 3};
    EXPECT_TRUE(printer->SendData(data, 3));
    EXPECT_TRUE(printer->SendEnd());

    const nlohmann::json transcript = host.Printer(0).Transcript(host.DevicePath(0));
    const nlohmann::json expected = nlohmann::json::parse(R"([
        {"name": "StartCommand", "words": [56, 0, 0]},
        {"name": "ImageInfoCommand", "words": [312, 1048576, 16909060]},
        {"name": "DataHeaderCommand", "words": [568, 3, 0]},
        {"name": "EndCommand", "words": [4152, 0, 0]}])");
    EXPECT_EQ(transcript["commands"], expected);
    EXPECT_EQ(transcript["dataWrites"], nlohmann::json::array({3}));

    // A fresh printer answers idle; the stage byte follows an acknowledgement.
    PrinterStatusRecord status;
    ASSERT_TRUE(printer->ReadStatus(status));
    EXPECT_TRUE(status.IsComplete());
    EXPECT_EQ(status.Status(), kStatusIdle);
    EXPECT_TRUE(printer->SendStart());
    ASSERT_TRUE(printer->ReadStatus(status));
    EXPECT_EQ(status.Status(), kStatusStageDone);
    EXPECT_EQ(status.Stage(), 1);
}
