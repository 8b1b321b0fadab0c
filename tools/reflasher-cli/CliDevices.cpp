#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "device/DeviceIdRecord.h"
#include "device/PrinterFinder.h"
#include "platform/LastError.h"
#include "platform/ModulePath.h"
#include "platform/UsbPrinterDevices.h"
#include "tools/reflasher-cli/CliCommon.h"

// `devices`: a diagnostic for technicians. Lists every USB printer interface with what the
// updater sees of it, and for a printer that is not identified, the first reason found.
namespace {

using OptionalText = std::optional<std::string>;
using Json = nlohmann::ordered_json;  // keys in the order written

struct DeviceReport {
    std::string devicePath;
    std::string transport;
    std::string driver;  // bound to the interface: "usblp", "usbfs", "" none, "?" unknown
    OptionalText deviceId;
    bool held = false;
    OptionalText mfg;
    OptionalText mdl;
    OptionalText ver;
    OptionalText phd;
    bool identified = false;
    std::optional<std::uint32_t> vendorId;
    std::optional<std::uint32_t> productId;
    OptionalText shortName;
    std::string reason;  // why it is not identified; empty once identified
};

std::string ErrorText(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

// A printer node the user may not open: the two ways to be let in. The package's udev rule
// gives the logged-in user access to Orvane printers only; the node's group gives access to
// every printer on the machine.
std::string AccessAdvice(const std::string& node) {
    std::string group;
    struct stat status {};
    if (::stat(node.c_str(), &status) == 0) {
        const struct group* entry = ::getgrgid(status.st_gid);
        group = entry != nullptr ? "\"" + std::string(entry->gr_name) + "\""
                                 : "with id " + std::to_string(status.st_gid);
    }
    std::string advice =
        "the device cannot be opened: permission denied. Install the reflasher package, whose "
        "udev rule gives the logged-in user access to Orvane printers, then replug the printer "
        "or run `sudo udevadm trigger`";
    if (!group.empty()) {
        advice += "; or join the group " + group + " that owns " + node + " (then log in again)";
    }
    return advice;
}

// The values are shown as the parser extracts them, also when MFG or MDL is missing.
OptionalText Extract(const std::string& text, const char* key) {
    char* value = nullptr;
    if (!DeviceIdRecord::ExtractKeyValue(text.c_str(), key, &value) || value == nullptr) {
        return std::nullopt;
    }
    const std::string copy = value;
    std::free(value);
    return copy;
}

// MFG, MDL, VER and PHD as the parser extracts them, also where identification stopped.
void ShowNames(DeviceReport& report) {
    if (!report.deviceId) {
        return;
    }
    if (report.deviceId->empty()) {
        // Identification looks the empty names up.
        report.mfg = std::string();
        report.mdl = std::string();
        return;
    }
    report.mfg = Extract(*report.deviceId, "MFG:");
    report.mdl = Extract(*report.deviceId, "MDL:");
    report.ver = Extract(*report.deviceId, "VER:");
    report.phd = Extract(*report.deviceId, "PHD:");
}

DeviceReport Inspect(PrinterFinder& finder, const platform::UsbPrinterInterface& printer) {
    const std::wstring& path = printer.devicePath;
    DeviceReport report;
    report.devicePath = Narrow(path);
    report.transport = platform::PrinterTransportName(printer.transport);
    report.driver = printer.driver;
    IdentifiedPrinter* slot = nullptr;
    IdentificationReport identification;
    const std::unique_ptr<IdentifiedPrinter> identified(
        finder.IdentifyPrinter(path.c_str(), slot, identification) ? slot : nullptr);
    report.deviceId = identification.deviceId;
    report.held = identification.held;
    report.vendorId = identification.vendorId;
    report.productId = identification.productId;
    report.reason = identification.openError == EACCES
                        ? AccessAdvice(report.devicePath.substr(0, report.devicePath.find(':')))
                        : identification.reason;
    report.identified = identified != nullptr;
    if (identified) {
        report.shortName = identified->description.shortName;
    }
    ShowNames(report);
    return report;
}

Json ToJson(const OptionalText& text) {
    return text ? Json(*text) : Json(nullptr);
}

Json ToJson(const std::optional<std::uint32_t>& number) {
    return number ? Json(*number) : Json(nullptr);
}

// Lower-case hex of the ID bytes: lossless where the ID is not valid UTF-8.
OptionalText HexBytes(const OptionalText& text) {
    if (!text) {
        return std::nullopt;
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : *text) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}

bool IsPrintableAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

Json ToJson(const DeviceReport& report) {
    return {{"devicePath", report.devicePath},
            {"transport", report.transport},
            {"driver", report.driver.empty() ? Json(nullptr) : Json(report.driver)},
            {"deviceId", ToJson(report.deviceId)},
            {"deviceIdHex", ToJson(HexBytes(report.deviceId))},
            {"held", report.held},
            {"mfg", ToJson(report.mfg)},
            {"mdl", ToJson(report.mdl)},
            {"ver", ToJson(report.ver)},
            {"phd", ToJson(report.phd)},
            {"identified", report.identified},
            {"vendorId", ToJson(report.vendorId)},
            {"productId", ToJson(report.productId)},
            {"shortName", ToJson(report.shortName)},
            {"reason", report.identified ? Json(nullptr) : Json(report.reason)}};
}

std::string Shown(const OptionalText& text) {
    return text ? "\"" + *text + "\"" : "(none)";
}

std::string Hex(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", id);
    return text;
}

void PrintText(const DeviceReport& report) {
    std::cout << report.devicePath << '\n';
    std::cout << "  transport:  " << report.transport << " (kernel driver on the interface: "
              << (report.driver.empty() ? "none" : report.driver) << ")\n";
    std::cout << "  device ID:  "
              << (report.deviceId ? Shown(report.deviceId)
                  : report.held   ? "(device held by another program)"
                                  : "(could not be read)")
              << '\n';
    if (report.deviceId && !IsPrintableAscii(*report.deviceId)) {
        std::cout << "  ID bytes:   " << *HexBytes(report.deviceId) << '\n';
    }
    std::cout << "  MFG:        " << Shown(report.mfg) << '\n';
    std::cout << "  MDL:        " << Shown(report.mdl) << '\n';
    std::cout << "  VER:        " << Shown(report.ver) << '\n';
    std::cout << "  PHD:        " << Shown(report.phd) << '\n';
    if (report.identified) {
        std::cout << "  identified: " << *report.shortName << " (vendor id "
                  << Hex(*report.vendorId) << ", product id " << Hex(*report.productId) << ")\n";
    } else {
        std::cout << "  not identified: " << report.reason << '\n';
    }
}

int RunDevices(const CliOptions& options) {
    std::wstring directory = DescriptionDirectory(options);
    if (directory.empty()) {
        std::cerr << "The description folder cannot be determined.\n";
        return 1;
    }
    // Paths are formed as directory + "/" + file name, so the trailing '/' is dropped here.
    if (directory.size() > 1 && directory.back() == L'/') {
        directory.pop_back();
    }
    std::vector<platform::UsbPrinterInterface> printers;
    if (!platform::ListUsbPrinterInterfaces(printers)) {
        std::cerr << "USB printers cannot be listed: " << ErrorText(platform::GetLastError())
                  << '\n';
        return 1;
    }
    PrinterFinder finder;
    if (!finder.SetDirectory(directory.c_str())) {
        std::cerr << "Out of memory.\n";
        return 1;
    }
    std::vector<DeviceReport> reports;
    for (const platform::UsbPrinterInterface& printer : printers) {
        reports.push_back(Inspect(finder, printer));
    }
    if (options.json) {
        Json devices = Json::array();
        for (const DeviceReport& report : reports) {
            devices.push_back(ToJson(report));
        }
        // Device IDs are bytes, not necessarily UTF-8.
        std::cout << Json{{"devices", devices}}.dump(2, ' ', false, Json::error_handler_t::replace)
                  << '\n';
        return 0;
    }
    if (reports.empty()) {
        std::cout << "No USB printer interface found.\n";
    }
    for (const DeviceReport& report : reports) {
        PrintText(report);
    }
    return 0;
}

}  // namespace

void RegisterDeviceCommands(CLI::App& app, CliContext& context) {
    auto options = std::make_shared<CliOptions>();
    CLI::App* command = app.add_subcommand(
        "devices",
        "List every USB printer interface with its device ID and why it is or is not identified");
    AddCommonOptions(command, *options);
    AddTransportOption(command);
    command->callback([options, &context] { context.exitCode = RunDevices(*options); });
}
