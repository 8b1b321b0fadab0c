#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "device/PrinterFinder.h"
#include "platform/LastError.h"
#include "tests/Halden/XmlTestFiles.h"
#include "tests/TransportUnderTest.h"
#include "tests/device/SimulatedPrinters.h"

#include "tests/AllocationFaults.h"

using namespace device_test;
using simulator::FaultKind;

constexpr const char* kIds = R"(<ids>
  <vendor-ids><vendor id="0x1209"><name>Orvane</name><name></name></vendor></vendor-ids>
  <product-ids><product id="1"><name>OP-A</name></product><product id="2"><name>OP B</name></product>
    <product id="3"><name>OP-C</name></product><product id="4"><name></name></product></product-ids>
</ids>)";

// Two records share the ids of OP-A; the first one counts. OP-C has names but no record.
constexpr const char* kDescriptions = R"(<orvane_printing><printers>
  <printer vid="0x1209" pid="1"><names><shortname resourceId="101">OP-A</shortname></names></printer>
  <printer vid="0x1209" pid="2"><names><shortname resourceId="102">OP-B</shortname></names></printer>
  <printer vid="0x1209" pid="1"><names><shortname resourceId="103">OP-A later</shortname></names></printer>
  <printer vid="0x1209" pid="4"><names><shortname resourceId="104">OP-EMPTY</shortname></names></printer>
</printers></orvane_printing>)";

class PrinterFinderTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.Write("WendIDs.xml", kIds);
        folder_.Write("Wend.xml", kDescriptions);
        ASSERT_TRUE(finder_.SetDirectory(dir_.c_str()));
    }
    void TearDown() override {
        for (std::size_t index : added_) {
            Host().RemovePrinter(index);
        }
    }

    std::wstring Add(const simulator::PrinterConfig& config) {
        added_.push_back(Host().PrinterCount());
        return AddPrinter(config, transport_test::Libusb());
    }

    // The model's short name, or "not: " and the report's reason. Both forms of the call must
    // agree, and the report must carry the ids of what was identified.
    static std::string Identify(PrinterFinder& finder, const std::wstring& path) {
        IdentifiedPrinter* plain = nullptr;
        const bool found = finder.IdentifyPrinter(path.c_str(), plain);
        delete plain;
        IdentifiedPrinter* slot = nullptr;
        IdentificationReport report;
        report.reason = "stale";
        const bool identified = finder.IdentifyPrinter(path.c_str(), slot, report);
        const std::unique_ptr<IdentifiedPrinter> printer(slot);
        EXPECT_EQ(found, identified);
        EXPECT_EQ(slot != nullptr, identified);
        EXPECT_EQ(report.reason.empty(), identified);
        if (!identified) {
            return "not: " + report.reason;
        }
        EXPECT_STREQ(printer->devicePath, path.c_str());
        EXPECT_EQ(report.vendorId, printer->description.vendorId);
        EXPECT_EQ(report.productId, printer->description.productId);
        return printer->description.shortName;
    }

    // A name must match exactly, a reason may be given by its beginning.
    static void Expect(PrinterFinder& finder, const std::wstring& path, const std::string& wanted) {
        const std::string result = Identify(finder, path);
        EXPECT_EQ(wanted.rfind("not: ", 0) == 0 ? result.substr(0, wanted.size()) : result, wanted)
            << result;
    }

    XmlTestFiles folder_;
    const std::string folderPath_ =
        std::filesystem::path(folder_.Write("Wend.xml", "")).parent_path();
    const std::wstring dir_{folderPath_.begin(), folderPath_.end()};
    PrinterFinder finder_;
    std::vector<std::size_t> added_;
};

TEST_F(PrinterFinderTest, IdentifiesByDeviceIdNamesAndEnumeratesInOrder) {
    // The first record of two with the same ids wins; the empty text looks up empty names.
    const std::pair<simulator::PrinterConfig, const char*> cases[] = {
        {WithId("MFG:Orvane;MDL:OP-A;VER:1.0.0.0;"), "OP-A"},
        {WithId("MFG:Orvane;VER:1.0.0.0;"), "not: the device ID has no MDL: value"},
        {WithId("MDL:OP-A;"), "not: the device ID has no MFG: value"},
        {WithId("MFG:Orvane;MDL:OP  B;"), "OP-B"},
        {WithId("MFG:Orvane;MDL:op-a;"), "not: the model \"op-a\" is not in WendIDs.xml"},
        {WithId("MFG:Orvane;MDL:OP-AX;"), "not: the model \"OP-AX\""},
        {WithId("MFG:Orvan;MDL:OP-A;"), "not: the manufacturer \"Orvan\" is not in WendIDs.xml"},
        {WithId("MFG:Orvane;MDL:OP-C;"),
         "not: Wend.xml has no printer with vendor id 4617 and product id 3"},
        {WithId(std::string("\0MFG:Orvane;", 12)), "OP-EMPTY"},
        {WithId(""), "not: the printer answers with an empty device ID"},
        {WithFault(FaultKind::kNoDeviceId), "not: the device ID cannot be read: "},
        {WithFault(FaultKind::kHeld), "not: the device is held by another program"},
    };
    std::vector<std::wstring> expectedPaths = {L"earlier"};
    for (const auto& [config, shortName] : cases) {
        SCOPED_TRACE(shortName);
        const std::wstring path = Add(config);
        Expect(finder_, path, shortName);
        if (std::string(shortName).rfind("not: ", 0) != 0) {
            expectedPaths.push_back(path);
        }
    }
    auto* earlier = new IdentifiedPrinter;
    std::vector<IdentifiedPrinter*> printers = {earlier};
    ASSERT_TRUE(finder_.EnumeratePrinters(printers));
    std::vector<std::wstring> paths;
    for (IdentifiedPrinter* printer : printers) {
        paths.push_back(printer == earlier ? L"earlier" : printer->devicePath);
        delete printer;
    }
    EXPECT_EQ(paths, expectedPaths);
}

#ifndef REFLASHER_NO_ALLOCATION_FAULTS
TEST_F(PrinterFinderTest, FailedAllocationLeavesThePrinterOutAndEnumerationGoesOn) {
    const std::wstring first = Add(WithId("MFG:Orvane;MDL:OP-A;"));
    const std::wstring second = Add(WithId("MFG:Orvane;MDL:OP B;"));
    allocation_faults::FailNext(sizeof(IdentifiedPrinter), true);
    IdentifiedPrinter* slot = nullptr;
    EXPECT_FALSE(finder_.IdentifyPrinter(first.c_str(), slot));
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(allocation_faults::size.load(), 0u);
    allocation_faults::FailNext(sizeof(IdentifiedPrinter), true);
    std::vector<IdentifiedPrinter*> printers;
    ASSERT_TRUE(finder_.EnumeratePrinters(printers));
    EXPECT_EQ(allocation_faults::size.load(), 0u);
    ASSERT_EQ(printers.size(), 1u);
    EXPECT_STREQ(printers[0]->devicePath, second.c_str());
    delete printers[0];
}
#endif

// A finder refuses without a folder or a path; once it has a folder, each identification reads
// the files as they are now.
TEST_F(PrinterFinderTest, RefusesWithoutPathOrFolderAndReadsTheFilesEveryTime) {
    const std::string brokenIds =
        "<ids><vendor-ids><vendor><name>O</name></vendor></vendor-ids></ids>";
    std::string renumberedIds = kIds;  // OP-A becomes product 2
    renumberedIds.replace(renumberedIds.find(R"("1")"), 3, R"("2")");
    std::string renamed = kDescriptions;
    renamed.replace(renamed.find("OP-A<"), 4, "OP-Z");
    // WendIDs.xml, Wend.xml (null: file absent) and the result.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {kIds, kDescriptions, "OP-A"},
        {kIds, nullptr, "not: Wend.xml cannot be loaded: "},
        {nullptr, kDescriptions, "not: WendIDs.xml cannot be loaded: "},
        {kIds, "<orvane_printing><printers>", "not: Wend.xml cannot be loaded: "},
        {brokenIds.c_str(), kDescriptions, "not: WendIDs.xml cannot be loaded: "},
        {renumberedIds.c_str(), kDescriptions, "OP-B"},
        {kIds, renamed.c_str(), "OP-Z"},
    };
    const std::wstring path = Add(WithId("MFG:Orvane;MDL:OP-A;"));
    PrinterFinder finder;
    EXPECT_EQ(Identify(finder, path), "not: no description folder is set");
    platform::SetLastError(0);
    EXPECT_FALSE(finder.SetDirectory(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    // A trailing slash doubles the separator, which the file system ignores.
    ASSERT_TRUE(finder.SetDirectory((dir_ + L"/").c_str()));
    const std::uint64_t opens = transport_test::Opens(Host(), added_.back());
    IdentifiedPrinter* slot = nullptr;
    platform::SetLastError(0);
    EXPECT_FALSE(finder.IdentifyPrinter(nullptr, slot));
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    std::string text = "kept";
    EXPECT_FALSE(finder.ReadDeviceId(nullptr, text));
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(transport_test::Opens(Host(), added_.back()), opens);
    EXPECT_TRUE(finder.ReadDeviceId(path.c_str(), text));
    EXPECT_EQ(text, "MFG:Orvane;MDL:OP-A;");  // and the first case finds the device closed again
    for (const auto& [ids, descriptions, shortName] : cases) {
        SCOPED_TRACE(shortName);
        for (const auto& [name, content] :
             {std::pair{"WendIDs.xml", ids}, {"Wend.xml", descriptions}}) {
            if (content != nullptr) {
                folder_.Write(name, content);
            } else {
                std::filesystem::remove(folderPath_ + "/" + name);
            }
        }
        Expect(finder, path, shortName);
    }
}
