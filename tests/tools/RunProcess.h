#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

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

// Each key of expected (a JSON object) is a JSON pointer into actual, "" for the whole of it.
inline void ExpectAt(const nlohmann::json& actual, const char* expected) {
    const nlohmann::json table = nlohmann::json::parse(expected);
    for (const auto& [pointer, value] : table.items()) {
        const nlohmann::json::json_pointer at(pointer);
        if (!actual.contains(at)) {
            ADD_FAILURE() << pointer << " is missing";
        } else {
            EXPECT_EQ(actual.at(at), value) << pointer;
        }
    }
}

}  // namespace tools_test
