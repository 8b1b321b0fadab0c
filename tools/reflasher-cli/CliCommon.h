#pragma once

#include <CLI/CLI.hpp>
#include <string>

// Options every command takes, and the exit status that a command's callback leaves behind.
struct CliOptions {
    std::string dir;  // folder of Wend.xml and WendIDs.xml; empty: the program's own folder
    bool json = false;
};

struct CliContext {
    int exitCode = 0;
};

// Adds --dir and --json to a subcommand. A --dir that is not a folder, or with needsFiles one
// that lacks Wend.xml or WendIDs.xml, ends the run as a usage error.
void AddCommonOptions(CLI::App* command, CliOptions& options, bool needsFiles = false);

// Adds --transport auto|usblp|libusb to a command that reaches printers; its default is the
// environment's REFLASHER_TRANSPORT (auto when unset), selected by main before parsing.
void AddTransportOption(CLI::App* command);

// The command line's one wide-to-narrow conversion: "?" for text that has no narrow form.
std::string Narrow(const std::wstring& wide);

// The description folder as a wide path with a trailing '/'.
std::wstring DescriptionDirectory(const CliOptions& options);

// Each command group registers its subcommands; their callbacks set context.exitCode.
void RegisterDescriptionCommands(CLI::App& app, CliContext& context);
void RegisterDeviceCommands(CLI::App& app, CliContext& context);
void RegisterUpdateCommands(CLI::App& app, CliContext& context);
