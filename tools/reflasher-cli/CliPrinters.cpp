#include "tools/reflasher-cli/CliPrinters.h"

#include <chrono>

#include "platform/MessageQueue.h"
#include "platform/ModulePath.h"
#include "platform/UsbPrinterDevices.h"
#include "updater/AttachedPrinter.h"
#include "updater/DiscoveryWorker.h"
#include "updater/PrinterListing.h"
#include "updater/UpdaterMessages.h"

std::string Dump(const Json& document) {
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<Row> Discover(DiscoveryWorker& worker, const CliOptions& options) {
    platform::MessageQueue queue;
    worker.SetWindow(&queue);
    worker.SetDirectory(DescriptionDirectory(options));
    worker.Start();
    // A run that an error ends early posts nothing; its thread ending is the sign then.
    platform::Message message;
    for (;;) {
        const bool ended = !worker.IsStarted();
        if (!queue.Take(message, std::chrono::milliseconds(ended ? 0 : 100))) {
            if (ended) {
                break;
            }
        } else if (message.message == WM_PRINTERS_FOUND) {
            break;
        }
    }
    worker.Stop(1000);

    std::vector<Row> rows;
    for (const ListedPrinter& listed : ListPrinters(worker.GetPrinters())) {
        Row row;
        row.index = static_cast<int>(rows.size()) + 1;
        row.printer = listed.printer;
        row.modelId = listed.modelId;
        row.shortName = listed.shortName;
        row.firmwareVersion = listed.firmwareVersion;
        row.counter = listed.counter;
        row.devicePath =
            row.printer->GetDevicePath() ? Narrow(row.printer->GetDevicePath()) : std::string();
        row.hasHead = row.printer->GetHeadName(row.head);
        row.printer->GetFirmwareExtensions(row.extensions);
        rows.push_back(row);
    }
    return rows;
}

std::string UsbPort(const std::string& devicePath) {
    std::wstring path;
    return platform::NarrowToWide(devicePath, path) ? platform::UsbPortOf(path) : std::string();
}
