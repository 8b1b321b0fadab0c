#pragma once

#include <string>

#include "simulator/PrinterConfig.h"
#include "simulator/UmockdevPrinterHost.h"

namespace device_test {

// One host for the whole test program: its emulated devices live until the program ends.
inline simulator::UmockdevPrinterHost& Host() {
    static simulator::UmockdevPrinterHost host;
    return host;
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
    simulator::Fault fault;
    fault.kind = kind;
    config.faults.push_back(fault);
    return config;
}

}  // namespace device_test
