#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "platform/ModulePath.h"
#include "simulator/UmockdevPrinterHost.h"
#include "tests/TransportUnderTest.h"
#include "updater/AttachedPrinter.h"
#include "updater/FirmwareImage.h"

namespace updater_test {

inline std::wstring Wide(const std::string& narrow) {
    std::wstring wide;
    platform::NarrowToWide(narrow, wide);
    return wide;
}

// A fresh directory under the test's temporary folder.
inline std::string MakeTempDir() {
    std::string pattern = ::testing::TempDir() + "reflasher-XXXXXX";
    EXPECT_NE(mkdtemp(&pattern[0]), nullptr);
    return pattern;
}

// size bytes: version prefix 05 01 03 00 (1.5.0.3), then a counting pattern.
inline std::vector<std::uint8_t> ImageBytes(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i < 4 ? "\x05\x01\x03\x00"[i] : i * 7 + 3);
    return bytes;
}

// CRC-16/ARC one bit at a time, independent of the tables and constants under test.
inline std::uint16_t BitwiseCrc16(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

// The bytes followed by their CRC, low byte first.
inline std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> bytes) {
    const std::uint16_t crc = BitwiseCrc16(bytes.data(), bytes.size());
    bytes.insert(bytes.end(),
                 {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)});
    return bytes;
}

inline std::string WriteFile(const std::string& dir, const std::string& name,
                             const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << std::string(bytes.begin(), bytes.end());
    return path;
}

// strip and reboot are flags; crcVerify is the description's number.
struct ModelFlags {
    int strip = 0, reboot = 0, crcVerify = -1;
};

// A description with head "TH1" (default) accepting RVX2_*.bin and *.fw, and an empty head "TH2".
inline IdentifiedPrinter* MakeIdentified(const std::string& devicePath, ModelFlags flags,
                                         const std::string& name = "Test 1",
                                         int resourceId = 5001) {
    auto* printer = new IdentifiedPrinter();
    PrinterDescription& d = printer->description;
    d.shortName = name;
    d.shortNameResourceId = resourceId;
    d.stripVersionBytes = flags.strip;
    d.requiresReboot = flags.reboot;
    d.firmwareCrcVerify = flags.crcVerify;
    d.defaultHead = "TH1";
    d.heads["TH1"] = {"TH1", {}, {{"RVX2_", "bin", 1}, {"", "fw", 1}}};
    d.heads["TH2"].id = "TH2";
    printer->SetDevicePath(Wide(devicePath).c_str());
    return printer;
}

inline const char* const kTestId = "MFG:Orvane;MDL:Test 1;VER:1.5.0.2;";

inline simulator::PrinterConfig Config(const std::string& deviceId = kTestId) {
    simulator::PrinterConfig config;
    config.deviceId = deviceId;
    return config;
}

// A printer as a scenario entry (without its braces) gives it; the device ID is kTestId.
inline simulator::PrinterConfig Scenario(const std::string& entry) {
    std::vector<simulator::PrinterConfig> configs{Config()};
    std::string error, text = R"({"printers": [{"deviceId": ")" + std::string(kTestId) + "\", ";
    EXPECT_TRUE(simulator::ParseScenario(text + entry + "}]}", configs, error)) << error;
    return configs.back();
}

// Adds a simulated printer and returns it attached and opened.
inline std::unique_ptr<AttachedPrinter> Attach(simulator::UmockdevPrinterHost& host,
                                               const simulator::PrinterConfig& config,
                                               ModelFlags flags = {},
                                               const std::string& name = "Test 1",
                                               int resourceId = 5001) {
    EXPECT_FALSE(host.AddPrinter(config).empty()) << host.error();
    const std::string path = transport_test::PathOf(host, host.PrinterCount() - 1);
    auto printer = std::make_unique<AttachedPrinter>(MakeIdentified(path, flags, name, resourceId));
    EXPECT_TRUE(printer->Open());
    return printer;
}

}  // namespace updater_test
