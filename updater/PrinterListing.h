#pragma once

#include <cstdint>
#include <string>
#include <vector>

class AttachedPrinter;

// One printer as the updater lists it. The printer belongs to the discovery worker that found it
// and is valid until that worker's next run.
struct ListedPrinter {
    AttachedPrinter* printer = nullptr;
    std::int32_t modelId = 0;
    std::string shortName;
    std::string firmwareVersion;
    // Numbers the printers of one model resource id from 1, in list order.
    int counter = 0;
};

// The printers the window and the command line list, in the discovery's order: only those whose
// model resource id, firmware version and short name can all be read. Never throws but for
// memory.
std::vector<ListedPrinter> ListPrinters(const std::vector<AttachedPrinter*>& printers);
