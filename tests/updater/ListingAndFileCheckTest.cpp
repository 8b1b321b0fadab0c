#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/updater/UpdaterTestSupport.h"
#include "updater/FirmwareFileCheck.h"
#include "updater/PrinterListing.h"

namespace {

using updater_test::Attach;
using updater_test::Config;

std::unique_ptr<AttachedPrinter> Model(simulator::UmockdevPrinterHost& host,
                                       const std::string& deviceId, const std::string& name,
                                       std::int32_t resourceId) {
    EXPECT_FALSE(host.AddPrinter(Config(deviceId)).empty()) << host.error();
    const std::string path = transport_test::PathOf(host, host.PrinterCount() - 1);
    IdentifiedPrinter* identified = updater_test::MakeIdentified(path, {});
    identified->description.shortName = name;
    identified->description.shortNameResourceId = resourceId;
    auto printer = std::make_unique<AttachedPrinter>(identified);
    EXPECT_TRUE(printer->Open());
    return printer;
}

TEST(PrinterListing, ListsReadablePrintersAndNumbersEachModel) {
    simulator::UmockdevPrinterHost host;
    std::vector<std::unique_ptr<AttachedPrinter>> owned;
    owned.push_back(Model(host, "MFG:Orvane;MDL:A;VER:1.0.0.0;", "A", 5001));
    owned.push_back(Model(host, "MFG:Orvane;MDL:B;VER:2.0.0.0;", "B", 5002));
    owned.push_back(Model(host, "MFG:Orvane;MDL:A;", "A", 5001));  // no version: left out
    owned.push_back(std::make_unique<AttachedPrinter>(nullptr));
    owned.push_back(Model(host, "MFG:Orvane;MDL:A;VER:1.1.0.0;", "A again", 5001));
    owned.push_back(Model(host, "MFG:Orvane;MDL:C;VER:3.0.0.0;", "C", -1));
    owned.push_back(Model(host, "MFG:Orvane;MDL:B;VER:2.1.0.0;", "B", 5002));
    std::vector<AttachedPrinter*> printers{nullptr};
    for (const auto& printer : owned) {
        printers.push_back(printer.get());
    }
    const struct {
        std::size_t printer;
        const char* name;
        std::int32_t id;
        const char* version;
        int counter;
    } expected[] = {{0, "A", 5001, "1.0.0.0", 1},
                    {1, "B", 5002, "2.0.0.0", 1},
                    {4, "A again", 5001, "1.1.0.0", 2},
                    {5, "C", -1, "3.0.0.0", 1},
                    {6, "B", 5002, "2.1.0.0", 2}};
    const std::vector<ListedPrinter> listed = ListPrinters(printers);
    ASSERT_EQ(listed.size(), std::size(expected));
    for (std::size_t i = 0; i < listed.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(listed[i].printer, owned[expected[i].printer].get());
        EXPECT_EQ(listed[i].shortName, expected[i].name);
        EXPECT_EQ(listed[i].modelId, expected[i].id);
        EXPECT_EQ(listed[i].firmwareVersion, expected[i].version);
        EXPECT_EQ(listed[i].counter, expected[i].counter);
    }
}

TEST(FirmwareFileCheck, RunsTheChecksInOrderAndStopsAtTheFirstFailure) {
    const std::string dir = updater_test::MakeTempDir();
    auto withCrc = [](std::vector<std::uint8_t> bytes) {
        const std::uint16_t crc = FirmwareImage::Crc16(bytes.data(), bytes.size() - 2);
        bytes[bytes.size() - 2] = static_cast<std::uint8_t>(crc);
        bytes[bytes.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
        return bytes;
    };
    const std::vector<std::uint8_t> bytes = withCrc(updater_test::ImageBytes(4000));  // 1.5.0.3
    std::vector<std::uint8_t> older = updater_test::ImageBytes(4000);
    older[2] = 1;  // 1.5.0.1
    older = withCrc(older);
    std::vector<std::uint8_t> broken = bytes;
    broken[100] ^= 0xFF;
    updater_test::WriteFile(dir, "RVX2_new.bin", bytes);
    updater_test::WriteFile(dir, "RVX2_old.bin", older);
    updater_test::WriteFile(dir, "RVX2_bad.bin", broken);
    updater_test::WriteFile(dir, ".fw", bytes);
    updater_test::WriteFile(dir, "RVX2_tiny.bin", {1, 2});

    // 1.5.0.2 checking CRCs, 1.5.0.3 checking CRCs, no version, 1.5.0.2 not checking CRCs.
    simulator::UmockdevPrinterHost host;
    std::unique_ptr<AttachedPrinter> printers[] = {
        Attach(host, Config("MFG:Orvane;MDL:T;VER:1.5.0.2;"), {false, false, 1}),
        Attach(host, Config("MFG:Orvane;MDL:T;VER:1.5.0.3;"), {false, false, 1}),
        Attach(host, Config("MFG:Orvane;MDL:T;"), {false, false, 1}),
        Attach(host, Config("MFG:Orvane;MDL:T;VER:1.5.0.2;"), {false, false, 0})};
    const struct {
        const char* file;
        int printer;
        bool accepted, loaded, versionRead, notNewer, titled;
    } cases[] = {
        {"RVX2_new.bin", 0, true, true, true, false, true},
        {"RVX2_old.bin", 0, true, true, true, true, true},
        {"RVX2_new.bin", 1, true, true, true, true, true},
        {"RVX2_new.bin", 2, true, true, false, false, true},
        {"RVX2_bad.bin", 0, true, false, false, false, false},
        {"RVX2_bad.bin", 3, true, true, true, false, true},
        {"RVX2_tiny.bin", 3, true, false, false, false, false},
        {".fw", 3, false, false, false, false, false},
        // The head judges the name it is given; the title comes from the path opened.
        {"x.fw", 3, true, true, true, false, false},
        {"OTHER.bin", 3, false, false, false, false, false},
        {"RVX2_missing.bin", 3, true, false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " on printer " + std::to_string(c.printer));
        AttachedPrinter* printer = printers[c.printer].get();
        const bool crc = c.printer < 3;
        const std::string path = dir + "/" + (c.file == std::string("x.fw") ? ".fw" : c.file);
        const FirmwareFileCheck check =
            CheckFirmwareFile(*printer, updater_test::Wide(path), updater_test::Wide(c.file));
        EXPECT_EQ(check.accepted, c.accepted);
        EXPECT_EQ(check.crcChecked, crc);
        EXPECT_EQ(check.loaded, c.loaded);
        EXPECT_EQ(check.image != nullptr, c.loaded);
        EXPECT_EQ(check.printerVersionRead, c.versionRead);
        EXPECT_EQ(check.notNewer, c.notNewer);
        EXPECT_EQ(check.titled, c.titled);
        EXPECT_EQ(check.Usable(), c.accepted && c.loaded && c.titled);
        if (c.loaded) {
            EXPECT_EQ(check.version,
                      c.file == std::string("RVX2_old.bin") ? L"1.5.0.1" : L"1.5.0.3");
        }
        if (c.titled) {
            EXPECT_EQ(check.title, updater_test::Wide(path.substr(
                                       dir.size() + 1, path.rfind('.') - dir.size() - 1)));
        }
    }
}

}  // namespace
