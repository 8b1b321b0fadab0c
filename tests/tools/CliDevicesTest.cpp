#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/tools/RunProcess.h"

namespace {

nlohmann::json Devices(const std::string& cliArguments) {
    const std::string commandLine = std::string(SIMULATOR_PATH) +
                                    " --printer 'MFG:Orvane;MDL:Kestrel  200;VER:1.2.3.4;'"
                                    " --printer 'MFG:Orvane;MDL:Kestrel 999;' -- " +
                                    CLI_PATH + " devices --json" + cliArguments;
    std::string output;
    EXPECT_EQ(tools_test::RunProcess(commandLine, output), 0) << output;
    const nlohmann::json document = nlohmann::json::parse(output, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << output;
    return document.is_discarded() ? nlohmann::json() : document["devices"];
}

TEST(CliDevices, IdentifiesAShippedModelAndExplainsTheOther) {
    const nlohmann::json devices = Devices("");
    ASSERT_EQ(devices.size(), 2u);
    const nlohmann::json& known = devices[0];
    EXPECT_EQ(known["devicePath"], "/dev/usb/lp0");
    EXPECT_EQ(known["deviceId"], "MFG:Orvane;MDL:Kestrel  200;VER:1.2.3.4;");
    EXPECT_EQ(known["held"], false);
    EXPECT_EQ(known["mdl"], "Kestrel 200");
    EXPECT_EQ(known["ver"], "1.2.3.4");
    EXPECT_TRUE(known["phd"].is_null());
    EXPECT_EQ(known["identified"], true);
    EXPECT_EQ(known["shortName"], "Kestrel 200");
    EXPECT_TRUE(known["vendorId"].is_number());

    const nlohmann::json& unknown = devices[1];
    EXPECT_EQ(unknown["identified"], false);
    EXPECT_TRUE(unknown["shortName"].is_null());
    EXPECT_TRUE(unknown["productId"].is_null());
    EXPECT_EQ(unknown["reason"], "the model \"Kestrel 999\" is not in WendIDs.xml");
}

TEST(CliDevices, MissingDescriptionFilesAreNamed) {
    const nlohmann::json devices = Devices(" --dir /nonexistent");
    ASSERT_EQ(devices.size(), 2u);
    for (const nlohmann::json& device : devices) {
        EXPECT_EQ(device["identified"], false);
        EXPECT_NE(device["reason"].get<std::string>().find("WendIDs.xml cannot be loaded"),
                  std::string::npos);
    }
}

}  // namespace
