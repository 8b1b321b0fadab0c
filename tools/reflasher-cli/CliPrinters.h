#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/reflasher-cli/CliCommon.h"

class AttachedPrinter;
class DiscoveryWorker;

using Json = nlohmann::ordered_json;  // keys in the order written

// One line of JSON; text that is not UTF-8 is replaced rather than thrown on.
std::string Dump(const Json& document);

// One printer as the window would list it. printer belongs to the worker that found it and is
// valid until its next run; the texts stay valid.
struct Row {
    int index = 0;
    AttachedPrinter* printer = nullptr;
    std::string devicePath;
    std::string shortName;
    std::int32_t modelId = -1;
    int counter = 0;
    std::string firmwareVersion;
    bool hasHead = false;
    std::string head;
    std::vector<std::string> extensions;

    std::string Model() const { return shortName + " (" + std::to_string(counter) + ")"; }
};

// Runs one discovery on worker, on the calling thread's behalf, and waits for it to end.
std::vector<Row> Discover(DiscoveryWorker& worker, const CliOptions& options);

// The USB port a device path is plugged into; empty when it cannot be told.
std::string UsbPort(const std::string& devicePath);
