#include "updater/FirmwareFileCheck.h"

#include "Halden/ForcedUnwind.h"
#include "updater/AttachedPrinter.h"

FirmwareFileCheck CheckFirmwareFile(AttachedPrinter& printer, const std::wstring& path,
                                    const std::wstring& fileName) {
    FirmwareFileCheck check;
    check.accepted = printer.AcceptsFirmwareFileName(fileName);
    check.crcChecked = printer.VerifiesFirmwareCrc();
    if (!check.accepted) {
        return check;
    }
    try {
        check.image = std::make_unique<FirmwareImage>();
        check.loaded =
            check.image->Load(path, check.crcChecked) && check.image->GetVersionText(check.version);
        if (!check.loaded) {
            check.image.reset();
            return check;
        }
        check.printerVersionRead = printer.GetFirmwareVersion(check.printerVersion);
        check.notNewer = check.image->IsNotNewerThan(
            check.printerVersionRead ? check.printerVersion.c_str() : nullptr);
        check.titled = check.image->GetTitle(check.title);
    } catch (...) {
        Halden::RethrowForcedUnwind();
        check.loaded = false;
        check.image.reset();
    }
    return check;
}
