#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/tools/RunProcess.h"

namespace {

// The document's devices; output: the text as printed.
nlohmann::json Devices(const std::string& cliArguments, std::string& output) {
    const std::string commandLine = std::string(SIMULATOR_PATH) +
                                    " --printer 'MFG:Orvane;MDL:Kestrel  200;VER:1.2.3.4;'"
                                    " --printer 'MFG:Orvane;MDL:Kestrel 999\u00e9;' -- " +
                                    CLI_PATH + " devices --json" + cliArguments;
    EXPECT_EQ(tools_test::RunProcess(commandLine, output), 0) << output;
    const nlohmann::json document = nlohmann::json::parse(output, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << output;
    return document.is_discarded() ? nlohmann::json() : document["devices"];
}

TEST(CliDevices, IdentifiesAShippedModelAndExplainsTheOther) {
    std::string output;
    const nlohmann::json devices = Devices("", output);
    ASSERT_EQ(devices.size(), 2u);
    // Listing leaves usblp bound to the interface, whichever transport lists.
    tools_test::ExpectAt(devices, R"({"/0/devicePath": "/dev/usb/lp0", "/0/driver": "usblp",
        "/0/deviceId": "MFG:Orvane;MDL:Kestrel  200;VER:1.2.3.4;", "/0/held": false,
        "/0/mdl": "Kestrel 200", "/0/ver": "1.2.3.4", "/0/phd": null, "/0/identified": true,
        "/0/shortName": "Kestrel 200", "/1/identified": false, "/1/shortName": null,
        "/1/productId": null, "/1/reason": "the model \"Kestrel 999\u00e9\" is not in WendIDs.xml",
        "/1/deviceIdHex": "4d46473a4f7276616e653b4d444c3a4b65737472656c20393939c3a93b"})");
    // Text that is UTF-8 is printed as it is, not escaped.
    EXPECT_NE(output.find("Kestrel 999\u00e9"), std::string::npos) << output;
    EXPECT_TRUE(devices[0]["vendorId"].is_number());
    const bool libusb = tools_test::Node(0, 2).find("/dev/bus/usb/") == 0;
    EXPECT_EQ(devices[1]["transport"], libusb ? "libusb" : "usblp");
}

// The text shows an ID's bytes in hex only where the ID is not printable ASCII; DEL is not.
TEST(CliDevices, TextShowsTheBytesOfAnIdThatIsNotPrintable) {
    std::string output;
    ASSERT_EQ(tools_test::RunProcess(std::string(SIMULATOR_PATH) +
                                         " --printer 'MFG:Orvane;MDL:A~;' --printer "
                                         "'MFG:Orvane;MDL:B\x7f;' -- " +
                                         CLI_PATH + " devices",
                                     output),
              0);
    const std::size_t at = output.find("ID bytes:");
    EXPECT_NE(at, std::string::npos) << output;
    EXPECT_EQ(at, output.rfind("ID bytes:")) << output;
    EXPECT_EQ(at, output.find("ID bytes:   4d46473a4f7276616e653b4d444c3a427f3b")) << output;
}

}  // namespace
