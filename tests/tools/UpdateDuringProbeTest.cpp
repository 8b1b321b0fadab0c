#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <future>

#include "simulator/UmockdevPrinterHost.h"
#include "tests/tools/RunProcess.h"

namespace {

// While reflasher-cli updates a printer, a second process probes it as the print system's USB
// backend does (detach the kernel driver, claim the interface, ask for the device ID). The
// printer stays busy for a few seconds after StartCommand, so the probe lands inside the update.
TEST(UpdateDuringProbe, OnlyAClaimedInterfaceKeepsTheUpdateGoing) {
    std::string dir = ::testing::TempDir() + "reflasher-probe-XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    const std::string file = tools_test::WriteFirmware(dir + "/KST2_0130.bin", 1, 3, 9000);
    for (const std::string transport : {"libusb", "usblp"}) {
        SCOPED_TRACE(transport);
        simulator::UmockdevPrinterHost host;
        simulator::PrinterConfig config;
        config.deviceId = "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;";
        config.busyPolls = 8;  // 4 s per stage at the updater's 500 ms polls
        config.restart = simulator::PrinterConfig::Restart::kNo;
        ASSERT_FALSE(host.AddPrinter(config).empty()) << host.error();

        std::future<std::pair<int, std::string>> update = std::async(std::launch::async, [&] {
            std::string output;
            const int status = tools_test::RunProcess(std::string(CLI_PATH) +
                                                          " update --json --yes --printer 1 "
                                                          "--transport " +
                                                          transport + " " + file + " </dev/null",
                                                      output);
            return std::make_pair(status, output);
        });
        while (host.Printer(0).Transcript()["commands"].empty() &&
               update.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        }
        char ids[64];
        std::snprintf(ids, sizeof ids, " --vid %04x --pid %04x", config.idVendor, config.idProduct);
        std::string probeOutput;
        tools_test::RunProcess(std::string(LIBUSB_PROBE) + ids, probeOutput);
        const nlohmann::json probe = nlohmann::json::parse(probeOutput, nullptr, false);
        const auto [status, output] = update.get();
        const nlohmann::json printer = host.Transcript()["printers"][0];
        std::vector<std::string> commands;
        for (const nlohmann::json& command : printer["commands"]) {
            commands.push_back(command["name"]);
        }
        nlohmann::json finished;
        for (const nlohmann::json& event : tools_test::JsonLines(output)) {
            if (event.is_object() && event.value("event", "") == "finished") {
                finished = event;
            }
        }
        if (transport == "libusb") {
            // libusb will not detach a usbfs claim, and the kernel refuses a second claim.
            EXPECT_EQ(probe["claimed"], "error") << probeOutput;
            EXPECT_NE(probe["detached"], true) << probeOutput;
            EXPECT_EQ(status, 0) << output;
            EXPECT_EQ(finished["ok"], true) << output;
            EXPECT_EQ(printer["outcome"], "flashed");
            EXPECT_EQ(commands, (std::vector<std::string>{"StartCommand", "ImageInfoCommand",
                                                          "DataHeaderCommand", "EndCommand"}));
        } else {
            // The probe takes the interface from usblp: the update's printer has vanished, so the
            // update fails without EndCommand (usblp's queued idle record may have let stage 1
            // pass before the probe).
            EXPECT_EQ(probe["claimed"], true) << probeOutput;
            EXPECT_EQ(status, 1) << output;
            EXPECT_EQ(finished["ok"], false) << output;
            ASSERT_FALSE(commands.empty());
            EXPECT_NE(commands.back(), "EndCommand");
            EXPECT_NE(printer["outcome"], "flashed");
        }
    }
}

}  // namespace
