#include "simulator/PrinterConfig.h"

#include <gtest/gtest.h>

namespace simulator {
namespace {

TEST(PrinterConfigTest, ParsesAFullScenarioAndFillsDefaults) {
    const std::string text = R"({"printers": [
        {"deviceId": "MFG:Orvane;MDL:Wend 300;VER:1.0.0.7;",
         "usb": {"idVendor": "0x04B8", "idProduct": "0202", "serial": "A1"},
         "busyPolls": 2, "lengthPrefix": "little",
         "faults": [{"kind": "no-ack", "stage": 2},
                    {"kind": "wrong-stage", "stage": 1, "reportedStage": 7},
                    {"kind": "write-error", "command": "ImageInfoCommand"},
                    {"kind": "write-error", "atDataByte": 5000, "errno": 32},
                    {"kind": "short-write", "atDataByte": 10},
                    {"kind": "disconnect", "atDataByte": 0},
                    {"kind": "status-read-error", "afterReads": 3},
                    {"kind": "stall-read", "ms": 200, "atRead": 4},
                    {"kind": "idle-only"}, {"kind": "busy-forever"},
                    {"kind": "no-device-id"}, {"kind": "held"}]},
        {"deviceId": ""}]})";
    std::vector<PrinterConfig> printers;
    std::string error;
    ASSERT_TRUE(ParseScenario(text, printers, error)) << error;
    ASSERT_EQ(printers.size(), 2u);

    const PrinterConfig& first = printers[0];
    EXPECT_EQ(first.idVendor, 0x04B8);
    EXPECT_EQ(first.idProduct, 0x0202);
    EXPECT_EQ(first.serial, "A1");
    EXPECT_EQ(first.busyPolls, 2u);
    EXPECT_EQ(first.lengthPrefix, LengthPrefix::kLittle);
    ASSERT_EQ(first.faults.size(), 12u);
    EXPECT_EQ(first.faults[0].kind, FaultKind::kNoAck);
    EXPECT_EQ(first.faults[0].stage, 2);
    EXPECT_EQ(first.faults[1].reportedStage, 7);
    EXPECT_EQ(first.faults[2].command, "ImageInfoCommand");
    EXPECT_EQ(first.faults[2].atDataByte, -1);
    EXPECT_EQ(first.faults[3].atDataByte, 5000);
    EXPECT_EQ(first.faults[3].error, 32);
    EXPECT_EQ(first.faults[5].kind, FaultKind::kDisconnect);
    EXPECT_EQ(first.faults[6].afterReads, 3u);
    EXPECT_EQ(first.faults[7].ms, 200u);
    EXPECT_EQ(first.faults[7].atRead, 4u);
    EXPECT_EQ(first.faults[11].kind, FaultKind::kHeld);
    EXPECT_STREQ(FaultKindName(first.faults[10].kind), "no-device-id");

    const PrinterConfig& second = printers[1];
    EXPECT_EQ(second.deviceId, "");
    EXPECT_EQ(second.idVendor, 0x1209);
    EXPECT_EQ(second.idProduct, 0x0001);
    EXPECT_TRUE(second.serial.empty());
    EXPECT_EQ(second.busyPolls, 0u);
    EXPECT_EQ(second.lengthPrefix, LengthPrefix::kBig);
    EXPECT_TRUE(second.faults.empty());
}

TEST(PrinterConfigTest, RefusesUnusableScenariosWithAMessageNamingThePlace) {
    struct Case {
        std::string json;
        std::string messagePart;
    };
    const std::string longId(1023, 'x');
    const std::vector<Case> cases = {
        {"{", "not valid JSON"},
        {"[]", "\"printers\""},
        {R"({"printer": []})", "unknown key \"printer\""},
        {R"({"printers": [{}]})", "printers[0]: \"deviceId\" is missing"},
        {R"({"printers": [{"deviceId": 5}]})", "\"deviceId\" is missing"},
        {R"({"printers": [{"deviceId": ")" + longId + R"("}]})", "printers[0].deviceId"},
        {R"({"printers": [{"deviceId": "", "busypolls": 1}]})", "unknown key \"busypolls\""},
        {R"({"printers": [{"deviceId": "", "busyPolls": -1}]})", "\"busyPolls\""},
        {R"({"printers": [{"deviceId": "", "usb": {"idVendor": "12345"}}]})",
         "printers[0].usb.idVendor"},
        {R"({"printers": [{"deviceId": "", "usb": {"idProduct": "xyz"}}]})", "usb.idProduct"},
        {R"({"printers": [{"deviceId": "", "usb": {"serial": "a\nb"}}]})", "usb.serial"},
        {R"({"printers": [{"deviceId": "", "lengthPrefix": "middle"}]})", "\"lengthPrefix\""},
        {R"({"printers": [{"deviceId": "", "faults": {}}]})", "\"faults\" must be an array"},
        {R"({"printers": [{"deviceId": "", "faults": [{"kind": "on-fire"}]}]})",
         "printers[0].faults[0]: unknown fault kind \"on-fire\""},
        {R"({"printers": [{"deviceId": "", "faults": [{"stage": 1}]}]})", "\"kind\" is missing"},
        {R"({"printers": [{"deviceId": "", "faults": [{"kind": "no-ack", "stage": 3}]}]})",
         "1, 2 or 255"},
        {R"({"printers": [{"deviceId": "", "faults": [{"kind": "no-ack", "stages": 1}]}]})",
         "(no-ack): unknown key \"stages\""},
        {R"({"printers": [{"deviceId": "", "faults": [
            {"kind": "wrong-stage", "stage": 2, "reportedStage": 2}]}]})",
         "must differ"},
        {R"({"printers": [{"deviceId": "", "faults": [{"kind": "write-error"}]}]})",
         "either \"command\" or \"atDataByte\""},
        {R"({"printers": [{"deviceId": "", "faults": [
            {"kind": "write-error", "command": "StartCommand", "atDataByte": 1}]}]})",
         "either \"command\" or \"atDataByte\""},
        {R"({"printers": [{"deviceId": "", "faults": [
            {"kind": "write-error", "command": "Start"}]}]})",
         "\"command\" must be"},
        {R"({"printers": [{"deviceId": "", "faults": [{"kind": "short-write"}]}]})",
         "\"atDataByte\" is missing"},
        {R"({"printers": [{"deviceId": "", "faults": [
            {"kind": "disconnect", "atDataByte": -4}]}]})",
         "\"atDataByte\""},
        {R"({"printers": [{"deviceId": "", "faults": [{"kind": "stall-read"}]}]})",
         "\"ms\" is missing"},
        {R"({"printers": [{"deviceId": "", "faults": [
            {"kind": "stall-read", "ms": 5, "atRead": 0}]}]})",
         "\"atRead\""},
        {R"({"printers": [{"deviceId": "", "faults": [{"kind": "held", "ms": 5}]}]})",
         "(held): unknown key \"ms\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json.substr(0, 120));
        std::vector<PrinterConfig> printers(1);
        std::string error;
        EXPECT_FALSE(ParseScenario(c.json, printers, error));
        EXPECT_NE(error.find(c.messagePart), std::string::npos) << error;
        EXPECT_EQ(printers.size(), 1u) << "a refused scenario leaves the output alone";
    }
}

TEST(PrinterConfigTest, DeviceIdsUpToWhatTheDriverPassesOnAreUsable) {
    std::string error;
    EXPECT_TRUE(ValidateDeviceId("", error));
    EXPECT_TRUE(ValidateDeviceId(std::string(kMaxDeviceIdLength, 'x'), error));
    EXPECT_FALSE(ValidateDeviceId(std::string(kMaxDeviceIdLength + 1, 'x'), error));
    EXPECT_NE(error.find("1023"), std::string::npos) << error;
}

}  // namespace
}  // namespace simulator
