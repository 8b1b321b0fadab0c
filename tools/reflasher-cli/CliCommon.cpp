#include "tools/reflasher-cli/CliCommon.h"

#include "platform/ModulePath.h"

void AddCommonOptions(CLI::App* command, CliOptions& options) {
    command->add_option("--dir", options.dir,
                        "Folder holding Wend.xml and WendIDs.xml (default: the program's folder)");
    command->add_flag("--json", options.json, "Print one JSON document instead of text");
}

std::wstring DescriptionDirectory(const CliOptions& options) {
    if (options.dir.empty()) {
        return platform::GetModuleDirectory();
    }
    std::wstring wide;
    if (!platform::NarrowToWide(options.dir, wide)) {
        return {};
    }
    if (wide.back() != L'/') {
        wide += L'/';
    }
    return wide;
}
