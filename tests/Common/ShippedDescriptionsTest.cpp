#include <gtest/gtest.h>

#include <set>

#include "tests/Common/DescriptionLoadSupport.h"

// The shipped files lie beside the test programs (the tests run in the program folder).

TEST(ShippedDescriptions, EveryModelIsCompleteAndFoundUnderEachSpelling) {
    std::vector<PrinterDescription> records;
    std::string error;
    ASSERT_TRUE(LoadPrinterDescriptions(L"Wend.xml", records, &error)) << error;
    ASSERT_GE(records.size(), 5u);
    std::set<std::pair<std::uint32_t, std::uint32_t>> ids;
    for (const PrinterDescription& d : records) {
        EXPECT_TRUE(ids.insert({d.vendorId, d.productId}).second) << d.shortName;
        EXPECT_NE(d.shortName, "Unknown");
        EXPECT_GE(d.shortNameResourceId, 0) << d.shortName;
        EXPECT_FALSE(d.GetDefaultHead().firmwareNameSpecs.empty()) << d.shortName;
    }

    std::map<std::string, std::int32_t> vendors, products;
    ASSERT_TRUE(LoadIdMappings(L"WendIDs.xml", vendors, products, &error)) << error;
    EXPECT_GE(vendors.size(), 2u);
    for (const auto& [vendorName, vendorId] : vendors) {
        for (const auto& [productName, productId] : products) {
            PrinterDescription found;
            EXPECT_TRUE(LookupPrinterDescription(L"Wend.xml", L"WendIDs.xml", vendorName,
                                                 productName, found))
                << vendorName << " / " << productName;
            EXPECT_EQ(found.productId, static_cast<std::uint32_t>(productId));
        }
    }
}

TEST(Lookup, FirstMatchingRecordAndFailuresLeaveTheRecordAlone) {
    XmlTestFiles files;
    const std::wstring wend = files.WriteWide(
        "Wend.xml",
        "<orvane_printing><printers><printer vid='1' pid='2'><icon>first</icon></printer>"
        "<printer vid='1' pid='2'><icon>second</icon></printer><printer vid='1' pid='3'/>"
        "</printers></orvane_printing>");
    const std::wstring ids = files.WriteWide(
        "WendIDs.xml",
        "<ids><vendor-ids><vendor id='1'><name>V</name></vendor></vendor-ids><product-ids>"
        "<product id='2'><name>P</name></product><product id='9'><name>Q</name></product>"
        "</product-ids></ids>");
    PrinterDescription record;
    ASSERT_TRUE(LookupPrinterDescription(wend, ids, "V", "P", record));
    EXPECT_EQ(record.icon, "first");

    record.icon = "kept";
    // Name matching itself is covered by the printer finder's tests.
    EXPECT_FALSE(LookupPrinterDescription(wend, ids, "V", "Q", record));  // no such record
    EXPECT_FALSE(LookupPrinterDescription(wend, ids, "X", "P", record));
    const std::wstring broken = files.WriteWide("Broken.xml", "<orvane_printing>");
    EXPECT_FALSE(LookupPrinterDescription(broken, ids, "V", "P", record));
    EXPECT_FALSE(LookupPrinterDescription(wend, L"/nonexistent/WendIDs.xml", "V", "P", record));
    EXPECT_EQ(record.icon, "kept");

    EXPECT_TRUE(FindPrinterDescription(wend, 1, 3, record));
    EXPECT_EQ(record.icon, "");
    EXPECT_FALSE(FindPrinterDescription(wend, 2, 3, record));
}
