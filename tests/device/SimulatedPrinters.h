#pragma once

#include <gtest/gtest.h>

#include <string>

#include "simulator/PrinterConfig.h"
#include "simulator/UmockdevPrinterHost.h"

namespace device_test {

// One host for the whole test program: its emulated devices live until the program ends.
inline simulator::UmockdevPrinterHost& Host() {
    static simulator::UmockdevPrinterHost host;
    return host;
}

// The port's path to a new printer through usblp or libusb.
inline std::wstring AddPrinter(const simulator::PrinterConfig& config, bool libusb) {
    std::string path = Host().AddPrinter(config);
    EXPECT_FALSE(path.empty()) << Host().error();
    if (libusb) {
        path = Host().UsbfsPath(Host().PrinterCount() - 1) + ":0";
    }
    return std::wstring(path.begin(), path.end());
}

inline simulator::PrinterConfig WithId(
    const std::string& deviceId, simulator::LengthPrefix prefix = simulator::LengthPrefix::kBig) {
    simulator::PrinterConfig config;
    config.deviceId = deviceId;
    config.lengthPrefix = prefix;
    return config;
}

// A described printer ("MFG:Orvane;MDL:OP-A;") with one fault of the given kind.
inline simulator::PrinterConfig WithFault(simulator::FaultKind kind) {
    simulator::PrinterConfig config = WithId("MFG:Orvane;MDL:OP-A;");
    config.faults.emplace_back().kind = kind;
    return config;
}

}  // namespace device_test
