#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Common/Headers/PrinterStates.h"
#include "tests/Halden/XmlTestFiles.h"

namespace {

using IdMap = std::map<std::string, std::int32_t>;

struct Loaded {
    bool ok = false;
    IdMap vendors;
    IdMap products;
    std::string error;
};

Loaded LoadIds(const std::string& xml) {
    XmlTestFiles files;
    Loaded loaded;
    loaded.vendors = {{"stale", 1}};
    loaded.error = "untouched";
    loaded.ok = LoadIdMappings(files.WriteWide("WendIDs.xml", xml), loaded.vendors, loaded.products,
                               &loaded.error);
    return loaded;
}

std::string Vendors(const std::string& body) {
    return "<ids><vendor-ids>" + body + "</vendor-ids></ids>";
}

}  // namespace

TEST(LoadIdMappings, AcceptedDocuments) {
    struct Case {
        IdMap vendors;
        IdMap products;
        std::string xml;
    };
    const std::vector<Case> cases = {
        {{{"A", 16}}, {}, Vendors("<vendor id='0x10'><name>A</name></vendor>")},
        {{{"A", 8}}, {}, Vendors("<vendor id='010'><name>A</name></vendor>")},
        {{{"A", 12}}, {}, Vendors("<vendor id='12abc'><name>A</name></vendor>")},
        {{{"A", 3}, {"B", 3}},
         {},
         Vendors("<vendor id='3'><name>A</name><name>B</name></vendor><vendor id='4'/>")},
        // Names keep their blanks; empty content maps the empty name.
        {{{" A ", 3}, {"", 3}, {"  B", 4}},
         {},
         Vendors("<vendor id='3'><name> A </name><name></name></vendor>"
                 "<vendor id='4'><name>  B</name><x>ignored</x>text</vendor>")},
        {{{"X", 1}, {"Y", 5}},
         {{"X", 2}},
         "<ids><vendor-ids><vendor id='1'><name>X</name></vendor></vendor-ids>"
         "<product-ids><product id='2'><name>X</name></product></product-ids>"
         "<vendor-ids><vendor id='5'><name>Y</name></vendor></vendor-ids></ids>"},
        // Misplaced known elements are skipped with their (invalid) ids.
        {{},
         {},
         "<ids><vendor-ids><product id='bad'><name>P</name></product></vendor-ids>"
         "<vendor id='bad'/><other><vendor-ids><vendor id='1'><name>Z</name></vendor>"
         "</vendor-ids></other></ids>"},
        {{},
         {},
         "<mappings><vendor-ids><vendor id='1'><name>A</name></vendor></vendor-ids></mappings>"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Loaded loaded = LoadIds(cases[i].xml);
        EXPECT_TRUE(loaded.ok) << cases[i].xml << ": " << loaded.error;
        EXPECT_EQ(loaded.vendors, cases[i].vendors) << cases[i].xml;
        EXPECT_EQ(loaded.products, cases[i].products) << cases[i].xml;
        EXPECT_EQ(loaded.error, "untouched");
    }
}

TEST(LoadIdMappings, FailuresAndTheirTexts) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {Vendors("<vendor><name>A</name></vendor>"),
         "Missing or invalid \"id\" value for the <vendor> element"},
        {Vendors("<vendor id=''/>"), "Missing or invalid \"id\" value for the <vendor> element"},
        {Vendors("<vendor id='x1'/>"), "Missing or invalid \"id\" value for the <vendor> element"},
        {"<ids><product-ids><product id=' '/></product-ids></ids>",
         "Missing or invalid \"id\" value for the <product> element"},
        {Vendors("<vendor id='1'><name>A</name></vendor><vendor id='2'><name>A</name></vendor>"),
         "Duplicate mapping identified for A"},
        {Vendors("<vendor id='1'><name></name><name> </name></vendor>"),
         "Duplicate mapping identified for "},
        {"<ids><vendor-ids><vendor id='1'><name>A</name></vendor></vendor-ids>"
         "<vendor-ids><vendor id='1'><name>A</name></vendor></vendor-ids></ids>",
         "Duplicate mapping identified for A"},
    };
    for (const auto& [xml, message] : cases) {
        const Loaded loaded = LoadIds(xml);
        EXPECT_FALSE(loaded.ok) << xml;
        EXPECT_EQ(loaded.error, message) << xml;
    }
    const Loaded broken = LoadIds("<ids><vendor-ids>");
    EXPECT_FALSE(broken.ok);
    EXPECT_NE(broken.error, "untouched");
}
