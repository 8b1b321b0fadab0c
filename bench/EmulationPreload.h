#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "simulator/UmockdevPrinterHost.h"

// Benchmarks host their emulated printers in their own process, which must run with the
// emulation's preload libraries. Without them, this starts the program again with them and
// returns only when that fails (the status to exit with); with them, it returns 0 at once.
inline int RestartUnderEmulationIfNeeded(char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::string(preload).find("umockdev-preload") != std::string::npos) {
        return 0;
    }
    const std::string folder =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    setenv("LD_PRELOAD", simulator::UmockdevPrinterHost::PreloadLibraries(folder).c_str(), 1);
    execv("/proc/self/exe", argv);
    std::perror("/proc/self/exe");
    return 1;
}
