#include "tools/reflasher-cli/CliCommon.h"

#include <filesystem>
#include <system_error>

#include "platform/ModulePath.h"
#include "platform/PrinterTransport.h"

namespace {

// A --dir that cannot be used is a usage error, never a reason to read the program's own files.
std::string CheckFolder(const std::string& dir, bool needsFiles) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(dir, error);
    if (!std::filesystem::exists(status)) {
        return "no such folder: " + dir;
    }
    if (!std::filesystem::is_directory(status)) {
        return "not a folder: " + dir;
    }
    if (needsFiles) {
        for (const char* name : {"Wend.xml", "WendIDs.xml"}) {
            if (!std::filesystem::is_regular_file(std::filesystem::path(dir) / name, error)) {
                return dir + " holds no " + name;
            }
        }
    }
    return {};
}

}  // namespace

void AddCommonOptions(CLI::App* command, CliOptions& options, bool needsFiles) {
    command
        ->add_option("--dir", options.dir,
                     "Folder holding Wend.xml and WendIDs.xml (default: the program's folder)")
        ->check(CLI::Validator(
            [needsFiles](std::string& dir) { return CheckFolder(dir, needsFiles); }, "FOLDER"));
    command->add_flag("--json", options.json, "Print one JSON document instead of text");
}

void AddTransportOption(CLI::App* command) {
    command
        ->add_option_function<std::string>(
            "--transport",
            [](const std::string& name) {
                platform::PrinterTransport transport = platform::PrinterTransport::kAuto;
                platform::ParsePrinterTransport(name, transport);
                platform::SelectPrinterTransport(transport);
            },
            "How printers are reached: libusb (the interface claimed through usbfs), usblp (the "
            "kernel's /dev/usb/lpN nodes), or auto: libusb where the printer may be opened "
            "(default: $REFLASHER_TRANSPORT, else auto)")
        ->check(CLI::IsMember({"auto", "usblp", "libusb"}));
}

std::string Narrow(const std::wstring& wide) {
    std::string narrow;
    return platform::WideToNarrow(wide, narrow) ? narrow : std::string("?");
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
