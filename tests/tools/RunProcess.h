#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "updater/FirmwareImage.h"

namespace tools_test {

// Runs a shell command line; returns its exit status (-1 when it could not run or did not exit
// normally) and its standard output.
inline int RunProcess(const std::string& commandLine, std::string& output) {
    output.clear();
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, count);
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The device path that reflasher-cli gives an emulated printer: its usblp node lpN when the test
// runs with REFLASHER_TRANSPORT=usblp, its usbfs node (USB address devnum, interface 0) otherwise.
// The simulator gives printers addresses from 2 on, in the order they are added, and a printer
// back from a restart the next free one.
inline std::string Node(int lp, int devnum) {
    const char* transport = std::getenv("REFLASHER_TRANSPORT");
    if (transport != nullptr && std::string(transport) == "usblp") {
        return "/dev/usb/lp" + std::to_string(lp);
    }
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d:0", devnum);
    return path;
}

// expected with each "/dev/usb/lpN" replaced by Node(N, N + 2): a printer's path before any
// restart.
inline std::string WithNodes(std::string expected) {
    const std::string prefix = "/dev/usb/lp";
    for (std::size_t at = expected.find(prefix); at != std::string::npos;
         at = expected.find(prefix, at + 1)) {
        const int lp = expected[at + prefix.size()] - '0';
        const std::string node = Node(lp, lp + 2);
        expected.replace(at, prefix.size() + 1, node);
        at += node.size() - 1;
    }
    return expected;
}

// Each key of expected (a JSON object) is a JSON pointer into actual, "" for the whole of it;
// device paths as WithNodes gives them.
inline void ExpectAt(const nlohmann::json& actual, const std::string& expected) {
    const nlohmann::json table = nlohmann::json::parse(WithNodes(expected));
    for (const auto& [pointer, value] : table.items()) {
        const nlohmann::json::json_pointer at(pointer);
        EXPECT_EQ(actual.contains(at) ? actual.at(at) : nlohmann::json("(missing)"), value)
            << pointer;
    }
}

// Writes a firmware file of version major.minor.0.0, size bytes with a correct CRC trailer.
inline std::string WriteFirmware(const std::string& path, int major, int minor,
                                 std::size_t size = 10000) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 4; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 13);
    }
    bytes[0] = static_cast<std::uint8_t>(minor);
    bytes[1] = static_cast<std::uint8_t>(major);
    const std::uint16_t crc = FirmwareImage::Crc16(bytes.data(), size - 2);
    bytes[size - 2] = static_cast<std::uint8_t>(crc);
    bytes[size - 1] = static_cast<std::uint8_t>(crc >> 8);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    return path;
}

// One JSON document per line of text, discarded where a line is not one.
inline std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> documents;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        documents.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return documents;
}

}  // namespace tools_test
