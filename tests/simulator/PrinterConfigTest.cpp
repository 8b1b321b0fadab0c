#include "simulator/PrinterConfig.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace simulator {
namespace {

TEST(PrinterConfigTest, ParsesAFullScenarioAndFillsDefaults) {
    const std::string text = R"({"printers": [
      {"deviceId": "MFG:Orvane;MDL:Wend 300;VER:1.0.0.7;", "busyPolls": 2, "lengthPrefix": "little",
       "usb": {"idVendor": "0x04B8", "idProduct": "0202", "serial": "A1"},
       "faults": [{"kind": "no-ack", "stage": 2}, {"kind": "wrong-stage", "stage": 1,
         "reportedStage": 7}, {"kind": "write-error", "command": "ImageInfoCommand"},
        {"kind": "write-error", "atDataByte": 5000, "errno": 32}, {"kind": "short-write",
         "atDataByte": 10}, {"kind": "disconnect", "atDataByte": 0}, {"kind": "status-read-error",
         "afterReads": 3}, {"kind": "stall-read", "ms": 600000, "atRead": 4}, {"kind": "idle-only"},
       {"kind": "busy-forever"}, {"kind": "no-device-id"}, {"kind": "held"}, {"kind": "stall-write",
         "atDataByte": 7, "unplugAfterMs": 300}, {"kind": "short-record", "atRead": 2, "bytes": 3},
        {"kind": "double-record"}, {"kind": "zero-length-read", "atRead": 5}]}, {"deviceId": ""},
      {"deviceIdHex": "4d46473aff", "lengthPrefix": 513, "answers": "on-news", "usb": {"port": 9},
       "restart": {"delayMs": 50, "returns": "old"}}, {"deviceId": "", "restart": false}]})";
    std::vector<PrinterConfig> printers;
    std::string error;
    ASSERT_TRUE(ParseScenario(text, printers, error)) << error;
    ASSERT_EQ(printers.size(), 4u);

    const PrinterConfig& first = printers[0];
    EXPECT_EQ(std::make_tuple(first.idVendor, first.idProduct, first.serial, first.busyPolls,
                              first.lengthPrefix, first.answers, first.restart),
              std::make_tuple(0x04B8, 0x0202, "A1", 2u, LengthPrefix::kLittle, Answers::kAtOnce,
                              PrinterConfig::Restart::kUnset));
    ASSERT_EQ(first.faults.size(), 16u);
    const std::vector<Fault>& f = first.faults;
    EXPECT_EQ(std::make_tuple(f[0].kind, f[0].stage, f[1].reportedStage, f[2].command,
                              f[2].atDataByte, f[3].atDataByte, f[3].error, f[5].kind,
                              f[6].afterReads, f[7].ms, f[7].atRead, f[11].kind),
              std::make_tuple(FaultKind::kNoAck, 2, 7, "ImageInfoCommand", -1, 5000, 32,
                              FaultKind::kDisconnect, 3u, 600000u, 4u, FaultKind::kHeld));
    EXPECT_STREQ(FaultKindName(f[10].kind), "no-device-id");
    EXPECT_EQ(std::make_tuple(f[12].atDataByte, f[12].unplugAfterMs, f[13].atRead, f[13].bytes,
                              f[14].kind, f[14].atRead, f[15].atRead),
              std::make_tuple(7, 300u, 2u, 3u, FaultKind::kDoubleRecord, 1u, 5u));

    const PrinterConfig& second = printers[1];
    EXPECT_EQ(std::make_tuple(second.deviceId, second.idVendor, second.idProduct, second.serial,
                              second.busyPolls, second.lengthPrefix, second.faults.size()),
              std::make_tuple("", 0x1209, 0x0001, "", 0u, LengthPrefix::kBig, 0u));

    const PrinterConfig& third = printers[2];
    EXPECT_EQ(std::make_tuple(third.deviceId, third.lengthPrefix, third.prefixValue, third.answers,
                              third.port, third.restart, third.restartDelayMs, third.afterRestart),
              std::make_tuple(std::string("MFG:\xff"), LengthPrefix::kFixed, 513, Answers::kOnNews,
                              9, PrinterConfig::Restart::kYes, 50u, AfterRestart::kOldVersion));
    EXPECT_EQ(std::make_pair(printers[3].restart, printers[3].restartDelayMs),
              std::make_pair(PrinterConfig::Restart::kNo, 2000u));
}

// A scenario of one printer with an empty device ID and the given further keys.
std::string OnePrinter(const std::string& keys) {
    return R"({"printers": [{"deviceId": "")" + keys + "}]}";
}
std::string OneFault(const std::string& fault) {
    return OnePrinter(R"(, "faults": [)" + fault + "]");
}

TEST(PrinterConfigTest, RefusesUnusableScenariosWithAMessageNamingThePlace) {
    std::string seventeen = R"({"deviceId": ""})";
    for (int i = 1; i < 17; ++i) {
        seventeen += R"(, {"deviceId": ""})";
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{", "not valid JSON"},
        {"[]", "\"printers\""},
        {R"({"printer": []})", "unknown key \"printer\""},
        {R"({"printers": [{}]})", "printers[0]: give either \"deviceId\""},
        {R"({"printers": [{"deviceId": 5}]})", "\"deviceId\" must be a string"},
        {R"({"printers": [{"deviceId": ")" + std::string(4097, 'x') + R"("}]})",
         "printers[0].deviceId"},
        {R"({"printers": [{"deviceIdHex": "4d4"}]})", "hex digit pairs"},
        {R"({"printers": [)" + seventeen + "]}", "16 minors"},
        {OnePrinter(R"(, "answers": "sometimes")"), "\"answers\""},
        {OnePrinter(R"(, "restart": {"returns": "later"})"), "\"returns\""},
        {OnePrinter(R"(, "lengthPrefix": 65536)"), "\"lengthPrefix\""},
        {OnePrinter(R"(, "usb": {"port": 17})"), "usb: \"port\""},
        {OnePrinter(R"(, "busypolls": 1)"), "unknown key \"busypolls\""},
        {OnePrinter(R"(, "busyPolls": -1)"), "\"busyPolls\""},
        {OnePrinter(R"(, "usb": {"idVendor": "12345"})"), "printers[0].usb.idVendor"},
        {OnePrinter(R"(, "usb": {"idProduct": "xyz"})"), "usb.idProduct"},
        {OnePrinter(R"(, "usb": {"serial": "a\nb"})"), "usb.serial"},
        {OnePrinter(R"(, "lengthPrefix": "middle")"), "\"lengthPrefix\""},
        {OnePrinter(R"(, "faults": {})"), "\"faults\" must be an array"},
        {OneFault(R"({"kind": "on-fire"})"),
         "printers[0].faults[0]: unknown fault kind \"on-fire\""},
        {OneFault(R"({"stage": 1})"), "\"kind\" is missing"},
        {OneFault(R"({"kind": "no-ack", "stage": 3})"), "1, 2 or 255"},
        {OneFault(R"({"kind": "no-ack", "stages": 1})"), "(no-ack): unknown key \"stages\""},
        {OneFault(R"({"kind": "wrong-stage", "stage": 2, "reportedStage": 2})"), "must differ"},
        {OneFault(R"({"kind": "write-error"})"), "either \"command\" or \"atDataByte\""},
        {OneFault(R"({"kind": "write-error", "command": "StartCommand", "atDataByte": 1})"),
         "either \"command\" or \"atDataByte\""},
        {OneFault(R"({"kind": "write-error", "command": "Start"})"), "\"command\" must be"},
        {OneFault(R"({"kind": "short-write"})"), "\"atDataByte\" is missing"},
        {OneFault(R"({"kind": "disconnect", "atDataByte": -4})"), "\"atDataByte\""},
        {OneFault(R"({"kind": "stall-read"})"), "\"ms\" is missing"},
        {OneFault(R"({"kind": "stall-read", "ms": 5, "atRead": 0})"), "\"atRead\""},
        {OneFault(R"({"kind": "stall-read", "ms": 600001})"), "\"ms\" must be between"},
        {OneFault(R"({"kind": "held", "ms": 5})"), "(held): unknown key \"ms\""},
        {OneFault(R"({"kind": "short-record", "bytes": 12})"), "\"bytes\""},
        {OneFault(R"({"kind": "stall-write"})"), "\"atDataByte\" is missing"}};
    for (const auto& [json, messagePart] : cases) {
        SCOPED_TRACE(json.substr(0, 120));
        std::vector<PrinterConfig> printers(1);
        std::string error;
        EXPECT_FALSE(ParseScenario(json, printers, error));
        EXPECT_NE(error.find(messagePart), std::string::npos) << error;
        EXPECT_EQ(printers.size(), 1u) << "a refused scenario leaves the output alone";
    }
}

TEST(PrinterConfigTest, DeviceIdsUpToWhatTheDriverPassesOnAreUsable) {
    std::string error;
    EXPECT_TRUE(ValidateDeviceId(std::string(kMaxDeviceIdLength, 'x'), error));
    EXPECT_FALSE(ValidateDeviceId(std::string(kMaxDeviceIdLength + 1, 'x'), error));
    EXPECT_NE(error.find("4096"), std::string::npos) << error;
}

}  // namespace
}  // namespace simulator
