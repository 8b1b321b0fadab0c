#include "platform/LastError.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/FirmwareFileCheck.h"
#include "updater/PrinterListing.h"

using namespace updater_test;

namespace {

// "resource id|short name|version|head|extensions|crc strip reboot flags|whether it accepts
// rvx2_105.BIN, any.fw, X_RVX2_1.bin, über.fw", "?" for a refusal.
std::string Identity(AttachedPrinter& printer) {
    std::int32_t id = 0;
    std::vector<std::string> list;
    std::string name, version, head, accepts,
        extensions = printer.GetFirmwareExtensions(list) ? "" : "?";
    for (const std::string& extension : list)
        extensions += extension + ",";
    // Names are narrowed under the locale ("C" here), which cannot represent the last one.
    for (const wchar_t* file : {L"rvx2_105.BIN", L"any.fw", L"X_RVX2_1.bin", L"\u00fcber.fw"})
        accepts += std::to_string(printer.AcceptsFirmwareFileName(file));
    return (printer.GetModelNameResourceId(id) ? std::to_string(id) : "?") + "|" +
           (printer.GetShortName(name) ? name : "?") + "|" +
           (printer.GetFirmwareVersion(version) ? version : "?") + "|" +
           (printer.GetHeadName(head) ? head : "?") + "|" + extensions + "|" +
           std::to_string(printer.VerifiesFirmwareCrc()) +
           std::to_string(printer.StripsVersionBytes()) + std::to_string(printer.RequiresReboot()) +
           "|" + accepts;
}

}  // namespace

TEST(AttachedPrinter, IdentityQueriesFollowTheDeviceIdAndDescription) {
    simulator::UmockdevPrinterHost host;
    auto withHead = Attach(host, Config("MFG:Orvane;MDL:Test 1;VER:2.1.0.4;PHD:TH2;"));
    auto withoutHead = Attach(host, Config("MFG:Orvane;MDL:Test 1;VER:2.1;"), {false, false, 1});
    auto unreadable =
        Attach(host, Scenario(R"("faults": [{"kind": "no-device-id"}])"), {true, true, 0});
    AttachedPrinter none(nullptr);

    // Only firmwareCrcVerify == 1 turns the check on.
    EXPECT_EQ(Identity(*withHead), "5001|Test 1|2.1.0.4|TH2||000|0000");
    EXPECT_EQ(Identity(*withoutHead), "5001|Test 1|2.1|TH1|bin,fw,|100|1100");
    EXPECT_EQ(Identity(*unreadable), "5001|Test 1|?|?|?|011|0000");
    EXPECT_EQ(Identity(none), "?|?|?|?|?|000|0000");
    platform::SetLastError(0);
    EXPECT_FALSE(withoutHead->AcceptsFirmwareFileName(L""));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);

    // Without a description every request fails.
    PrinterStatusRecord status;
    const std::uint8_t data[3] = {1, 2, 3};
    EXPECT_FALSE(none.Open() || none.ReadStatus(status) || none.SendStart() || none.SendEnd() ||
                 none.SendImageInfo(1) || none.SendDataHeader(1) || none.SendData(data, 1));

    // Commands are three little-endian words.
    EXPECT_TRUE(withHead->SendStart() && withHead->SendImageInfo(0x01020304) &&
                withHead->SendDataHeader(3) && withHead->SendData(data, 3) && withHead->SendEnd());
    const nlohmann::json transcript = host.Printer(0).Transcript();
    EXPECT_EQ(transcript["commands"], nlohmann::json::parse(R"([
        {"name": "StartCommand", "words": [56, 0, 0]},
        {"name": "ImageInfoCommand", "words": [312, 1048576, 16909060]},
        {"name": "DataHeaderCommand", "words": [568, 3, 0]},
        {"name": "EndCommand", "words": [4152, 0, 0]}])"));
    EXPECT_EQ(transcript["dataWrites"], nlohmann::json::array({3}));
}

// The head named by PHD:, or the description's default head when PHD: is absent or empty.
TEST(AttachedPrinter, HeadAndVersionFallbacks) {
    simulator::UmockdevPrinterHost host;
    // The device ID after its model, the description's default head, the identity.
    const std::tuple<std::string, const char*, std::string> cases[] = {
        {"VER:1.0;", "TH1", "5001|Test 1|1.0|TH1|bin,fw,|000|1100"},
        {"VER:1.0;PHD:;", "TH1", "5001|Test 1|1.0|TH1|bin,fw,|000|1100"},
        {"VER:1.0;PHD:ZZ;", "TH1", "5001|Test 1|1.0|ZZ|?|000|0000"},
        {"VER:1.0;", "TH9", "5001|Test 1|1.0|?|?|000|0000"}};
    for (const auto& [deviceId, defaultHead, identity] : cases) {
        SCOPED_TRACE(deviceId + defaultHead);
        IdentifiedPrinter* identified =
            MakeIdentified(host.AddPrinter(Config("MFG:Orvane;MDL:Test 1;" + deviceId)), {});
        identified->description.defaultHead = defaultHead;
        AttachedPrinter printer(identified);
        ASSERT_TRUE(printer.Open());
        EXPECT_EQ(Identity(printer), identity);
    }
}

TEST(PrinterListing, ListsReadablePrintersAndNumbersEachModel) {
    simulator::UmockdevPrinterHost host;
    std::vector<std::unique_ptr<AttachedPrinter>> owned;
    owned.push_back(Attach(host, Config("MFG:Orvane;MDL:A;VER:1.0.0.0;"), {}, "A", 5001));
    owned.push_back(Attach(host, Config("MFG:Orvane;MDL:B;VER:2.0.0.0;"), {}, "B", 5002));
    owned.push_back(
        Attach(host, Config("MFG:Orvane;MDL:A;"), {}, "A", 5001));  // no version: left out
    owned.push_back(std::make_unique<AttachedPrinter>(nullptr));
    owned.push_back(Attach(host, Config("MFG:Orvane;MDL:A;VER:1.1.0.0;"), {}, "A again", 5001));
    owned.push_back(Attach(host, Config("MFG:Orvane;MDL:C;VER:3.0.0.0;"), {}, "C", -1));
    owned.push_back(Attach(host, Config("MFG:Orvane;MDL:B;VER:2.1.0.0;"), {}, "B", 5002));
    std::vector<AttachedPrinter*> printers{nullptr};
    for (const auto& printer : owned)
        printers.push_back(printer.get());
    // "position in the input|name|model id|version|counter"
    std::vector<std::string> listed;
    for (const ListedPrinter& l : ListPrinters(printers)) {
        const auto at = std::find(printers.begin(), printers.end(), l.printer) - printers.begin();
        listed.push_back(std::to_string(at) + "|" + l.shortName + "|" + std::to_string(l.modelId) +
                         "|" + l.firmwareVersion + "|" + std::to_string(l.counter));
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"1|A|5001|1.0.0.0|1", "2|B|5002|2.0.0.0|1",
                                                "5|A again|5001|1.1.0.0|2", "6|C|-1|3.0.0.0|1",
                                                "7|B|5002|2.1.0.0|2"}));
}

TEST(FirmwareFileCheck, RunsTheChecksInOrderAndStopsAtTheFirstFailure) {
    const std::string dir = MakeTempDir();
    const std::vector<std::uint8_t> bytes = WithCrc(ImageBytes(3998));  // 1.5.0.3
    std::vector<std::uint8_t> older = ImageBytes(3998), broken = bytes;
    older[2] = 1;  // 1.5.0.1
    broken[100] ^= 0xFF;
    WriteFile(dir, "RVX2_new.bin", bytes);
    WriteFile(dir, "RVX2_old.bin", WithCrc(older));
    WriteFile(dir, "RVX2_bad.bin", broken);
    WriteFile(dir, ".fw", bytes);
    WriteFile(dir, "RVX2_tiny.bin", {1, 2});

    // 1.5.0.2 checking CRCs, 1.5.0.3 checking CRCs, no version, 1.5.0.2 not checking CRCs.
    simulator::UmockdevPrinterHost host;
    std::unique_ptr<AttachedPrinter> printers[] = {
        Attach(host, Config("MFG:Orvane;MDL:T;VER:1.5.0.2;"), {false, false, 1}),
        Attach(host, Config("MFG:Orvane;MDL:T;VER:1.5.0.3;"), {false, false, 1}),
        Attach(host, Config("MFG:Orvane;MDL:T;"), {false, false, 1}),
        Attach(host, Config("MFG:Orvane;MDL:T;VER:1.5.0.2;"), {false, false, 0})};
    // The flags: accepted, CRC checked, loaded, has an image, printer version read, not newer,
    // titled, usable; then the version if loaded and the title if titled. The head judges the
    // name it is given; the title comes from the path opened (".fw" for "x.fw").
    const std::tuple<const char*, int, const char*> cases[] = {
        {"RVX2_new.bin", 0, "11111011|1.5.0.3|RVX2_new"},
        {"RVX2_old.bin", 0, "11111111|1.5.0.1|RVX2_old"},
        {"RVX2_new.bin", 1, "11111111|1.5.0.3|RVX2_new"},
        {"RVX2_new.bin", 2, "11110011|1.5.0.3|RVX2_new"},
        {"RVX2_bad.bin", 0, "11000000||"},
        {"RVX2_bad.bin", 3, "10111011|1.5.0.3|RVX2_bad"},
        {"RVX2_tiny.bin", 3, "10000000||"},
        {".fw", 3, "00000000||"},
        {"x.fw", 3, "10111000|1.5.0.3|"},
        {"OTHER.bin", 3, "00000000||"},
        {"RVX2_missing.bin", 3, "10000000||"}};
    for (const auto& [file, printer, result] : cases) {
        SCOPED_TRACE(std::string(file) + " on printer " + std::to_string(printer));
        const std::string path = dir + "/" + (file == std::string("x.fw") ? ".fw" : file);
        const FirmwareFileCheck check =
            CheckFirmwareFile(*printers[printer], Wide(path), Wide(file));
        std::string flags;
        for (const bool flag :
             {check.accepted, check.crcChecked, check.loaded, check.image != nullptr,
              check.printerVersionRead, check.notNewer, check.titled, check.Usable()})
            flags += flag ? "1" : "0";
        EXPECT_EQ(
            flags + "|" +
                (check.loaded ? std::string(check.version.begin(), check.version.end()) : "") +
                "|" + (check.titled ? std::string(check.title.begin(), check.title.end()) : ""),
            result);
    }
}
