#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

class OrvanePrinterSimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(mkdtemp(&dir_[0]), nullptr); }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string ReadFile(const std::string& name) const {
        std::ostringstream text;
        text << std::ifstream(Path(name)).rdbuf();
        return text.str();
    }
    // Runs orvane-printer-sim with the given arguments (already quoted) and returns its status.
    int RunSim(const std::string& arguments) const {
        const std::string command = std::string("'") + ORVANE_PRINTER_SIM + "' " + arguments +
                                    " >'" + Path("stdout") + "' 2>'" + Path("stderr") + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string dir_ = "/tmp/orvane-printer-sim-test.XXXXXX";
};

TEST_F(OrvanePrinterSimTest, RunsTheCommandAmongThePrintersAndWritesTheTranscript) {
    std::ofstream(Path("scenario.json")) << R"({"printers": [
        {"deviceId": "MFG:Orvane;MDL:Wend 300;VER:1.0.0.7;", "busyPolls": 1}]})";
    const std::string secondId = "MFG:Orvane;MDL:Wend 100;VER:3.1.0.2;";
    const int status = RunSim("--scenario '" + Path("scenario.json") + "' --printer '" + secondId +
                              "' --transcript '" + Path("transcript.json") + "' -- '" +
                              SIMULATOR_PROBE + "' /dev/usb/lp1 3");
    EXPECT_EQ(status, 3) << ReadFile("stderr");
    EXPECT_EQ(ReadFile("stdout"), secondId);

    const nlohmann::json printers = nlohmann::json::parse(ReadFile("transcript.json"))["printers"];
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(std::make_tuple(printers[0]["devicePath"], printers[0]["opens"],
                              printers[0]["outcome"], printers[0]["firmwareVersion"]),
              std::make_tuple("/dev/usb/lp0", 0, "untouched", "1.0.0.7"));
    const nlohmann::json& probed = printers[1];
    EXPECT_EQ(std::make_tuple(probed["devicePath"], probed["opens"], probed["deviceIdQueries"],
                              probed["statusReads"], probed["inTransfers"], probed["outcome"],
                              probed["commands"].size(), probed["commands"][1]["name"]),
              std::make_tuple("/dev/usb/lp1", 1, 1, 1, 2, "failed", 2u, "EndCommand"));
}

TEST_F(OrvanePrinterSimTest, RefusesUnusableInputBeforeRunningAnything) {
    std::ofstream(Path("broken.json"))
        << R"({"printers": [{"deviceId": "x", "faults": [{"kind": "no-ack", "stage": 3}]}]})";
    const std::string run = " -- touch '" + Path("ran") + "'";
    const std::string transcript = " --transcript '" + Path("transcript.json") + "'";
    std::string seventeen;
    for (int i = 0; i < 17; ++i) {
        seventeen += " --printer 'MFG:A;MDL:B;'";
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--scenario '" + Path("broken.json") + "'" + transcript + run, "printers[0].faults[0]"},
        {"--scenario '" + Path("missing.json") + "'" + transcript + run, "cannot read scenario"},
        {"--printer " + std::string(4097, 'x') + transcript + run, "at most 4096"},
        {seventeen + transcript + run, "16 minors"},
        {"--printer 'MFG:A;MDL:B;'" + transcript, "no command"},
        {"--bogus" + transcript + run, "bogus"},
    };
    for (const auto& [arguments, messagePart] : cases) {
        SCOPED_TRACE(arguments.substr(0, 100));
        EXPECT_EQ(RunSim(arguments), 2);
        EXPECT_NE(ReadFile("stderr").find(messagePart), std::string::npos) << ReadFile("stderr");
        EXPECT_NE(access(Path("ran").c_str(), F_OK), 0);
        EXPECT_NE(access(Path("transcript.json").c_str(), F_OK), 0);
    }
}

}  // namespace
