#pragma once

#include <sys/wait.h>

#include <cstdio>
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

}  // namespace tools_test
