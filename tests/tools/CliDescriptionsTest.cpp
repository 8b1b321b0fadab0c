#include <gtest/gtest.h>

#include <filesystem>
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

// Arguments already quoted for the shell; stdout must hold exactly one JSON document.
CliResult RunCli(const std::string& arguments) {
    CliResult result;
    const std::string commandLine = std::string(CLI_PATH) + " " + arguments + " 2>/dev/null";
    result.exitCode = tools_test::RunProcess(commandLine, result.output);
    result.document = nlohmann::json::parse(result.output, nullptr, false);
    return result;
}

// The folder of a file written there, quoted for the shell.
std::string Folder(const std::string& file) {
    return "'" + std::filesystem::path(file).parent_path().string() + "'";
}

}  // namespace

TEST(CliDescriptions, ShippedFilesAsJson) {
    const CliResult result = RunCli("descriptions --json");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.document["ok"], true);
    const nlohmann::json& printers = result.document["printers"];
    ASSERT_GE(printers.size(), 5u);
    // Every record has exactly these fields (nlohmann keeps them sorted).
    const std::string fields =
        "connections customProperties defaultHead defaultLut donorMediaMappings dragAndDrop "
        "firmwareCrcVerify heads icon longName longNameResourceId lutNames mediaCapacities "
        "mediaRemaining paperIdsByReportedSize papers productId productName productNameResourceId"
        " requiresReboot rotate sendToPrinterAs shortName shortNameResourceId stripVersionBytes "
        "vendorId ";
    for (const nlohmann::json& printer : printers) {
        std::string keys;
        for (const auto& field : printer.items()) {
            keys += field.key() + " ";
        }
        EXPECT_EQ(keys, fields);
    }
    tools_test::ExpectAt(printers, R"({"/0/vendorId": 12058, "/0/productId": 257,
        "/0/shortName": "Kestrel 200", "/0/shortNameResourceId": 5103, "/0/firmwareCrcVerify": 1,
        "/0/lutNames/matte": 6102,
        "/0/heads/KH1/firmwareNameSpecs/0": {"prefix": "KST2", "extension": "bin",
                                             "versionFormat": 1},
        "/0/heads/KH1/lutModules/1": {"lutRef": "matte", "name": "kh1_matte.lut", "donor": 1,
                                      "media": 2},
        "/0/papers/0/id": 1, "/0/papers/0/attributes/0": 4.0, "/0/papers/1/name": "5x7",
        "/0/donorMediaMappings/2": {"donor": 1, "media": 2}, "/0/sendToPrinterAs/1": 16,
        "/0/paperIdsByReportedSize/0": ["L", 2], "/1/connections/1/discoveryProtocol": 1,
        "/0/connections/0": {"kind": "usb", "outputFormat": 1,
                             "printed": "USBConnection: { outputFormat = 1 }"},
        "/0/customProperties/series": "Kestrel"})");
}

TEST(CliDescriptions, IdsLookupAndBrokenFilesReportTheReason) {
    XmlTestFiles files;
    files.Write("Wend.xml",
                "<orvane_printing><printers><printer vid='1' pid='2'><paperRefs>"
                "<paperRef paperId='5'/></paperRefs></printer></printers></orvane_printing>");
    const std::string dir =
        " --dir " +
        Folder(files.Write("WendIDs.xml",
                           "<ids><vendor-ids><vendor id='1'><name>A</name></vendor><vendor id='2'>"
                           "<name>A</name></vendor></vendor-ids></ids>"));
    XmlTestFiles latin1;  // a declared encoding arrives as text
    const std::string latin1Dir = Folder(
        latin1.Write("Wend.xml",
                     "<?xml version='1.0' encoding='ISO-8859-1'?><orvane_printing><printers>"
                     "<printer vid='1' pid='2'><names><shortname resourceId='1'>Caf\xe9</shortname>"
                     "</names></printer></printers></orvane_printing>"));
    const struct {
        std::string arguments;
        int exitCode;
        const char* expected;
    } cases[] = {
        {"ids --json", 0,
         R"({"/ok": true, "/vendors/ORVANE": 12058, "/products/Plover Mini": 769})"},
        {"lookup 'Orvane Imaging' 'Heron 10' --json", 0,
         R"({"/found": true, "/printer/requiresReboot": false})"},
        {"lookup Orvane 'Heron 99' --json", 1, R"({"": {"found": false}})"},
        {"descriptions --json" + dir, 1, R"({"": {"ok": false, "error": "Paper ID is unknown!"}})"},
        {"ids --json" + dir, 1,
         R"({"": {"ok": false, "error": "Duplicate mapping identified for A"}})"},
        {"lookup A B --json" + dir, 1, R"({"": {"found": false}})"},
        {"descriptions --json --dir /", 1, R"({"/ok": false})"},  // a folder without the files
        {"descriptions --json --dir /nonexistent/h2", 2, "{}"},
        {"descriptions --json --dir " + latin1Dir, 0, R"({"/printers/0/shortName": "Caf\u00e9"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CliResult result = RunCli(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        tools_test::ExpectAt(result.document, c.expected);
    }

    CliResult result = RunCli("lookup Orvane 'Kestrel 400'");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.output.find("Kestrel 400"), std::string::npos);
    result = RunCli("descriptions" + dir);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.output.empty());
}

// Installed in a folder whose name is not ASCII, under the C locale, the program finds its own
// description files.
TEST(CliDescriptions, ProgramInANonAsciiFolderFindsItsFiles) {
    XmlTestFiles files;
    const std::filesystem::path shipped = std::filesystem::path(CLI_PATH).parent_path();
    const std::filesystem::path folder = std::filesystem::path(files.Write("x", "")).parent_path() /
                                         "Pr\u00fcfung/\u00dcn\u00efcode";
    std::filesystem::create_directories(folder);
    for (const char* name : {"reflasher-cli", "Wend.xml", "WendIDs.xml"}) {
        std::filesystem::copy_file(shipped / name, folder / name);
    }
    std::string output;
    EXPECT_EQ(tools_test::RunProcess("LC_ALL=C '" + (folder / "reflasher-cli").string() +
                                         "' lookup Orvane 'Kestrel 400' --json",
                                     output),
              0)
        << output;
}

TEST(DescriptionJson, InvalidUtf8IsReplacedNotDropped) {
    PrinterDescription record(1, 2);
    record.shortName = "bad \xff byte";
    record.customProperties["\xfe"] = "x";
    record.sendToPrinterAs[-3] = 4;
    const std::string text = DumpJson({{"printers", {DescriptionToJson(record)}}});
    tools_test::ExpectAt(nlohmann::json::parse(text),
                         R"({"/printers/0/shortName": "bad \ufffd byte",
        "/printers/0/customProperties/\ufffd": "x", "/printers/0/sendToPrinterAs/-3": 4,
        "/printers/0/vendorId": 1})");
}
