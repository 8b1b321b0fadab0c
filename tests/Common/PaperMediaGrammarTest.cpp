#include <gtest/gtest.h>

#include <sstream>

#include "tests/Common/DescriptionLoadSupport.h"

namespace {

const std::string kPapers =
    "<papers><paper id='1' resourceId='10' name='4x6'><sizes>"
    "<size units='inches'><width>4</width><height>6</height><width>4.5mm</width></size>"
    "<size units='pixels'><width> 1200</width><height>1800</height></size>"
    "<size units='mm_tenths'><width>1016</width><height>1524</height></size>"
    "<size units='furlongs'><width>9</width></size></sizes>"
    "<offsets><offset units='points'><top>1</top><left>2</left><bottom>3</bottom>"
    "<right>4</right></offset><offset units='inches'><top>99</top></offset></offsets></paper>"
    "</papers><papers><paper id='0x2' resourceId='20' name='5x7'/></papers>";

}  // namespace

TEST(PaperGrammar, PapersSizesAndOffsets) {
    const PrinterDescription d = LoadOnePrinter(
        "<paperRefs><paperRef paperId='1'/><paperRef paperId='2'/></paperRefs>", kPapers);
    std::ostringstream printed;
    for (const PaperConfiguration& p : d.papers) {
        printed << p.name << " " << p.resourceId << ":";
        for (const auto& [key, value] : p.attributes) {
            printed << " " << static_cast<int>(key) << "=" << value;
        }
        printed << "|";
    }
    // Keyed by PaperAttributeKey: width and height in inches, pixels, mm/10, then the offsets.
    EXPECT_EQ(printed.str(),
              "4x6 10: 0=4.5 1=6 2=1200 3=1800 4=1016 5=1524 6=1 7=3 8=2 9=4|5x7 20:|");
}

TEST(PaperGrammar, Failures) {
    const std::string refs = "<paperRefs><paperRef paperId='1'/></paperRefs>";
    const auto paper = [](const std::string& content) {
        return "<papers><paper id='1' resourceId='1' name='n'>" + content + "</paper></papers>";
    };
    for (const std::string& papers : std::vector<std::string>{
             "<papers><paper resourceId='1' name='n'/></papers>",
             "<papers><paper id='1' resourceId='x' name='n'/></papers>",
             "<papers><paper id='1' resourceId='1' name=''/></papers>",
             "<papers><paper id='' resourceId='1' name='n'/></papers>",
             paper("<sizes><size><width>1</width></size></sizes>"),
             paper("<offsets><offset/></offsets>"),
             paper("<sizes><size units='inches'><width/></size></sizes>"),
             paper("<offsets><offset units='points'><top>pt</top></offset></offsets>")}) {
        EXPECT_EQ(Outcome(PrinterDocument(refs, papers)), "!An exception occurred") << papers;
    }
    EXPECT_EQ(Outcome(PrinterDocument(
                  refs, paper("") + "<papers><paper id='01' resourceId='2' name='b'/></papers>")),
              "!Failed to add paper configuration to the current set!");
    // Papers defined after the printers are unknown to them.
    EXPECT_EQ(Outcome("<orvane_printing><printers><printer vid='1' pid='1'>" + refs +
                      "</printer></printers><papers><paper id='1' resourceId='1' name='n'/>"
                      "</papers></orvane_printing>"),
              "!Paper ID is unknown!");
}

TEST(PaperRefs, FirstCopyAndFirstSendAsWinReportedSizesAllStay) {
    const PrinterDescription d = LoadOnePrinter(
        "<paperRefs><paperRef paperId='1' sendToPrinterAs='0x10' sizeReportedByPrinterAs='PC'/>"
        "<paperRef paperId='1' sendToPrinterAs='5' sizeReportedByPrinterAs='PC'/>"
        "<paperRef paperId='2' sizeReportedByPrinterAs=''/>"
        "<paperRef paperId='2' sendToPrinterAs='7' sizeReportedByPrinterAs='A'/></paperRefs>",
        kPapers);
    EXPECT_EQ(d.papers.size(), 2u);
    EXPECT_EQ(d.sendToPrinterAs, (std::map<std::int32_t, std::int32_t>{{1, 16}, {2, 7}}));
    const std::vector<std::pair<std::string, std::int32_t>> reported(
        d.paperIdsByReportedSize.begin(), d.paperIdsByReportedSize.end());
    EXPECT_EQ(reported, (std::vector<std::pair<std::string, std::int32_t>>{
                            {"", 2}, {"A", 2}, {"PC", 1}, {"PC", 1}}));
    const auto ref = [](const std::string& attributes) {
        return "<paperRefs><paperRef" + attributes + "/></paperRefs>";
    };
    const auto notInteger = [](const std::string& attribute) {
        return "Unexpected \"" + attribute + "\" attribute value (should be integer)!";
    };
    ExpectFailures({{ref(""), "Missing \"paperId\" attribute!"},
                    {ref(" paperId='one'"), notInteger("paperId")},
                    {ref(" paperId='3'"), "Paper ID is unknown!"},
                    {ref(" paperId='1' sendToPrinterAs=''"), notInteger("sendToPrinterAs")}},
                   kPapers);
}

TEST(MediaCapacities, FirstCodeWinsAndALaterTableReplaces) {
    const auto table = [](const std::string& capacities) {
        return "<mediaCapacities>" + capacities + "</mediaCapacities>";
    };
    const auto capacity = [](const std::string& attributes, const std::string& content) {
        return "<mediaCapacity" + attributes + ">" + content + "</mediaCapacity>";
    };
    EXPECT_EQ(LoadOnePrinter(table(capacity(" capacityCodeFromPrinter='PC'", "0x10") +
                                   capacity(" capacityCodeFromPrinter='PC'", "99") +
                                   capacity(" capacityCodeFromPrinter='L'", " 50 sheets")))
                  .mediaCapacities,
              (std::map<std::string, std::int32_t>{{"PC", 16}, {"L", 50}}));
    EXPECT_EQ(LoadOnePrinter(table(capacity(" capacityCodeFromPrinter='PC'", "1")) +
                             table(capacity(" capacityCodeFromPrinter='X'", "2")))
                  .mediaCapacities,
              (std::map<std::string, std::int32_t>{{"X", 2}}));
    const std::string noCode = "Missing \"capacityCodeFromPrinter\" attribute!";
    const std::string invalid = "Invalid data for a <mediaCapacity> element";
    ExpectFailures({{table(capacity("", "1")), noCode},
                    {table(capacity(" capacityCodeFromPrinter=''", "1")), noCode},
                    {table(capacity(" capacityCodeFromPrinter='A'", "many")), invalid},
                    {table("<mediaCapacity capacityCodeFromPrinter='A'/>"), invalid}});
}

TEST(DonorMediaMappings, KeyedByIdCodeWithoutValidation) {
    const PrinterDescription d = LoadOnePrinter(
        "<donorMediaMappings><donorMediaMapping><idCode>0x3</idCode><donor>abc</donor>"
        "<media>2</media><media>4</media></donorMediaMapping>"
        "<donorMediaMapping><donor>7</donor></donorMediaMapping><other/></donorMediaMappings>");
    std::string mappings;
    for (const auto& [id, m] : d.donorMediaMappings) {
        mappings += std::to_string(id) + "=" + std::to_string(m.donor) + "/" +
                    std::to_string(m.media) + " ";
    }
    EXPECT_EQ(mappings, "-1=7/-1 3=0/4 ");
    const std::string invalid = "Invalid data for a <donorMediaMapping> element";
    ExpectFailures(
        {{"<donorMediaMappings><donorMediaMapping/><donorMediaMapping/></donorMediaMappings>",
          invalid},
         {"<donorMediaMappings><donorMediaMapping><idCode>1</idCode></donorMediaMapping>"
          "</donorMediaMappings><donorMediaMappings><donorMediaMapping><idCode>01</idCode>"
          "</donorMediaMapping></donorMediaMappings>",
          invalid}});
}
