#include "updater/PrinterListing.h"

#include <map>

#include "updater/AttachedPrinter.h"

std::vector<ListedPrinter> ListPrinters(const std::vector<AttachedPrinter*>& printers) {
    std::vector<ListedPrinter> listed;
    std::map<std::int32_t, int> counters;
    for (AttachedPrinter* printer : printers) {
        ListedPrinter row;
        row.printer = printer;
        if (printer == nullptr || !printer->GetModelNameResourceId(row.modelId) ||
            !printer->GetFirmwareVersion(row.firmwareVersion) ||
            !printer->GetShortName(row.shortName)) {
            continue;
        }
        row.counter = ++counters[row.modelId];
        listed.push_back(std::move(row));
    }
    return listed;
}
