#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Common/Headers/PrinterStates.h"
#include "platform/AsciiFolder.h"
#include "platform/ModulePath.h"
#include "tools/reflasher-cli/CliCommon.h"
#include "tools/reflasher-cli/DescriptionJson.h"

// descriptions, ids, lookup: inspect the description files. These commands are meant for the
// people who write the files, so a failed load prints the reason the loader hands back.

namespace {

struct LookupOptions {
    CliOptions common;
    std::string vendor;
    std::string product;
};

std::string Hex(std::uint32_t value) {
    std::ostringstream out;
    out << "0x" << std::uppercase << std::hex << std::setw(4) << std::setfill('0') << value;
    return out.str();
}

std::string TriState(std::int32_t value) {
    return value < 0 ? "not stated" : (value == 0 ? "no" : "yes");
}

void PrintSummary(const PrinterDescription& record) {
    std::cout << record.shortName << " (vendor " << Hex(record.vendorId) << ", product "
              << Hex(record.productId) << ", resource " << record.shortNameResourceId << ")\n"
              << "  product name: " << record.productName << "\n"
              << "  long name:    " << record.longName << "\n"
              << "  default head: " << record.defaultHead << "\n";
    for (const auto& [id, head] : record.heads) {
        std::cout << "  head " << id << ":";
        for (const FirmwareNameSpec& spec : head.firmwareNameSpecs) {
            std::cout << " " << spec.prefix << "*." << spec.extension;
        }
        std::cout << "\n";
    }
    std::cout << "  firmware: CRC check " << (record.firmwareCrcVerify == 1 ? "on" : "off")
              << ", strip version bytes " << (record.stripVersionBytes ? "yes" : "no")
              << ", requires reboot " << (record.requiresReboot ? "yes" : "no") << "\n"
              << "  drag and drop " << TriState(record.dragAndDrop) << ", media remaining "
              << TriState(record.mediaRemaining) << ", papers " << record.papers.size()
              << ", connections " << record.connections.size() << "\n";
}

// Prints the failure in the form the options ask for and returns the exit status.
int ReportLoadFailure(const CliOptions& options, const std::string& file,
                      const std::string& reason) {
    if (options.json) {
        std::cout << DumpJson({{"ok", false}, {"error", reason}}) << "\n";
    } else {
        std::cerr << file << " could not be loaded: " << reason << "\n";
    }
    return 1;
}

bool DescriptionFolder(const CliOptions& options, std::wstring& folder, std::string& reason) {
    folder = DescriptionDirectory(options);
    if (folder.empty()) {
        reason = "The description folder cannot be determined";
        return false;
    }
    return true;
}

int RunDescriptions(const CliOptions& options) {
    std::wstring folder;
    std::string reason;
    std::vector<PrinterDescription> records;
    if (!DescriptionFolder(options, folder, reason) ||
        !LoadPrinterDescriptions(platform::AsciiFolder(folder).Path() + L"Wend.xml", records,
                                 &reason)) {
        return ReportLoadFailure(options, "Wend.xml", reason);
    }
    if (options.json) {
        nlohmann::json printers = nlohmann::json::array();
        for (const PrinterDescription& record : records) {
            printers.push_back(DescriptionToJson(record));
        }
        std::cout << DumpJson({{"ok", true}, {"printers", printers}}) << "\n";
    } else {
        std::cout << records.size() << " printer description(s)\n";
        for (const PrinterDescription& record : records) {
            PrintSummary(record);
        }
    }
    return 0;
}

int RunIds(const CliOptions& options) {
    std::wstring folder;
    std::string reason;
    std::map<std::string, std::int32_t> vendors;
    std::map<std::string, std::int32_t> products;
    if (!DescriptionFolder(options, folder, reason) ||
        !LoadIdMappings(platform::AsciiFolder(folder).Path() + L"WendIDs.xml", vendors, products,
                        &reason)) {
        return ReportLoadFailure(options, "WendIDs.xml", reason);
    }
    if (options.json) {
        std::cout << DumpJson({{"ok", true}, {"vendors", vendors}, {"products", products}}) << "\n";
    } else {
        std::cout << "vendors:\n";
        for (const auto& [name, id] : vendors) {
            std::cout << "  " << name << " -> " << Hex(static_cast<std::uint32_t>(id)) << "\n";
        }
        std::cout << "products:\n";
        for (const auto& [name, id] : products) {
            std::cout << "  " << name << " -> " << Hex(static_cast<std::uint32_t>(id)) << "\n";
        }
    }
    return 0;
}

int RunLookup(const LookupOptions& options) {
    const platform::AsciiFolder folder(DescriptionDirectory(options.common));
    PrinterDescription record;
    const bool found =
        !folder.Path().empty() &&
        LookupPrinterDescription(folder.Path() + L"Wend.xml", folder.Path() + L"WendIDs.xml",
                                 options.vendor, options.product, record);
    if (options.common.json) {
        nlohmann::json result = {{"found", found}};
        if (found) {
            result["printer"] = DescriptionToJson(record);
        }
        std::cout << DumpJson(result) << "\n";
    } else if (found) {
        PrintSummary(record);
    } else {
        std::cerr << "No printer description for \"" << options.vendor << "\" / \""
                  << options.product << "\"\n";
    }
    return found ? 0 : 1;
}

}  // namespace

void RegisterDescriptionCommands(CLI::App& app, CliContext& context) {
    // The options live as long as the callbacks that read them.
    auto descriptionsOptions = std::make_shared<CliOptions>();
    CLI::App* descriptions =
        app.add_subcommand("descriptions", "Load Wend.xml and show every printer description");
    AddCommonOptions(descriptions, *descriptionsOptions);
    descriptions->callback([&context, descriptionsOptions] {
        context.exitCode = RunDescriptions(*descriptionsOptions);
    });

    auto idsOptions = std::make_shared<CliOptions>();
    CLI::App* ids = app.add_subcommand("ids", "Load WendIDs.xml and show its name mappings");
    AddCommonOptions(ids, *idsOptions);
    ids->callback([&context, idsOptions] { context.exitCode = RunIds(*idsOptions); });

    auto lookupOptions = std::make_shared<LookupOptions>();
    CLI::App* lookup = app.add_subcommand(
        "lookup", "Find the description of a manufacturer (MFG) and model (MDL) name");
    AddCommonOptions(lookup, lookupOptions->common);
    lookup->add_option("VENDOR", lookupOptions->vendor, "Manufacturer name")->required();
    lookup->add_option("PRODUCT", lookupOptions->product, "Model name")->required();
    lookup->callback([&context, lookupOptions] { context.exitCode = RunLookup(*lookupOptions); });
}
