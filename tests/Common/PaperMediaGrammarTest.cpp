#include <gtest/gtest.h>

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

float Attribute(const PaperConfiguration& paper, PaperAttributeKey key) {
    const auto found = paper.attributes.find(key);
    return found == paper.attributes.end() ? -1.0f : found->second;
}

}  // namespace

TEST(PaperGrammar, PapersSizesAndOffsets) {
    const PrinterDescription d = LoadOnePrinter(
        "<paperRefs><paperRef paperId='1'/><paperRef paperId='2'/></paperRefs>", kPapers);
    ASSERT_EQ(d.papers.size(), 2u);
    const PaperConfiguration& p = *d.papers.find(1);
    EXPECT_EQ(p.name, "4x6");
    EXPECT_EQ(p.resourceId, 10);
    EXPECT_EQ(p.attributes.size(), 10u);
    EXPECT_FLOAT_EQ(Attribute(p, PaperAttributeKey::kWidthInches), 4.5f);
    EXPECT_FLOAT_EQ(Attribute(p, PaperAttributeKey::kHeightInches), 6.0f);
    EXPECT_FLOAT_EQ(Attribute(p, PaperAttributeKey::kWidthPixels), 1200.0f);
    EXPECT_FLOAT_EQ(Attribute(p, PaperAttributeKey::kHeightMmTenths), 1524.0f);
    EXPECT_FLOAT_EQ(Attribute(p, PaperAttributeKey::kTopOffsetPoints), 1.0f);
    EXPECT_FLOAT_EQ(Attribute(p, PaperAttributeKey::kLeftOffsetPoints), 2.0f);
    EXPECT_FLOAT_EQ(Attribute(p, PaperAttributeKey::kBottomOffsetPoints), 3.0f);
    EXPECT_FLOAT_EQ(Attribute(p, PaperAttributeKey::kRightOffsetPoints), 4.0f);
    EXPECT_TRUE(d.papers.find(2)->attributes.empty());
}

TEST(PaperGrammar, Failures) {
    const std::string refs = "<paperRefs><paperRef paperId='1'/></paperRefs>";
    const auto paper = [](const std::string& content) {
        return "<papers><paper id='1' resourceId='1' name='n'>" + content + "</paper></papers>";
    };
    const std::string failed = "An exception occurred";
    const std::vector<std::pair<std::string, std::string>> papers = {
        {"<papers><paper resourceId='1' name='n'/></papers>", failed},
        {"<papers><paper id='1' resourceId='x' name='n'/></papers>", failed},
        {"<papers><paper id='1' resourceId='1' name=''/></papers>", failed},
        {"<papers><paper id='' resourceId='1' name='n'/></papers>", failed},
        {paper("<sizes><size><width>1</width></size></sizes>"), failed},
        {paper("<offsets><offset/></offsets>"), failed},
        {paper("<sizes><size units='inches'><width/></size></sizes>"), failed},
        {paper("<offsets><offset units='points'><top>pt</top></offset></offsets>"), failed},
        {paper("") + "<papers><paper id='01' resourceId='2' name='b'/></papers>",
         "Failed to add paper configuration to the current set!"},
    };
    for (const auto& [paperXml, message] : papers) {
        const LoadedDescriptions loaded = LoadDescriptionsFrom(PrinterDocument(refs, paperXml));
        EXPECT_FALSE(loaded.ok) << paperXml;
        EXPECT_EQ(loaded.error, message) << paperXml;
    }
    // Papers defined after the printers are unknown to them.
    const LoadedDescriptions late = LoadDescriptionsFrom(
        "<orvane_printing><printers><printer vid='1' pid='1'>" + refs +
        "</printer></printers><papers><paper id='1' resourceId='1' name='n'/></papers>"
        "</orvane_printing>");
    EXPECT_FALSE(late.ok);
    EXPECT_EQ(late.error, "Paper ID is unknown!");
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
    ExpectFailures(
        {
            {"<paperRefs><paperRef/></paperRefs>", "Missing \"paperId\" attribute!"},
            {"<paperRefs><paperRef paperId='one'/></paperRefs>",
             "Unexpected \"paperId\" attribute value (should be integer)!"},
            {"<paperRefs><paperRef paperId='3'/></paperRefs>", "Paper ID is unknown!"},
            {"<paperRefs><paperRef paperId='1' sendToPrinterAs=''/></paperRefs>",
             "Unexpected \"sendToPrinterAs\" attribute value (should be integer)!"},
        },
        kPapers);
}

TEST(MediaCapacities, FirstCodeWinsAndALaterTableReplaces) {
    PrinterDescription d = LoadOnePrinter(
        "<mediaCapacities><mediaCapacity capacityCodeFromPrinter='PC'>0x10</mediaCapacity>"
        "<mediaCapacity capacityCodeFromPrinter='PC'>99</mediaCapacity>"
        "<mediaCapacity capacityCodeFromPrinter='L'> 50 sheets</mediaCapacity>"
        "</mediaCapacities>");
    EXPECT_EQ(d.mediaCapacities, (std::map<std::string, std::int32_t>{{"PC", 16}, {"L", 50}}));
    d = LoadOnePrinter(
        "<mediaCapacities><mediaCapacity capacityCodeFromPrinter='PC'>1</mediaCapacity>"
        "</mediaCapacities><mediaCapacities><mediaCapacity capacityCodeFromPrinter='X'>2"
        "</mediaCapacity></mediaCapacities>");
    EXPECT_EQ(d.mediaCapacities, (std::map<std::string, std::int32_t>{{"X", 2}}));
    ExpectFailures({
        {"<mediaCapacities><mediaCapacity>1</mediaCapacity></mediaCapacities>",
         "Missing \"capacityCodeFromPrinter\" attribute!"},
        {"<mediaCapacities><mediaCapacity capacityCodeFromPrinter=''>1</mediaCapacity>"
         "</mediaCapacities>",
         "Missing \"capacityCodeFromPrinter\" attribute!"},
        {"<mediaCapacities><mediaCapacity capacityCodeFromPrinter='A'>many</mediaCapacity>"
         "</mediaCapacities>",
         "Invalid data for a <mediaCapacity> element"},
        {"<mediaCapacities><mediaCapacity capacityCodeFromPrinter='A'/></mediaCapacities>",
         "Invalid data for a <mediaCapacity> element"},
    });
}

TEST(DonorMediaMappings, KeyedByIdCodeWithoutValidation) {
    const PrinterDescription d = LoadOnePrinter(
        "<donorMediaMappings><donorMediaMapping><idCode>0x3</idCode><donor>abc</donor>"
        "<media>2</media><media>4</media></donorMediaMapping>"
        "<donorMediaMapping><donor>7</donor></donorMediaMapping><other/></donorMediaMappings>");
    ASSERT_EQ(d.donorMediaMappings.size(), 2u);
    EXPECT_EQ(d.donorMediaMappings.at(3).donor, 0);
    EXPECT_EQ(d.donorMediaMappings.at(3).media, 4);
    EXPECT_EQ(d.donorMediaMappings.at(-1).donor, 7);
    EXPECT_EQ(d.donorMediaMappings.at(-1).media, -1);
    ExpectFailures({
        {"<donorMediaMappings><donorMediaMapping/><donorMediaMapping/></donorMediaMappings>",
         "Invalid data for a <donorMediaMapping> element"},
        {"<donorMediaMappings><donorMediaMapping><idCode>1</idCode></donorMediaMapping>"
         "</donorMediaMappings><donorMediaMappings><donorMediaMapping><idCode>01</idCode>"
         "</donorMediaMapping></donorMediaMappings>",
         "Invalid data for a <donorMediaMapping> element"},
    });
}
