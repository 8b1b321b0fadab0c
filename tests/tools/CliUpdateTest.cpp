#include <gtest/gtest.h>

#include <map>

#include "tests/tools/RunProcess.h"

namespace {

// Two Kestrel 200 (CRC-checked, reboot), a Heron 10 and a printer without a version.
const char* const kScenario = R"({"printers": [
    {"deviceId": "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;", "busyPolls": 1,
     "restart": {"delayMs": 100}},
    {"deviceId": "MFG:Orvane;MDL:Heron 10;VER:3.0.1.0;PHD:HR;"},
    {"deviceId": "MFG:Orvane;MDL:Kestrel 200;VER:1.1.0.0;", "restart": {"delayMs": 100}},
    {"deviceId": "MFG:Orvane;MDL:Heron 10;"}]})";

const char* const kFaultyScenario = R"({"printers": [
    {"deviceId": "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;",
     "faults": [{"kind": "write-error", "atDataByte": 100}]}]})";

class CliUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "reflasher-cli-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
    }

    // A firmware file of version major.minor.0.0 with a correct CRC trailer.
    std::string Firmware(const std::string& name, int major, int minor, std::size_t size = 10000) {
        return tools_test::WriteFirmware(dir_ + "/" + name, major, minor, size);
    }

    // Runs reflasher-cli with arguments inside the simulator. Its stdin is not a terminal, or,
    // with typed, a terminal on which those lines are typed.
    int Cli(const std::string& arguments, std::string& output, const char* scenario = kScenario,
            const char* typed = nullptr) {
        const std::string scenarioPath = dir_ + "/scenario.json";
        std::ofstream(scenarioPath) << scenario;
        const std::string command = std::string(SIMULATOR_PATH) + " --scenario " + scenarioPath +
                                    " -- " + CLI_PATH + " " + arguments;
        return tools_test::RunProcess(
            typed == nullptr
                ? command + " </dev/null"
                : "printf '" + std::string(typed) + "' | script -qec '" + command + "' /dev/null",
            output);
    }

    static nlohmann::json Json(const std::string& text) { return nlohmann::json::parse(text); }

    // The last count entries of each device's events: names, each followed by its reason or
    // firmware version where it has one.
    static std::map<std::string, std::vector<std::string>> ByDevice(const std::string& text,
                                                                    std::size_t count) {
        std::map<std::string, std::vector<std::string>> byDevice;
        for (const nlohmann::json& event : tools_test::JsonLines(text)) {
            std::vector<std::string>& events = byDevice[event.value("devicePath", "")];
            events.push_back(event.at("event"));
            for (const char* detail : {"reason", "firmwareVersion"}) {
                if (event.contains(detail)) {
                    events.push_back(event[detail]);
                }
            }
        }
        for (auto& [device, events] : byDevice) {
            events.erase(events.begin(), events.end() - std::min(count, events.size()));
        }
        return byDevice;
    }

    std::string dir_;
};

}  // namespace

TEST_F(CliUpdateTest, ListShowsWhatTheWindowWouldWithPerModelCounters) {
    std::string output;
    ASSERT_EQ(Cli("list --json", output), 0) << output;
    const nlohmann::json printers = Json(output)["printers"];
    ASSERT_EQ(printers.size(), 3u);
    EXPECT_EQ(printers[0], nlohmann::json::parse(tools_test::WithNodes(R"({"index": 1,
        "devicePath": "/dev/usb/lp0", "shortName": "Kestrel 200", "modelNameResourceId": 5103,
        "counter": 1, "firmwareVersion": "1.2.0.0", "head": "KH1", "extensions": ["bin"],
        "requiresReboot": true, "stripVersionBytes": false, "verifiesCrc": true})")));

    ASSERT_EQ(Cli("list", output), 0);
    EXPECT_NE(output.find("1. Kestrel 200 (1)  firmware 1.2.0.0  head KH1  files *.bin  " +
                          tools_test::Node(0, 2)),
              std::string::npos)
        << output;
}

TEST_F(CliUpdateTest, CheckReportsTheWindowsChecksAndExitStatus) {
    const std::string newer = Firmware("KST2_0130.bin", 1, 3);
    std::string output;
    ASSERT_EQ(Cli("check --json --printer 1 " + newer, output), 0) << output;
    EXPECT_EQ(Json(output), nlohmann::json::parse(R"({"accepted": true, "loaded": true,
        "crcChecked": true, "version": "1.3.0.0", "title": "KST2_0130",
        "printerVersion": "1.2.0.0", "notNewer": false})"));

    ASSERT_EQ(Cli("check --json --printer " + tools_test::Node(2, 4) + " " +
                      Firmware("KST2_0110.bin", 1, 1),
                  output),
              0);
    EXPECT_EQ(Json(output)["notNewer"], true);

    // A broken CRC, an unknown printer.
    const std::string broken = Firmware("KST2_bad.bin", 1, 3);
    std::fstream(broken, std::ios::in | std::ios::out | std::ios::binary).seekp(100).put('\x55');
    EXPECT_EQ(Cli("check --json --printer 1 " + broken, output), 3);
    EXPECT_EQ(Json(output)["loaded"], false);
    EXPECT_EQ(Cli("check --printer 9 " + newer, output), 4);
    EXPECT_EQ(Cli("check --printer " + tools_test::Node(3, 5) + " " + newer, output), 4);
}

TEST_F(CliUpdateTest, UpdateStreamsEventsAndRediscoversTheNewVersion) {
    const std::string file = Firmware("KST2_0130.bin", 1, 3, 9000);
    std::string output;
    ASSERT_EQ(Cli("update --json --yes --printer 1 " + file, output), 0) << output;
    // Back from its restart, the printer has the next USB address.
    EXPECT_EQ(nlohmann::json(tools_test::JsonLines(output)), nlohmann::json::parse(
                                                                 R"([{"event": "started"},
        {"event": "size", "bytes": 9000}, {"event": "progress", "bytes": 4096},
        {"event": "progress", "bytes": 8192}, {"event": "progress", "bytes": 9000},
        {"event": "finished", "ok": true, "rebootRequired": true},
        {"event": "rediscovered", "firmwareVersion": "1.3.0.0", "found": true,
         "foundAt": ")" + tools_test::Node(0, 6) + R"("}])"));

    // After its restart a printer is found by its USB port, also on another node; the version
    // reported is the one it comes back with. udev lists by USB port: lp2 (port 2) is first.
    const char* const restarts = R"({"printers": [
        {"deviceId": "", "lengthPrefix": "big"},
        {"deviceId": "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;", "usb": {"port": 5},
         "restart": {"delayMs": 100, "returns": "old"}},
        {"deviceId": "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;",
         "restart": {"delayMs": 100, "returns": "never"}}]})";
    ASSERT_EQ(Cli("update --yes --reboot-wait 2 --printer 2 " + file, output, restarts), 0);
    // Through libusb it comes back at a new USB address, which the line names.
    EXPECT_NE(output.find("the printer now reports firmware 1.2.0.0"), std::string::npos) << output;
    ASSERT_EQ(Cli("update --yes --reboot-wait 1 --printer 1 " + file, output, restarts), 0);
    EXPECT_NE(output.find("the printer did not come back within 1 s of its restart"),
              std::string::npos)
        << output;
}

TEST_F(CliUpdateTest, UpdateRefusalsAndFailuresHaveTheirOwnStatus) {
    const std::string newer = Firmware("KST2_0130.bin", 1, 3);
    const std::string older = Firmware("KST2_0100.bin", 1, 0);
    std::string output;
    // No terminal to confirm on, and no --yes.
    EXPECT_EQ(Cli("update --printer 1 " + newer, output), 2);
    EXPECT_EQ(Cli("update --yes " + newer, output), 2);
    EXPECT_EQ(Cli("update --yes --all --printer 1 " + newer, output), 2);
    EXPECT_EQ(Cli("update --yes --printer 2 " + newer, output), 3);
    EXPECT_EQ(Cli("update --yes --printer 7 " + newer, output), 4);
    EXPECT_EQ(Cli("update --yes --dir /nonexistent --printer 1 " + newer + " 2>&1", output), 2);
    EXPECT_NE(output.find("--dir: no such folder: /nonexistent"), std::string::npos) << output;
    EXPECT_EQ(Cli("list --dir " + dir_, output), 2);
    EXPECT_EQ(Cli("update --yes --printer 1 " + older, output), 5);
    EXPECT_EQ(Cli("update --yes --allow-older --printer 1 " + older, output), 0) << output;
    EXPECT_NE(output.find("the printer now reports firmware 1.0.0.0"), std::string::npos) << output;

    // On a terminal: whether to send a file that is not newer, then whether to update.
    for (const auto& [typed, status] : {std::pair{"yes\\ny\\n", 0}, {"Y\\nn\\n", 2}, {"n\\n", 5}}) {
        EXPECT_EQ(Cli("update --printer 1 " + older, output, kScenario, typed), status) << output;
    }

    ASSERT_EQ(Cli("update --json --yes --printer 1 " + newer, output, kFaultyScenario), 1);
    const std::vector<nlohmann::json> events = tools_test::JsonLines(output);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), nlohmann::json::parse(
                                 R"({"event": "finished", "ok": false, "rebootRequired": true})"));
}

TEST_F(CliUpdateTest, UpdateAllSendsToEveryAcceptingPrinterAtOnce) {
    const std::string file = Firmware("KST2_0130.bin", 1, 3);
    std::string output;
    ASSERT_EQ(Cli("update --json --yes --all " + file, output), 0) << output;
    const std::vector<std::string> updated = {"finished", "rediscovered", "1.3.0.0"};
    EXPECT_EQ(ByDevice(output, 3),
              (std::map<std::string, std::vector<std::string>>{{tools_test::Node(0, 2), updated},
                                                               {tools_test::Node(2, 4), updated}}));
    EXPECT_EQ(ByDevice(output, 100)[tools_test::Node(0, 2)].front(), "started");

    // Each printer checks the file by its own rules: a broken CRC refuses it only where the
    // description asks for the check (the Kestrel 200; the Kestrel 400's KH1 head takes the same
    // names without it). The others are updated; the worst outcome is the exit status.
    std::string mixed = R"({"printers": [
        {"deviceId": "MFG:Orvane;MDL:Kestrel 200;VER:1.2.0.0;"},
        {"deviceId": "MFG:Orvane;MDL:Kestrel 400;VER:1.0.0.0;PHD:KH1;",
         "restart": {"delayMs": 100}},
        {"deviceId": "MFG:Orvane;MDL:Kestrel 400;VER:1.5.0.0;PHD:KH1;"}]})";
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).seekp(100).put('\x55');
    ASSERT_EQ(Cli("update --json --yes --all " + file, output, mixed.c_str()), 5) << output;
    EXPECT_EQ(ByDevice(output, 3),
              (std::map<std::string, std::vector<std::string>>{
                  {tools_test::Node(0, 2), {"refused", "the file fails the CRC check"}},
                  {tools_test::Node(1, 3), {"finished", "rediscovered", "1.0.0.0"}},
                  {tools_test::Node(2, 4),
                   {"refused",
                    "the file (1.3.0.0) is not newer than the printer's "
                    "firmware (1.5.0.0); use --allow-older"}}}))
        << output;
    mixed.insert(mixed.rfind(']'),
                 R"(, {"deviceId": "MFG:Orvane;MDL:Kestrel 400;VER:1.0.0.0;PHD:KH1;",
        "faults": [{"kind": "write-error", "atDataByte": 100}]})");
    EXPECT_EQ(Cli("update --yes --all " + file, output, mixed.c_str()), 1) << output;
}
