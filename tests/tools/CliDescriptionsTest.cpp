#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/Halden/XmlTestFiles.h"
#include "tests/tools/RunProcess.h"
#include "tools/reflasher-cli/DescriptionJson.h"

namespace {

struct CliResult {
    int exitCode = -1;
    std::string output;
    nlohmann::json document;
};

// Runs reflasher-cli with the arguments (already quoted for the shell); stdout must hold
// exactly one JSON document.
CliResult RunCli(const std::string& arguments) {
    CliResult result;
    const std::string commandLine = std::string(CLI_PATH) + " " + arguments + " 2>/dev/null";
    result.exitCode = tools_test::RunProcess(commandLine, result.output);
    result.document = nlohmann::json::parse(result.output, nullptr, false);
    return result;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

const char* const kRecordFields[] = {
    "vendorId",
    "productId",
    "productName",
    "longName",
    "shortName",
    "productNameResourceId",
    "longNameResourceId",
    "shortNameResourceId",
    "mediaRemaining",
    "dragAndDrop",
    "firmwareCrcVerify",
    "icon",
    "rotate",
    "lutNames",
    "defaultLut",
    "defaultHead",
    "heads",
    "papers",
    "donorMediaMappings",
    "mediaCapacities",
    "paperIdsByReportedSize",
    "sendToPrinterAs",
    "stripVersionBytes",
    "connections",
    "requiresReboot",
    "customProperties",
};

}  // namespace

TEST(CliDescriptions, ShippedFilesAsJson) {
    const CliResult result = RunCli("descriptions --json");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    ASSERT_FALSE(result.document.is_discarded()) << result.output;
    EXPECT_EQ(result.document["ok"], true);
    const nlohmann::json& printers = result.document["printers"];
    ASSERT_GE(printers.size(), 5u);
    for (const nlohmann::json& printer : printers) {
        EXPECT_EQ(printer.size(), std::size(kRecordFields));
        for (const char* field : kRecordFields) {
            EXPECT_TRUE(printer.contains(field)) << field;
        }
    }
    const nlohmann::json& kestrel = printers[0];
    EXPECT_EQ(kestrel["vendorId"], 0x2F1A);
    EXPECT_EQ(kestrel["productId"], 0x0101);
    EXPECT_EQ(kestrel["shortName"], "Kestrel 200");
    EXPECT_EQ(kestrel["shortNameResourceId"], 5103);
    EXPECT_EQ(kestrel["firmwareCrcVerify"], 1);
    EXPECT_EQ(kestrel["lutNames"]["matte"], 6102);
    EXPECT_EQ(kestrel["heads"]["KH1"]["firmwareNameSpecs"][0],
              (nlohmann::json{{"prefix", "KST2"}, {"extension", "bin"}, {"versionFormat", 1}}));
    EXPECT_EQ(kestrel["heads"]["KH1"]["lutModules"][1],
              (nlohmann::json{
                  {"lutRef", "matte"}, {"name", "kh1_matte.lut"}, {"donor", 1}, {"media", 2}}));
    EXPECT_EQ(kestrel["papers"][0]["id"], 1);
    EXPECT_EQ(kestrel["papers"][0]["attributes"]["0"], 4.0);
    EXPECT_EQ(kestrel["papers"][1]["name"], "5x7");
    EXPECT_EQ(kestrel["donorMediaMappings"]["2"], (nlohmann::json{{"donor", 1}, {"media", 2}}));
    EXPECT_EQ(kestrel["sendToPrinterAs"]["1"], 16);
    EXPECT_EQ(kestrel["paperIdsByReportedSize"][0], (nlohmann::json{"L", 2}));
    EXPECT_EQ(kestrel["connections"][0],
              (nlohmann::json{{"kind", "usb"},
                              {"outputFormat", 1},
                              {"printed", "USBConnection: { outputFormat = 1 }"}}));
    EXPECT_EQ(printers[1]["connections"][1]["discoveryProtocol"], 1);
    EXPECT_EQ(kestrel["customProperties"]["series"], "Kestrel");
}

TEST(CliDescriptions, IdsAndLookup) {
    CliResult result = RunCli("ids --json");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.document["ok"], true);
    EXPECT_EQ(result.document["vendors"]["ORVANE"], 0x2F1A);
    EXPECT_EQ(result.document["products"]["Plover Mini"], 0x0301);

    result = RunCli("lookup 'Orvane Imaging' 'Heron 10' --json");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.document["found"], true);
    EXPECT_EQ(result.document["printer"]["requiresReboot"], false);

    result = RunCli("lookup Orvane 'Heron 99' --json");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.document, (nlohmann::json{{"found", false}}));

    result = RunCli("lookup Orvane 'Kestrel 400'");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.output.find("Kestrel 400"), std::string::npos);
}

TEST(CliDescriptions, BrokenFilesReportTheReason) {
    XmlTestFiles files;
    files.Write("Wend.xml",
                "<orvane_printing><printers><printer vid='1' pid='2'><paperRefs>"
                "<paperRef paperId='5'/></paperRefs></printer></printers></orvane_printing>");
    files.Write("WendIDs.xml",
                "<ids><vendor-ids><vendor id='1'><name>A</name></vendor><vendor id='2'>"
                "<name>A</name></vendor></vendor-ids></ids>");
    const std::string dir = " --dir " + Quoted(files.dir());

    CliResult result = RunCli("descriptions --json" + dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.document, (nlohmann::json{{"ok", false}, {"error", "Paper ID is unknown!"}}));

    result = RunCli("ids --json" + dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.document,
              (nlohmann::json{{"ok", false}, {"error", "Duplicate mapping identified for A"}}));

    result = RunCli("lookup A B --json" + dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.document, (nlohmann::json{{"found", false}}));

    files.Write("Wend.xml", "<orvane_printing><printers>");
    result = RunCli("descriptions --json" + dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.document["ok"], false);
    EXPECT_FALSE(result.document["error"].get<std::string>().empty());

    result = RunCli("descriptions --json --dir /nonexistent/h2");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.document["error"].get<std::string>().find("Wend.xml"), std::string::npos);

    result = RunCli("descriptions" + dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.output.empty());
}

TEST(CliDescriptions, DeclaredEncodingsArriveAsText) {
    XmlTestFiles files;
    files.Write("Wend.xml",
                "<?xml version='1.0' encoding='ISO-8859-1'?><orvane_printing><printers>"
                "<printer vid='1' pid='2'><names><shortname resourceId='1'>Caf\xe9</shortname>"
                "</names></printer></printers></orvane_printing>");
    const CliResult result = RunCli("descriptions --json --dir " + Quoted(files.dir()));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.document["printers"][0]["shortName"], "Caf\xc3\xa9");
}

TEST(DescriptionJson, InvalidUtf8IsReplacedNotDropped) {
    PrinterDescription record(1, 2);
    record.shortName = "bad \xff byte";
    record.customProperties["\xfe"] = "x";
    record.sendToPrinterAs[-3] = 4;
    const std::string text = DumpJson({{"printers", {DescriptionToJson(record)}}});
    const nlohmann::json parsed = nlohmann::json::parse(text);
    EXPECT_EQ(parsed["printers"][0]["shortName"], "bad \xef\xbf\xbd byte");
    EXPECT_EQ(parsed["printers"][0]["customProperties"]["\xef\xbf\xbd"], "x");
    EXPECT_EQ(parsed["printers"][0]["sendToPrinterAs"]["-3"], 4);
    EXPECT_EQ(parsed["printers"][0]["vendorId"], 1);
}
