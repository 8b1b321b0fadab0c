#include <gtest/gtest.h>

#include "tests/Common/DescriptionLoadSupport.h"

namespace {

std::string Printed(const std::map<std::string, std::int32_t>& map) {
    std::string out;
    for (const auto& [name, id] : map) {
        out += "[" + name + "]=" + std::to_string(id);
    }
    return out;
}

// "vendors|products" after a load into a stale vendor map, or "!" and the error text.
std::string LoadIds(const std::string& xml) {
    XmlTestFiles files;
    std::map<std::string, std::int32_t> vendors = {{"stale", 1}}, products;
    std::string error = "untouched";
    if (!LoadIdMappings(files.WriteWide("WendIDs.xml", xml), vendors, products, &error)) {
        return "!" + error;
    }
    return (error == "untouched" ? "" : "?") + Printed(vendors) + "|" + Printed(products);
}

std::string Vendors(const std::string& body) {
    return "<ids><vendor-ids>" + body + "</vendor-ids></ids>";
}

}  // namespace

TEST(LoadIdMappings, MappingsAndFailureTexts) {
    const std::string noId = "!Missing or invalid \"id\" value for the <";
    const std::pair<std::string, std::string> cases[] = {
        {Vendors("<vendor id='0x10'><name>A</name></vendor>"), "[A]=16|"},
        {Vendors("<vendor id='010'><name>A</name></vendor>"), "[A]=8|"},
        {Vendors("<vendor id='12abc'><name>A</name></vendor>"), "[A]=12|"},
        {Vendors("<vendor id='3'><name>A</name><name>B</name></vendor><vendor id='4'/>"),
         "[A]=3[B]=3|"},
        // Names keep their blanks; empty content maps the empty name.
        {Vendors("<vendor id='3'><name> A </name><name></name></vendor>"
                 "<vendor id='4'><name>  B</name><x>ignored</x>text</vendor>"),
         "[]=3[  B]=4[ A ]=3|"},
        {"<ids><vendor-ids><vendor id='1'><name>X</name></vendor></vendor-ids>"
         "<product-ids><product id='2'><name>X</name></product></product-ids>"
         "<vendor-ids><vendor id='5'><name>Y</name></vendor></vendor-ids></ids>",
         "[X]=1[Y]=5|[X]=2"},
        // Misplaced known elements are skipped with their (invalid) ids.
        {"<ids><vendor-ids><product id='bad'><name>P</name></product></vendor-ids>"
         "<vendor id='bad'/><other><vendor-ids><vendor id='1'><name>Z</name></vendor>"
         "</vendor-ids></other></ids>",
         "|"},
        {"<mappings><vendor-ids><vendor id='1'><name>A</name></vendor></vendor-ids></mappings>",
         "|"},
        {Vendors("<vendor><name>A</name></vendor>"), noId + "vendor> element"},
        {Vendors("<vendor id=''/>"), noId + "vendor> element"},
        {Vendors("<vendor id='x1'/>"), noId + "vendor> element"},
        {"<ids><product-ids><product id=' '/></product-ids></ids>", noId + "product> element"},
        {Vendors("<vendor id='1'><name>A</name></vendor><vendor id='2'><name>A</name></vendor>"),
         "!Duplicate mapping identified for A"},
        {Vendors("<vendor id='1'><name></name><name> </name></vendor>"),
         "!Duplicate mapping identified for "},
        {"<ids><vendor-ids><vendor id='1'><name>A</name></vendor></vendor-ids>"
         "<vendor-ids><vendor id='1'><name>A</name></vendor></vendor-ids></ids>",
         "!Duplicate mapping identified for A"},
    };
    for (const auto& [xml, expected] : cases) {
        EXPECT_EQ(LoadIds(xml), expected) << xml;
    }
    const std::string broken = LoadIds("<ids><vendor-ids>");
    EXPECT_TRUE(broken.size() > 1 && broken[0] == '!' && broken != "!untouched") << broken;
}
