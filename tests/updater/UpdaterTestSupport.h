#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/IdentifiedPrinter.h"
#include "platform/ModulePath.h"
#include "simulator/PrinterConfig.h"
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
    const char* made = mkdtemp(&pattern[0]);
    EXPECT_NE(made, nullptr);
    return pattern;
}

// size bytes: version prefix 05 01 03 00 (1.5.0.3), then a counting pattern.
inline std::vector<std::uint8_t> ImageBytes(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i < 4 ? "\x05\x01\x03\x00"[i] : i * 7 + 3);
    }
    return bytes;
}

inline std::string WriteFile(const std::string& dir, const std::string& name,
                             const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
}

// A fault of the given kind; set fills in its other fields.
inline simulator::Fault MakeFault(simulator::FaultKind kind,
                                  const std::function<void(simulator::Fault&)>& set = nullptr) {
    simulator::Fault fault;
    fault.kind = kind;
    if (set) {
        set(fault);
    }
    return fault;
}

struct ModelFlags {
    bool strip = false;
    bool reboot = false;
    int crcVerify = -1;
};

// A description with head "TH1" (default) accepting RVX2_*.bin and *.fw, and an empty head "TH2".
inline IdentifiedPrinter* MakeIdentified(const std::string& devicePath, ModelFlags flags) {
    auto* printer = new IdentifiedPrinter();
    PrinterDescription& d = printer->description;
    d.shortName = "Test 1";
    d.shortNameResourceId = 5001;
    d.stripVersionBytes = flags.strip;
    d.requiresReboot = flags.reboot;
    d.firmwareCrcVerify = flags.crcVerify;
    d.defaultHead = "TH1";
    d.heads["TH1"].id = "TH1";
    d.heads["TH1"].firmwareNameSpecs = {{"RVX2_", "bin", 1}, {"", "fw", 1}};
    d.heads["TH2"].id = "TH2";
    printer->SetDevicePath(Wide(devicePath).c_str());
    return printer;
}

inline simulator::PrinterConfig Config(
    const std::string& deviceId = "MFG:Orvane;MDL:Test 1;VER:1.5.0.2;") {
    simulator::PrinterConfig config;
    config.deviceId = deviceId;
    return config;
}

inline simulator::PrinterConfig WithFaults(std::vector<simulator::Fault> faults) {
    simulator::PrinterConfig config = Config();
    config.faults = std::move(faults);
    return config;
}

// Adds a simulated printer and returns it attached and opened.
inline std::unique_ptr<AttachedPrinter> Attach(simulator::UmockdevPrinterHost& host,
                                               const simulator::PrinterConfig& config,
                                               ModelFlags flags = {}) {
    EXPECT_FALSE(host.AddPrinter(config).empty()) << host.error();
    const std::string path = transport_test::PathOf(host, host.PrinterCount() - 1);
    auto printer = std::make_unique<AttachedPrinter>(MakeIdentified(path, flags));
    EXPECT_TRUE(printer->Open());
    return printer;
}

}  // namespace updater_test
