#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Common/Headers/PrinterStates.h"
#include "device/PrinterFinder.h"
#include "device/PrinterPort.h"
#include "platform/LastError.h"
#include "platform/ModulePath.h"
#include "tests/Halden/XmlTestFiles.h"
#include "tests/TransportUnderTest.h"
#include "tests/device/SimulatedPrinters.h"

#include "tests/AllocationFaults.h"

namespace {

using device_test::Host;
using device_test::WithFault;
using device_test::WithId;
using simulator::FaultKind;
using simulator::PrinterConfig;

constexpr const char* kIds = R"(<?xml version="1.0"?>
<ids>
  <vendor-ids>
    <vendor id="0x1209"><name>Orvane</name><name></name></vendor>
  </vendor-ids>
  <product-ids>
    <product id="1"><name>OP-A</name></product>
    <product id="2"><name>OP B</name></product>
    <product id="3"><name>OP-C</name></product>
    <product id="4"><name></name></product>
  </product-ids>
</ids>
)";

// Two records share the ids of OP-A; the first one counts. OP-C has names but no record.
constexpr const char* kDescriptions = R"(<?xml version="1.0"?>
<orvane_printing>
  <printers>
    <printer vid="0x1209" pid="1"><names><shortname resourceId="101">OP-A</shortname></names></printer>
    <printer vid="0x1209" pid="2"><names><shortname resourceId="102">OP-B</shortname></names></printer>
    <printer vid="0x1209" pid="1"><names><shortname resourceId="103">OP-A later</shortname></names></printer>
    <printer vid="0x1209" pid="4"><names><shortname resourceId="104">OP-EMPTY</shortname></names></printer>
  </printers>
</orvane_printing>
)";

std::wstring Wide(const XmlTestFiles& folder) {
    return std::wstring(folder.dir().begin(), folder.dir().end());
}

class PrinterFinderTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.Write("WendIDs.xml", kIds);
        folder_.Write("Wend.xml", kDescriptions);
        ASSERT_TRUE(finder_.SetDirectory(Wide(folder_).c_str()));
    }
    void TearDown() override {
        for (std::size_t index : added_) {
            Host().RemovePrinter(index);
        }
    }

    std::wstring Add(const PrinterConfig& config) {
        EXPECT_FALSE(Host().AddPrinter(config).empty()) << Host().error();
        added_.push_back(Host().PrinterCount() - 1);
        const std::string path = transport_test::PathOf(Host(), added_.back());
        return std::wstring(path.begin(), path.end());
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
        if (!finder.IdentifyPrinter(path.c_str(), slot, report)) {
            EXPECT_EQ(slot, nullptr);
            EXPECT_FALSE(found);
            EXPECT_FALSE(report.reason.empty());
            return "not: " + report.reason;
        }
        EXPECT_TRUE(found);
        const std::unique_ptr<IdentifiedPrinter> printer(slot);
        EXPECT_STREQ(printer->devicePath, path.c_str());
        EXPECT_TRUE(report.reason.empty());
        EXPECT_EQ(report.vendorId, printer->description.vendorId);
        EXPECT_EQ(report.productId, printer->description.productId);
        return printer->description.shortName;
    }

    static void ExpectIdentified(const std::string& result, const std::string& expected) {
        EXPECT_EQ(result.substr(0, expected.size()), expected) << result;
    }

    XmlTestFiles folder_;
    PrinterFinder finder_;
    std::vector<std::size_t> added_;
};

TEST_F(PrinterFinderTest, IdentifiesByDeviceIdNamesAndEnumeratesInOrder) {
    const struct {
        const char* name;
        PrinterConfig config;
        const char* shortName;
    } cases[] = {
        {"described model, first record wins", WithId("MFG:Orvane;MDL:OP-A;VER:1.0.0.0;"), "OP-A"},
        {"no MDL", WithId("MFG:Orvane;VER:1.0.0.0;"), "not: the device ID has no MDL: value"},
        {"no MFG", WithId("MDL:OP-A;"), "not: the device ID has no MFG: value"},
        {"extra blank inside MDL is collapsed", WithId("MFG:Orvane;MDL:OP  B;"), "OP-B"},
        {"different letter case", WithId("MFG:Orvane;MDL:op-a;"),
         "not: the model \"op-a\" is not in WendIDs.xml"},
        {"extra letter", WithId("MFG:Orvane;MDL:OP-AX;"), "not: the model \"OP-AX\""},
        {"unknown manufacturer", WithId("MFG:Orvan;MDL:OP-A;"),
         "not: the manufacturer \"Orvan\" is not in WendIDs.xml"},
        {"names known, no description", WithId("MFG:Orvane;MDL:OP-C;"),
         "not: Wend.xml has no printer with vendor id 4617 and product id 3"},
        {"empty text looks up empty names", WithId(std::string("\0MFG:Orvane;", 12)), "OP-EMPTY"},
        {"zero-byte device ID", WithId(""), "not: the printer answers with an empty device ID"},
        {"device-ID request fails", WithFault(FaultKind::kNoDeviceId),
         "not: the device ID cannot be read: "},
        {"held by another program", WithFault(FaultKind::kHeld),
         "not: the device is held by another program"},
    };
    std::vector<std::wstring> expectedPaths;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = Add(c.config);
        ExpectIdentified(Identify(finder_, path), c.shortName);
        if (std::string(c.shortName).rfind("not: ", 0) != 0) {
            expectedPaths.push_back(path);
        }
    }

    auto* earlier = new IdentifiedPrinter;
    std::vector<IdentifiedPrinter*> printers = {earlier};
    ASSERT_TRUE(finder_.EnumeratePrinters(printers));
    ASSERT_EQ(printers.size(), 1 + expectedPaths.size());
    EXPECT_EQ(printers[0], earlier);
    for (std::size_t i = 0; i < expectedPaths.size(); ++i) {
        EXPECT_STREQ(printers[i + 1]->devicePath, expectedPaths[i].c_str());
    }
    for (IdentifiedPrinter* printer : printers) {
        delete printer;
    }
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

TEST_F(PrinterFinderTest, DeviceHeldOpenIsNotIdentified) {
    const std::wstring path = Add(WithId("MFG:Orvane;MDL:OP-A;"));
    {
        PrinterPort holder;
        ASSERT_TRUE(holder.Open(path.c_str()));
        if (transport_test::Libusb()) {
            // Through libusb the port holds the printer from its first transfer on.
            std::uint8_t record[12];
            std::uint32_t length = sizeof record;
            ASSERT_TRUE(holder.Read(record, length));
        }
        EXPECT_EQ(Identify(finder_, path), "not: the device is held by another program");
        std::vector<IdentifiedPrinter*> printers;
        ASSERT_TRUE(finder_.EnumeratePrinters(printers));
        EXPECT_TRUE(printers.empty());
    }
    EXPECT_EQ(Identify(finder_, path), "OP-A");
}

// One finder for every case: each identification reads the files as they are now.
TEST_F(PrinterFinderTest, DescriptionFilesMustLoadAndAreReadEveryTime) {
    const std::string brokenIds = R"(<ids><vendor-ids><vendor><name>Orvane</name></vendor>
        </vendor-ids></ids>)";
    std::string renumberedIds = kIds;  // OP-A becomes product 2
    renumberedIds.replace(renumberedIds.find(R"("1")"), 3, R"("2")");
    std::string renamed = kDescriptions;
    renamed.replace(renamed.find("OP-A<"), 4, "OP-Z");
    const struct {
        const char* name;
        const char* ids;  // null: file absent
        const char* descriptions;
        const char* shortName;
    } cases[] = {
        {"both files", kIds, kDescriptions, "OP-A"},
        {"Wend.xml missing", kIds, nullptr, "not: Wend.xml cannot be loaded: "},
        {"WendIDs.xml missing", nullptr, kDescriptions, "not: WendIDs.xml cannot be loaded: "},
        {"Wend.xml not well-formed", kIds, "<orvane_printing><printers>",
         "not: Wend.xml cannot be loaded: "},
        {"vendor without id", brokenIds.c_str(), kDescriptions,
         "not: WendIDs.xml cannot be loaded: "},
        {"WendIDs.xml changed", renumberedIds.c_str(), kDescriptions, "OP-B"},
        {"Wend.xml changed", kIds, renamed.c_str(), "OP-Z"},
    };
    const std::wstring path = Add(WithId("MFG:Orvane;MDL:OP-A;"));
    PrinterFinder finder;
    // A trailing slash doubles the separator, which the file system ignores.
    ASSERT_TRUE(finder.SetDirectory((Wide(folder_) + L"/").c_str()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [name, content] :
             {std::pair{"WendIDs.xml", c.ids}, {"Wend.xml", c.descriptions}}) {
            if (content != nullptr) {
                folder_.Write(name, content);
            } else {
                std::filesystem::remove(folder_.dir() + "/" + name);
            }
        }
        ExpectIdentified(Identify(finder, path), c.shortName);
    }
}

TEST_F(PrinterFinderTest, IdentifiesAShippedModel) {
    const std::wstring path = Add(WithId("MFG:Orvane;MDL:Kestrel 200;VER:1.0.0.0;"));
    PrinterFinder finder;
    ASSERT_TRUE(finder.SetDirectory(platform::GetModuleDirectory().c_str()));
    EXPECT_EQ(Identify(finder, path), "Kestrel 200");
}

TEST_F(PrinterFinderTest, RefusesWithoutPathOrDirectory) {
    PrinterFinder finder;
    auto* earlier = new IdentifiedPrinter;
    std::vector<IdentifiedPrinter*> printers = {earlier};
    EXPECT_TRUE(finder.EnumeratePrinters(printers));  // no printer attached
    EXPECT_EQ(printers, std::vector<IdentifiedPrinter*>{earlier});
    delete earlier;

    const std::wstring path = Add(WithId("MFG:Orvane;MDL:OP-A;"));
    EXPECT_EQ(Identify(finder, path), "not: no description folder is set");
    platform::SetLastError(0);
    EXPECT_FALSE(finder.SetDirectory(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    ASSERT_TRUE(finder.SetDirectory(Wide(folder_).c_str()));

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
    EXPECT_EQ(text, "MFG:Orvane;MDL:OP-A;");
    EXPECT_EQ(Identify(finder, path), "OP-A");  // the read closed the device again
}

}  // namespace
