#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Common/Headers/PrinterStates.h"
#include "device/PrinterFinder.h"
#include "device/PrinterPort.h"
#include "platform/LastError.h"
#include "platform/ModulePath.h"
#include "tests/device/SimulatedPrinters.h"

namespace {

namespace fs = std::filesystem;
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

class DescriptionFolder {
public:
    DescriptionFolder() {
        char pattern[] = "/tmp/reflasher-finder-XXXXXX";
        path_ = ::mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~DescriptionFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    void Write(const char* name, const std::string& text) const {
        std::ofstream(fs::path(path_) / name) << text;
    }
    std::wstring Wide() const { return fs::path(path_).wstring(); }

private:
    std::string path_;
};

std::unique_ptr<DescriptionFolder> StandardFolder() {
    auto folder = std::make_unique<DescriptionFolder>();
    folder->Write("WendIDs.xml", kIds);
    folder->Write("Wend.xml", kDescriptions);
    return folder;
}

class PrinterFinderTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (std::size_t index : added_) {
            Host().RemovePrinter(index);
        }
    }

    std::wstring Add(const PrinterConfig& config) {
        const std::string path = Host().AddPrinter(config);
        EXPECT_FALSE(path.empty()) << Host().error();
        added_.push_back(Host().PrinterCount() - 1);
        return std::wstring(path.begin(), path.end());
    }

    // Identification's result: the model's short name, or "" when not identified.
    static std::string Identify(PrinterFinder& finder, const std::wstring& path) {
        IdentifiedPrinter* slot = nullptr;
        if (!finder.IdentifyPrinter(path.c_str(), slot)) {
            EXPECT_EQ(slot, nullptr);
            return "";
        }
        const std::unique_ptr<IdentifiedPrinter> printer(slot);
        EXPECT_STREQ(printer->devicePath, path.c_str());
        return printer->description.shortName;
    }

    std::vector<std::size_t> added_;
};

TEST_F(PrinterFinderTest, IdentifiesByDeviceIdNamesAndEnumeratesInOrder) {
    const struct {
        const char* name;
        PrinterConfig config;
        const char* shortName;
    } cases[] = {
        {"described model, first record wins", WithId("MFG:Orvane;MDL:OP-A;VER:1.0.0.0;"), "OP-A"},
        {"no MDL", WithId("MFG:Orvane;VER:1.0.0.0;"), ""},
        {"extra blank inside MDL is collapsed", WithId("MFG:Orvane;MDL:OP  B;"), "OP-B"},
        {"different letter case", WithId("MFG:Orvane;MDL:op-a;"), ""},
        {"extra letter", WithId("MFG:Orvane;MDL:OP-AX;"), ""},
        {"unknown manufacturer", WithId("MFG:Orvan;MDL:OP-A;"), ""},
        {"names known, no description", WithId("MFG:Orvane;MDL:OP-C;"), ""},
        {"empty text looks up empty names", WithId(std::string("\0MFG:Orvane;", 12)), "OP-EMPTY"},
        {"zero-byte device ID", WithId(""), ""},
        {"device-ID request fails", WithFault(FaultKind::kNoDeviceId), ""},
        {"held by another program", WithFault(FaultKind::kHeld), ""},
    };
    const auto folder = StandardFolder();
    PrinterFinder finder;
    ASSERT_TRUE(finder.SetDirectory(folder->Wide().c_str()));
    std::vector<std::wstring> expectedPaths;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = Add(c.config);
        EXPECT_EQ(Identify(finder, path), c.shortName);
        if (*c.shortName != '\0') {
            expectedPaths.push_back(path);
        }
    }

    auto* earlier = new IdentifiedPrinter;
    std::vector<IdentifiedPrinter*> printers = {earlier};
    ASSERT_TRUE(finder.EnumeratePrinters(printers));
    ASSERT_EQ(printers.size(), 1 + expectedPaths.size());
    EXPECT_EQ(printers[0], earlier);
    for (std::size_t i = 0; i < expectedPaths.size(); ++i) {
        EXPECT_STREQ(printers[i + 1]->devicePath, expectedPaths[i].c_str());
    }
    for (IdentifiedPrinter* printer : printers) {
        delete printer;
    }
}

TEST_F(PrinterFinderTest, DeviceHeldOpenIsNotIdentified) {
    const auto folder = StandardFolder();
    PrinterFinder finder;
    ASSERT_TRUE(finder.SetDirectory(folder->Wide().c_str()));
    const std::wstring path = Add(WithId("MFG:Orvane;MDL:OP-A;"));
    {
        PrinterPort holder;
        ASSERT_TRUE(holder.Open(path.c_str()));
        EXPECT_EQ(Identify(finder, path), "");
        std::vector<IdentifiedPrinter*> printers;
        ASSERT_TRUE(finder.EnumeratePrinters(printers));
        EXPECT_TRUE(printers.empty());
    }
    EXPECT_EQ(Identify(finder, path), "OP-A");
}

TEST_F(PrinterFinderTest, DescriptionFilesMustLoad) {
    const std::string brokenIds = R"(<ids><vendor-ids><vendor><name>Orvane</name></vendor>
        </vendor-ids></ids>)";
    const struct {
        const char* name;
        const char* ids;  // null: file absent
        const char* descriptions;
        bool identified;
    } cases[] = {
        {"both files", kIds, kDescriptions, true},
        {"Wend.xml missing", kIds, nullptr, false},
        {"WendIDs.xml missing", nullptr, kDescriptions, false},
        {"Wend.xml not well-formed", kIds, "<orvane_printing><printers>", false},
        {"vendor without id", brokenIds.c_str(), kDescriptions, false},
    };
    const std::wstring path = Add(WithId("MFG:Orvane;MDL:OP-A;"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DescriptionFolder folder;
        if (c.ids != nullptr) {
            folder.Write("WendIDs.xml", c.ids);
        }
        if (c.descriptions != nullptr) {
            folder.Write("Wend.xml", c.descriptions);
        }
        PrinterFinder finder;
        // A trailing slash doubles the separator, which the file system ignores.
        ASSERT_TRUE(finder.SetDirectory((folder.Wide() + L"/").c_str()));
        EXPECT_EQ(Identify(finder, path), c.identified ? "OP-A" : "");
    }
}

TEST_F(PrinterFinderTest, IdentifiesAShippedModel) {
    const std::wstring directory = platform::GetModuleDirectory();
    std::vector<PrinterDescription> records;
    std::map<std::string, std::int32_t> vendors;
    std::map<std::string, std::int32_t> products;
    std::string error;
    ASSERT_TRUE(LoadPrinterDescriptions(directory + L"Wend.xml", records, &error)) << error;
    ASSERT_TRUE(LoadIdMappings(directory + L"WendIDs.xml", vendors, products, &error)) << error;
    const auto nameOf = [](const std::map<std::string, std::int32_t>& names, std::uint32_t id) {
        for (const auto& [name, value] : names) {
            if (static_cast<std::uint32_t>(value) == id) {
                return name;
            }
        }
        return std::string("\n");  // no such name: a device ID cannot carry it
    };
    ASSERT_FALSE(records.empty());
    const PrinterDescription& model = records.front();
    const std::string vendor = nameOf(vendors, model.vendorId);
    const std::string product = nameOf(products, model.productId);
    ASSERT_NE(vendor, "\n");
    ASSERT_NE(product, "\n");

    const std::wstring path = Add(WithId("MFG:" + vendor + ";MDL:" + product + ";VER:1.0.0.0;"));
    PrinterFinder finder;
    ASSERT_TRUE(finder.SetDirectory(directory.c_str()));
    EXPECT_EQ(Identify(finder, path), model.shortName);
}

TEST_F(PrinterFinderTest, RefusesWithoutPathOrDirectory) {
    const auto folder = StandardFolder();
    PrinterFinder finder;
    auto* earlier = new IdentifiedPrinter;
    std::vector<IdentifiedPrinter*> printers = {earlier};
    EXPECT_TRUE(finder.EnumeratePrinters(printers));  // no printer attached
    EXPECT_EQ(printers, std::vector<IdentifiedPrinter*>{earlier});
    delete earlier;

    const std::wstring path = Add(WithId("MFG:Orvane;MDL:OP-A;"));
    EXPECT_EQ(Identify(finder, path), "");  // no directory yet
    platform::SetLastError(0);
    EXPECT_FALSE(finder.SetDirectory(nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    ASSERT_TRUE(finder.SetDirectory(folder->Wide().c_str()));

    const std::uint64_t opens = Host().Printer(added_.back()).Opens();
    IdentifiedPrinter* slot = nullptr;
    platform::SetLastError(0);
    EXPECT_FALSE(finder.IdentifyPrinter(nullptr, slot));
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);
    std::string text = "kept";
    EXPECT_FALSE(finder.ReadDeviceId(nullptr, text));
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(Host().Printer(added_.back()).Opens(), opens);

    EXPECT_TRUE(finder.ReadDeviceId(path.c_str(), text));
    EXPECT_EQ(text, "MFG:Orvane;MDL:OP-A;");
    EXPECT_EQ(Identify(finder, path), "OP-A");  // the read closed the device again
}

}  // namespace
