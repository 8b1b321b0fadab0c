#pragma once

#include <memory>
#include <string>

#include "updater/FirmwareImage.h"

class AttachedPrinter;

// The checks made when a firmware file is chosen for a printer, in their order: the print head
// accepts the file name; the file loads, with its CRC checked where the printer asks for that,
// and gives a version text; then the printer's version is read for the not-newer comparison, and
// the file must give a title. A later check runs only when the earlier ones passed.
struct FirmwareFileCheck {
    bool accepted = false;
    bool crcChecked = false;
    bool loaded = false;
    bool printerVersionRead = false;
    bool notNewer = false;
    bool titled = false;
    std::wstring version;
    std::wstring title;
    std::string printerVersion;
    // The loaded file, for the update; null unless loaded.
    std::unique_ptr<FirmwareImage> image;

    // A file that is not newer is still usable; whether to send it is the user's choice.
    bool Usable() const { return accepted && loaded && titled; }
};

// path: the file as it is opened; fileName: its last component, which the print head judges.
// Never throws.
FirmwareFileCheck CheckFirmwareFile(AttachedPrinter& printer, const std::wstring& path,
                                    const std::wstring& fileName);
