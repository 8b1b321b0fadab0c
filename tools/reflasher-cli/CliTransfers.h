#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/reflasher-cli/CliPrinters.h"
#include "updater/FirmwareImage.h"
#include "updater/UpdateWorker.h"

class TaggedTarget;

// One printer's transfer and how it is shown.
struct Transfer {
    Transfer();
    ~Transfer();
    Transfer(Transfer&&) noexcept;
    Transfer& operator=(Transfer&&) noexcept;

    const Row* row = nullptr;
    std::unique_ptr<FirmwareImage> image;
    std::unique_ptr<TaggedTarget> target;
    std::unique_ptr<UpdateWorker> worker;
    std::uint32_t total = 0;
    int shownTenth = -1;
    bool finished = false;
    bool ok = false;
    bool rebootRequired = false;
};

// Runs every transfer at once on the calling thread's behalf and shows their messages as they
// arrive, as JSON lines or text (a bar on a terminal); several: each message names its printer.
// Returns when every transfer has finished.
void RunTransfers(std::vector<Transfer>& transfers, bool json, bool several);
