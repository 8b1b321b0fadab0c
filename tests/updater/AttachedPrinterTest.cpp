#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/LastError.h"
#include "tests/updater/UpdaterTestSupport.h"

using namespace updater_test;
using simulator::FaultKind;

namespace {

// "resource id|short name|version|head|extensions|crc strip reboot flags", "?" for a refusal.
std::string Identity(AttachedPrinter& printer) {
    std::int32_t id = 0;
    std::string name, version, head, extensions;
    std::vector<std::string> list;
    if (printer.GetFirmwareExtensions(list)) {
        for (const std::string& extension : list) {
            extensions += extension + ",";
        }
    } else {
        extensions = "?";
    }
    return (printer.GetModelNameResourceId(id) ? std::to_string(id) : "?") + "|" +
           (printer.GetShortName(name) ? name : "?") + "|" +
           (printer.GetFirmwareVersion(version) ? version : "?") + "|" +
           (printer.GetHeadName(head) ? head : "?") + "|" + extensions + "|" +
           std::to_string(printer.VerifiesFirmwareCrc()) +
           std::to_string(printer.StripsVersionBytes()) + std::to_string(printer.RequiresReboot());
}

}  // namespace

TEST(AttachedPrinter, IdentityQueriesFollowTheDeviceIdAndDescription) {
    simulator::UmockdevPrinterHost host;
    auto withHead = Attach(host, Config("MFG:Orvane;MDL:Test 1;VER:2.1.0.4;PHD:TH2;"));
    auto withoutHead = Attach(host, Config("MFG:Orvane;MDL:Test 1;VER:2.1;"), {false, false, 1});
    auto unreadable =
        Attach(host, WithFaults({MakeFault(FaultKind::kNoDeviceId)}), {true, true, 0});

    // Only firmwareCrcVerify == 1 turns the check on.
    EXPECT_EQ(Identity(*withHead), "5001|Test 1|2.1.0.4|TH2||000");
    EXPECT_EQ(Identity(*withoutHead), "5001|Test 1|2.1|TH1|bin,fw,|100");
    EXPECT_EQ(Identity(*unreadable), "5001|Test 1|?|?|?|011");

    EXPECT_FALSE(withHead->AcceptsFirmwareFileName(L"RVX2_105.bin"));
    EXPECT_TRUE(withoutHead->AcceptsFirmwareFileName(L"rvx2_105.BIN"));
    EXPECT_TRUE(withoutHead->AcceptsFirmwareFileName(L"any.fw"));
    EXPECT_FALSE(withoutHead->AcceptsFirmwareFileName(L"X_RVX2_1.bin"));
    // Names are narrowed under the locale ("C" here), which cannot represent this one.
    EXPECT_FALSE(withoutHead->AcceptsFirmwareFileName(L"\u00fcber.fw"));
    EXPECT_FALSE(unreadable->AcceptsFirmwareFileName(L"any.fw"));
    platform::SetLastError(0);
    EXPECT_FALSE(withoutHead->AcceptsFirmwareFileName(L""));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
}

// The head named by PHD:, or the description's default head when PHD: is absent or empty.
TEST(AttachedPrinter, HeadAndVersionFallbacks) {
    simulator::UmockdevPrinterHost host;
    const struct {
        const char* name;
        std::string deviceId;
        bool defaultHead;
        std::string identity;
    } cases[] = {
        {"PHD absent", "VER:1.0;", true, "5001|Test 1|1.0|TH1|bin,fw,|000"},
        {"PHD empty", "VER:1.0;PHD:;", true, "5001|Test 1|1.0|TH1|bin,fw,|000"},
        {"PHD names no head", "VER:1.0;PHD:ZZ;", true, "5001|Test 1|1.0|ZZ|?|000"},
        {"no default head", "VER:1.0;", false, "5001|Test 1|1.0|?|?|000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IdentifiedPrinter* identified =
            MakeIdentified(host.AddPrinter(Config("MFG:Orvane;MDL:Test 1;" + c.deviceId)), {});
        if (!c.defaultHead) {
            identified->description.defaultHead = "TH9";
        }
        AttachedPrinter printer(identified);
        ASSERT_TRUE(printer.Open());
        EXPECT_EQ(Identity(printer), c.identity);
        EXPECT_EQ(printer.AcceptsFirmwareFileName(L"RVX2_1.bin"),
                  c.identity.find("bin") != std::string::npos);
    }
}

TEST(AttachedPrinter, WithoutDescriptionEveryRequestFails) {
    AttachedPrinter printer(nullptr);
    PrinterStatusRecord status;
    const std::uint8_t byte = 0;
    EXPECT_FALSE(printer.Open());
    EXPECT_EQ(Identity(printer), "?|?|?|?|?|000");
    EXPECT_FALSE(printer.AcceptsFirmwareFileName(L"a.fw"));
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

    const nlohmann::json transcript = host.Printer(0).Transcript();
    const nlohmann::json expected = nlohmann::json::parse(R"([
        {"name": "StartCommand", "words": [56, 0, 0]},
        {"name": "ImageInfoCommand", "words": [312, 1048576, 16909060]},
        {"name": "DataHeaderCommand", "words": [568, 3, 0]},
        {"name": "EndCommand", "words": [4152, 0, 0]}])");
    EXPECT_EQ(transcript["commands"], expected);
    EXPECT_EQ(transcript["dataWrites"], nlohmann::json::array({3}));
}
