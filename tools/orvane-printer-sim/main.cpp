// orvane-printer-sim [--scenario FILE] [--printer DEVICE-ID]... [--transcript FILE] -- COMMAND
// [ARG]... Emulates one /dev/usb/lpN per printer and runs COMMAND inside that emulation; exits with
// the command's status (128 + signal number when it was killed). Status 2: unusable arguments,
// refused before anything runs.
#include <signal.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Common/Headers/PrinterDescription.h"
#include "Common/Headers/PrinterStates.h"
#include "device/DeviceIdRecord.h"
#include "platform/AsciiFolder.h"
#include "platform/ModulePath.h"
#include "simulator/PrinterConfig.h"
#include "simulator/UmockdevPrinterHost.h"

extern char** environ;

namespace {

constexpr int kUsageError = 2;

const char* const kHelpFooter = R"(Usage: orvane-printer-sim [OPTIONS] -- COMMAND [ARG]...

Runs COMMAND among emulated /dev/usb/lpN printers (at most 16) and exits with its status;
2 when the arguments or the scenario cannot be used.

Scenario: {"printers": [{KEY: VALUE, ...}, ...]}, keys (default):
  deviceId TEXT | deviceIdHex HEX   the device ID the printer sends, up to 4096 bytes (required)
  lengthPrefix big|little|N         how it writes the 2-byte length before the ID (big)
  usb {idVendor, idProduct, serial, port}   hex ids (1209, 0001), serial (SIM0001...), port 1-16
  busyPolls N                       busy records before each acknowledgement (0)
  answers at-once|on-news           when it answers an IN transfer (at-once)
  restart true|false|{delayMs, returns: new|old|never}
                                    leaves and comes back after a flash (as Wend.xml says; 2000 ms)
  faults [{kind, ...}]              (none):
    no-ack [stage]                  a stage is never acknowledged (every stage)
    wrong-stage [stage, reportedStage]   acknowledged with another stage number
    idle-only | busy-forever        every status record idle / busy
    status-read-error [afterReads, errno]   IN transfers fail after afterReads (0) good ones
    stall-read ms [atRead]          IN transfer atRead (1) answered ms late
    short-record [atRead, bytes]    IN transfer atRead (1) brings bytes (6) of the record
    double-record [atRead]          IN transfer atRead (1) brings two records
    zero-length-read [atRead]       IN transfer atRead (1) is a zero-length packet
    write-error command|atDataByte [errno]  that command's or data byte's write fails once
    short-write atDataByte          the data write holding that byte is taken only up to it
    stall-write atDataByte [unplugAfterMs]  the printer stops taking data (unplugged after ms)
    disconnect atDataByte           the device vanishes at that data write
    no-device-id [errno]            the device-ID request fails
    held                            another program has the node open (EBUSY)
The printers sit behind a model of the kernel's usblp driver: one open at a time, one bulk-IN
transfer queued from the open on (read-ahead), 8 KiB writes, device IDs cut to 1,021 bytes.
Details: simulator/README.md.)";

// The child being run, for the signal handler that passes a termination on to it.
volatile sig_atomic_t childPid = 0;

struct Options {
    std::string scenarioFile;
    std::vector<std::string> printers;
    std::string transcriptFile;
    std::vector<std::string> command;
};

int Refuse(const std::string& message) {
    std::cerr << "orvane-printer-sim: " << message << "\n";
    return kUsageError;
}

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return !in.bad();
}

std::string ProgramFolder() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string();
}

// The environment for the child: ours, with the usblp open shim and umockdev's preload library in
// front (the testbed has already put UMOCKDEV_DIR into our environment).
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> entries;
    std::string preload = simulator::UmockdevPrinterHost::PreloadLibraries(ProgramFolder());
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("LD_PRELOAD=", 0) != 0) {
            entries.push_back(text);
            continue;
        }
        // Keep what was preloaded already behind ours, without loading anything twice.
        std::string rest = text.substr(std::strlen("LD_PRELOAD="));
        std::size_t begin = 0;
        while (begin <= rest.size()) {
            const std::size_t end = std::min(rest.find_first_of(": ", begin), rest.size());
            const std::string library = rest.substr(begin, end - begin);
            if (!library.empty() && preload.find(library) == std::string::npos) {
                preload += ":" + library;
            }
            begin = end + 1;
        }
    }
    entries.push_back("LD_PRELOAD=" + preload);
    return entries;
}

void PassOn(int signal) {
    if (childPid > 0) {
        kill(static_cast<pid_t>(childPid), signal);
    }
}

// A printer restarts after a flash when its description says so, unless the scenario decides.
void DecideRestart(simulator::PrinterConfig& config, const std::wstring& folder) {
    if (config.restart != simulator::PrinterConfig::Restart::kUnset) {
        return;
    }
    config.restart = simulator::PrinterConfig::Restart::kNo;
    DeviceIdRecord record;
    char mfg[400] = {};
    char mdl[400] = {};
    if (!record.Parse(config.deviceId.c_str()) || !record.GetMFG(mfg, sizeof mfg) ||
        !record.GetMDL(mdl, sizeof mdl)) {
        return;
    }
    PrinterDescription description;
    const platform::AsciiFolder ascii(folder);
    try {
        if (LookupPrinterDescription(ascii.Path() + L"/Wend.xml", ascii.Path() + L"/WendIDs.xml",
                                     mfg, mdl, description) &&
            description.requiresReboot) {
            config.restart = simulator::PrinterConfig::Restart::kYes;
        }
    } catch (...) {
        // Unreadable description files: the printer does not restart.
    }
}

// Runs the command and returns its exit status as a shell would report it.
int RunChild(const std::vector<std::string>& command) {
    std::vector<std::string> environment = ChildEnvironment();
    std::vector<char*> argv;
    for (const std::string& arg : command) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    // Like system(3): a Ctrl-C at the terminal is for the child; we wait for it and report. A
    // termination is passed on to the child, so that the testbed is still cleaned up after it.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction passOn = {};
    passOn.sa_handler = PassOn;
    struct sigaction oldInt = {};
    struct sigaction oldQuit = {};
    struct sigaction oldTerm = {};
    struct sigaction oldHup = {};
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);
    sigaction(SIGTERM, &passOn, &oldTerm);
    sigaction(SIGHUP, &passOn, &oldHup);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    pid_t child = 0;
    const int spawned =
        posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    int status = 0;
    int result = 0;
    if (spawned != 0) {
        std::cerr << "orvane-printer-sim: cannot run " << command[0] << ": "
                  << std::strerror(spawned) << "\n";
        result = spawned == ENOENT ? 127 : 126;
    } else {
        childPid = child;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        childPid = 0;
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // Everything after the first "--" is the command, untouched by option parsing.
    int split = 1;
    while (split < argc && std::strcmp(argv[split], "--") != 0) {
        ++split;
    }
    Options options;
    for (int i = split + 1; i < argc; ++i) {
        options.command.push_back(argv[i]);
    }

    CLI::App app{"Emulates Orvane USB printers (umockdev) and runs a command among them"};
    app.add_option("--scenario", options.scenarioFile, "JSON scenario of printers and faults");
    app.add_option("--printer", options.printers,
                   "add a well-behaved printer with this IEEE-1284 device ID (repeatable)");
    app.add_option("--transcript", options.transcriptFile,
                   "write what the printers received as JSON to this file");
    app.footer(kHelpFooter);
    try {
        app.parse(split, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kUsageError;
    }
    if (options.command.empty()) {
        return Refuse("no command given; use: orvane-printer-sim [OPTIONS] -- COMMAND [ARG]...");
    }

    std::vector<simulator::PrinterConfig> printers;
    if (!options.scenarioFile.empty()) {
        std::string text;
        if (!ReadFile(options.scenarioFile, text)) {
            return Refuse("cannot read scenario " + options.scenarioFile);
        }
        std::string error;
        if (!simulator::ParseScenario(text, printers, error)) {
            return Refuse("scenario " + options.scenarioFile + ": " + error);
        }
    }
    for (const std::string& deviceId : options.printers) {
        std::string error;
        if (!simulator::ValidateDeviceId(deviceId, error)) {
            return Refuse("--printer: " + error);
        }
        simulator::PrinterConfig config;
        config.deviceId = deviceId;
        printers.push_back(config);
    }
    if (printers.size() > simulator::kMaxPrinters) {
        return Refuse("usblp has " + std::to_string(simulator::kMaxPrinters) + " minors; " +
                      std::to_string(printers.size()) + " printers cannot be emulated");
    }
    for (simulator::PrinterConfig& config : printers) {
        DecideRestart(config, platform::GetModuleDirectory());
    }
    std::ofstream transcript;
    if (!options.transcriptFile.empty()) {
        transcript.open(options.transcriptFile, std::ios::binary | std::ios::trunc);
        if (!transcript) {
            return Refuse("cannot write transcript " + options.transcriptFile);
        }
    }

    simulator::UmockdevPrinterHost host;
    for (const simulator::PrinterConfig& config : printers) {
        if (host.AddPrinter(config).empty()) {
            std::cerr << "orvane-printer-sim: cannot emulate a printer: " << host.error() << "\n";
            return 1;
        }
    }
    const int status = RunChild(options.command);
    if (transcript.is_open()) {
        transcript << host.Transcript().dump(2) << "\n";
        transcript.close();
        if (!transcript) {
            std::cerr << "orvane-printer-sim: cannot write transcript " << options.transcriptFile
                      << "\n";
            return status != 0 ? status : 1;
        }
    }
    return status;
}
