#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How far the identification of one device got, and the first reason it stopped: what a
// technician needs to tell why a printer is not listed.
struct IdentificationReport {
    std::optional<std::string> deviceId;     // as the printer gave it; absent when not read
    std::uint32_t openError = 0;             // the last error of a failed open, else 0
    bool held = false;                       // the open failed because another program has it
    std::optional<std::uint32_t> vendorId;   // once the manufacturer name is known
    std::optional<std::uint32_t> productId;  // once the model name is known
    std::string reason;                      // empty once identified
};
