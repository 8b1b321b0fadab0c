#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/ModulePath.h"
#include "tools/reflasher-cli/CliCommon.h"
#include "tools/reflasher-cli/CliPrinters.h"
#include "tools/reflasher-cli/CliTransfers.h"
#include "updater/AttachedPrinter.h"
#include "updater/DiscoveryWorker.h"
#include "updater/FirmwareFileCheck.h"

// list, check, update: the updater window's work without a window, on the same workers.

namespace {

enum ExitStatus {
    kExitOk = 0,
    kExitUpdateFailed = 1,
    kExitUsage = 2,
    kExitRejected = 3,
    kExitNoPrinter = 4,
    kExitNotNewer = 5,
};

const char* const kExitStatusHelp =
    "Exit status: 0 success, 1 the update failed, 2 usage or refused confirmation, 3 file "
    "rejected, 4 no such printer, 5 not newer and not allowed. With --all, the worst outcome "
    "among the printers: 1, then 5, then 3.";

// Ranks the outcomes of one printer's update, so that a run over several ends with the worst.
int Severity(int status) {
    switch (status) {
        case kExitUpdateFailed:
            return 3;
        case kExitNotNewer:
            return 2;
        case kExitRejected:
            return 1;
        default:
            return 0;
    }
}

int Worst(int status, int other) {
    return Severity(other) > Severity(status) ? other : status;
}

struct UpdateOptions {
    CliOptions common;
    std::string printer;
    std::string file;
    bool all = false;
    bool yes = false;
    bool allowOlder = false;
    std::uint32_t rebootWaitSeconds = 60;
};

Json RowJson(const Row& row) {
    return Json{{"index", row.index},
                {"devicePath", row.devicePath},
                {"shortName", row.shortName},
                {"modelNameResourceId", row.modelId},
                {"counter", row.counter},
                {"firmwareVersion", row.firmwareVersion},
                {"head", row.hasHead ? Json(row.head) : Json(nullptr)},
                {"extensions", row.extensions},
                {"requiresReboot", row.printer->RequiresReboot()},
                {"stripVersionBytes", row.printer->StripsVersionBytes()},
                {"verifiesCrc", row.printer->VerifiesFirmwareCrc()}};
}

std::string Patterns(const std::vector<std::string>& extensions) {
    std::string text;
    for (const std::string& extension : extensions) {
        text += (text.empty() ? "*." : ";*.") + extension;
    }
    return text.empty() ? "(none)" : text;
}

int RunList(const CliOptions& options) {
    DiscoveryWorker worker;
    const std::vector<Row> rows = Discover(worker, options);
    if (options.json) {
        Json printers = Json::array();
        for (const Row& row : rows) {
            printers.push_back(RowJson(row));
        }
        std::cout << Dump(Json{{"printers", printers}}) << "\n";
        return kExitOk;
    }
    if (rows.empty()) {
        std::cout << "No printers found.\n";
    }
    for (const Row& row : rows) {
        std::cout << row.index << ". " << row.Model() << "  firmware " << row.firmwareVersion
                  << "  head " << (row.hasHead ? row.head : "(unreadable)") << "  files "
                  << Patterns(row.extensions) << "  " << row.devicePath << "\n";
    }
    return kExitOk;
}

// A number from list, or a device path.
const Row* Select(const std::vector<Row>& rows, const std::string& selector) {
    for (const Row& row : rows) {
        if (row.devicePath == selector || std::to_string(row.index) == selector) {
            return &row;
        }
    }
    return nullptr;
}

// The window's checks of a chosen file, with what the command line shows beyond them.
struct Check : FirmwareFileCheck {
    bool crcFailed = false;

    // Why the file cannot be used; empty when it can.
    std::string Problem() const {
        if (!accepted) {
            return "the print head does not accept the file name";
        }
        if (crcFailed) {
            return "the file fails the CRC check";
        }
        if (!loaded) {
            return "the file cannot be read as firmware";
        }
        return titled ? "" : "the file name gives no title";
    }
};

Check CheckFile(AttachedPrinter& printer, const std::string& file) {
    std::wstring path;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    platform::NarrowToWide(error ? file : absolute.string(), path);
    std::wstring name;
    platform::NarrowToWide(std::filesystem::path(file).filename().string(), name);
    Check check;
    static_cast<FirmwareFileCheck&>(check) = CheckFirmwareFile(printer, path, name);
    if (check.accepted && !check.loaded) {
        check.crcFailed = check.crcChecked && FirmwareImage().Load(path, false);
    }
    if (!check.printerVersionRead) {
        // Shown beside any outcome, not only where the comparison needs it.
        check.printerVersionRead = printer.GetFirmwareVersion(check.printerVersion);
    }
    return check;
}

Json CheckJson(const Check& check) {
    auto textOrNull = [](bool present, const std::string& text) {
        return present ? Json(text) : Json(nullptr);
    };
    return Json{{"accepted", check.accepted},
                {"loaded", check.loaded},
                {"crcChecked", check.crcChecked},
                {"version", textOrNull(check.loaded, Narrow(check.version))},
                {"title", textOrNull(check.titled, Narrow(check.title))},
                {"printerVersion", textOrNull(check.printerVersionRead, check.printerVersion)},
                {"notNewer", check.notNewer}};
}

void PrintCheck(const Row& row, const Check& check, const std::string& file) {
    auto yesNo = [](bool value) { return value ? "yes" : "no"; };
    std::cout << "Printer " << row.index << ": " << row.Model() << " on " << row.devicePath
              << ", firmware " << (check.printerVersionRead ? check.printerVersion : "(unreadable)")
              << "\n"
              << "File " << file << "\n"
              << "  name accepted by the print head: " << yesNo(check.accepted) << "\n";
    if (check.accepted) {
        std::cout << "  loaded" << (check.crcChecked ? " with CRC check" : "") << ": "
                  << yesNo(check.loaded) << "\n";
    }
    if (check.loaded) {
        std::cout << "  version " << Narrow(check.version) << ", title "
                  << (check.titled ? Narrow(check.title) : "(none)") << "\n"
                  << "  not newer than the printer's firmware: " << yesNo(check.notNewer) << "\n";
    }
    std::cout << (check.Usable() ? "The file can be used.\n" : "The file cannot be used.\n");
}

int NoSuchPrinter(const CliOptions& options, const std::string& selector) {
    if (options.json) {
        std::cout << Dump(Json{{"error", "no such printer"}, {"printer", selector}}) << "\n";
    } else {
        std::cerr << "reflasher-cli: no listed printer " << selector
                  << " (see reflasher-cli list)\n";
    }
    return kExitNoPrinter;
}

int RunCheck(const UpdateOptions& options) {
    DiscoveryWorker worker;
    const std::vector<Row> rows = Discover(worker, options.common);
    const Row* row = Select(rows, options.printer);
    if (row == nullptr) {
        return NoSuchPrinter(options.common, options.printer);
    }
    const Check check = CheckFile(*row->printer, options.file);
    if (options.common.json) {
        std::cout << Dump(CheckJson(check)) << "\n";
    } else {
        PrintCheck(*row, check, options.file);
    }
    return check.Usable() ? kExitOk : kExitRejected;
}

bool Ask(const std::string& question) {
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes";
}

// What rediscovery found of one updated printer: found by the USB port it is plugged into,
// since a printer that restarts may come back on another node.
struct Comeback {
    const Transfer* transfer = nullptr;
    std::string port;
    bool sawGone = false;
    bool done = false;
    std::string devicePath;
    std::string firmwareVersion;
};

const Row* FindAgain(const std::vector<Row>& rows, const Comeback& printer) {
    for (const Row& row : rows) {
        if (printer.port.empty() ? row.devicePath == printer.transfer->row->devicePath
                                 : UsbPort(row.devicePath) == printer.port) {
            return &row;
        }
    }
    return nullptr;
}

void ReportComeback(const Comeback& printer, bool json, bool several, std::uint32_t waitSeconds) {
    const Transfer& t = *printer.transfer;
    const bool found = !printer.devicePath.empty();
    if (json) {
        Json event{{"event", "rediscovered"},
                   {"firmwareVersion", found ? Json(printer.firmwareVersion) : Json(nullptr)},
                   {"found", found},
                   {"foundAt", found ? Json(printer.devicePath) : Json(nullptr)}};
        if (several) {
            event["devicePath"] = t.row->devicePath;
        }
        std::cout << Dump(event) << std::endl;
        return;
    }
    const std::string who = several ? t.row->devicePath + ": " : "";
    if (!found) {
        std::cout << who
                  << (t.rebootRequired ? "the printer did not come back within " +
                                             std::to_string(waitSeconds) + " s of its restart\n"
                                       : "the printer was not found again\n");
        return;
    }
    std::cout << who << "the printer now reports firmware " << printer.firmwareVersion
              << (printer.devicePath != t.row->devicePath ? " (now " + printer.devicePath + ")"
                                                          : "")
              << "\n";
}

// Runs discovery again on the worker that found the printers, which releases them first: their
// ports are exclusive. The rows of the first run keep only their texts valid. A printer that
// restarts is waited for until it has left the bus and come back, or its version changed, for at
// most waitSeconds; one that does not restart is looked for once.
void ReportNewVersions(DiscoveryWorker& worker, std::vector<Comeback>& printers,
                       const CliOptions& options, bool several, std::uint32_t waitSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    for (;;) {
        const std::vector<Row> rows = Discover(worker, options);
        bool waiting = false;
        for (Comeback& printer : printers) {
            if (printer.done) {
                continue;
            }
            const Row* row = FindAgain(rows, printer);
            const bool restarting = printer.transfer->rebootRequired;
            const bool back =
                row != nullptr && (!restarting || printer.sawGone ||
                                   row->firmwareVersion != printer.transfer->row->firmwareVersion);
            printer.sawGone = printer.sawGone || row == nullptr;
            if (row != nullptr) {
                printer.devicePath = row->devicePath;
                printer.firmwareVersion = row->firmwareVersion;
            } else {
                printer.devicePath.clear();
            }
            printer.done = back || !restarting;
            waiting = waiting || !printer.done;
        }
        if (!waiting || std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        platform::Sleep(500);
    }
    for (const Comeback& printer : printers) {
        ReportComeback(printer, options.json, several, waitSeconds);
    }
}

// One printer that the file is not sent to.
void ReportRefusal(const UpdateOptions& options, const Row& row, const std::string& reason) {
    if (options.common.json) {
        std::cout << Dump(Json{
                         {"event", "refused"}, {"devicePath", row.devicePath}, {"reason", reason}})
                  << std::endl;
    } else {
        std::cerr << "reflasher-cli: not sent to " << row.Model() << " on " << row.devicePath
                  << ": " << reason << "\n";
    }
}

int Refuse(const UpdateOptions& options, int status, const std::string& reason) {
    if (options.common.json) {
        std::cout << Dump(Json{{"event", "refused"}, {"reason", reason}}) << std::endl;
    } else {
        std::cerr << "reflasher-cli: " << reason << "\n";
    }
    return status;
}

int RunUpdate(const UpdateOptions& options) {
    if (options.all == !options.printer.empty()) {
        return Refuse(options, kExitUsage, "give either --printer or --all");
    }
    const bool terminal = isatty(STDIN_FILENO) != 0;
    DiscoveryWorker worker;
    const std::vector<Row> rows = Discover(worker, options.common);
    std::vector<const Row*> chosen;
    if (options.all) {
        for (const Row& row : rows) {
            std::wstring name;
            platform::NarrowToWide(std::filesystem::path(options.file).filename().string(), name);
            if (row.printer->AcceptsFirmwareFileName(name)) {
                chosen.push_back(&row);
            }
        }
        if (chosen.empty()) {
            return Refuse(options, kExitRejected, "no listed printer accepts " + options.file);
        }
    } else {
        const Row* row = Select(rows, options.printer);
        if (row == nullptr) {
            return NoSuchPrinter(options.common, options.printer);
        }
        chosen.push_back(row);
    }

    // Each printer checks the file by its own rules; one that refuses it is reported and left
    // out, and the others go on.
    int status = kExitOk;
    std::vector<Transfer> transfers;
    for (const Row* row : chosen) {
        Check check = CheckFile(*row->printer, options.file);
        std::string reason = check.Problem();
        int refusal = kExitRejected;
        if (reason.empty() && check.notNewer && !options.allowOlder) {
            const std::string version = Narrow(check.version);
            const std::string question = options.file + " (" + version +
                                         ") is not newer than the firmware of " + row->Model() +
                                         " on " + row->devicePath + " (" + check.printerVersion +
                                         "). Use it anyway?";
            if (!terminal || !Ask(question)) {
                reason = "the file (" + version + ") is not newer than the printer's firmware (" +
                         check.printerVersion + "); use --allow-older";
                refusal = kExitNotNewer;
            }
        }
        if (!reason.empty()) {
            ReportRefusal(options, *row, reason);
            status = Worst(status, refusal);
            continue;
        }
        Transfer transfer;
        transfer.row = row;
        transfer.image = std::move(check.image);
        transfers.push_back(std::move(transfer));
    }
    if (transfers.empty()) {
        return status;
    }

    if (!options.yes) {
        std::string question = "Update the firmware of";
        for (const Transfer& t : transfers) {
            question += " " + t.row->Model() + " (" + t.row->devicePath + ")";
        }
        question += "? Do not disconnect or switch off the printer during the update.";
        if (!terminal) {
            return Refuse(options, kExitUsage, "no terminal to confirm the update on (use --yes)");
        }
        if (!Ask(question)) {
            return Refuse(options, kExitUsage, "update not confirmed");
        }
    }

    std::vector<std::string> ports;
    for (const Transfer& t : transfers) {
        ports.push_back(UsbPort(t.row->devicePath));
    }
    // With --all every message names its printer, however many are left to update.
    const bool several = options.all;
    RunTransfers(transfers, options.common.json, several);
    std::vector<Comeback> comebacks;
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        if (!transfers[i].ok) {
            status = Worst(status, kExitUpdateFailed);
        } else {
            Comeback comeback;
            comeback.transfer = &transfers[i];
            comeback.port = ports[i];
            comebacks.push_back(comeback);
        }
    }
    if (!comebacks.empty()) {
        ReportNewVersions(worker, comebacks, options.common, several, options.rebootWaitSeconds);
    }
    return status;
}

}  // namespace

void RegisterUpdateCommands(CLI::App& app, CliContext& context) {
    // The options live as long as the callbacks that read them.
    auto listOptions = std::make_shared<CliOptions>();
    CLI::App* list = app.add_subcommand(
        "list", "Find the attached printers as the updater window does and list them");
    AddCommonOptions(list, *listOptions, true);
    AddTransportOption(list);
    list->footer(kExitStatusHelp);
    list->callback([&context, listOptions] { context.exitCode = RunList(*listOptions); });

    auto checkOptions = std::make_shared<UpdateOptions>();
    CLI::App* check = app.add_subcommand(
        "check", "Check a firmware file for a printer as the window does when a file is chosen");
    AddCommonOptions(check, checkOptions->common, true);
    AddTransportOption(check);
    check->add_option("--printer", checkOptions->printer, "Number from list, or device path")
        ->required();
    check->add_option("file", checkOptions->file, "Firmware file")->required();
    check->footer(kExitStatusHelp);
    check->callback([&context, checkOptions] { context.exitCode = RunCheck(*checkOptions); });

    auto updateOptions = std::make_shared<UpdateOptions>();
    CLI::App* update =
        app.add_subcommand("update", "Check a firmware file, then send it to the printer");
    AddCommonOptions(update, updateOptions->common, true);
    AddTransportOption(update);
    update->add_option("--printer", updateOptions->printer, "Number from list, or device path");
    update->add_flag("--all", updateOptions->all,
                     "Update every listed printer whose print head accepts the file, at once");
    update->add_flag("--yes", updateOptions->yes, "Answer the confirmation with yes");
    update->add_flag("--allow-older", updateOptions->allowOlder,
                     "Accept a file that is not newer than the printer's firmware");
    update->add_option("--reboot-wait", updateOptions->rebootWaitSeconds,
                       "Seconds to wait for a restarting printer to come back (default 60)");
    update->add_option("file", updateOptions->file, "Firmware file")->required();
    update->footer(kExitStatusHelp);
    update->callback([&context, updateOptions] { context.exitCode = RunUpdate(*updateOptions); });
}
