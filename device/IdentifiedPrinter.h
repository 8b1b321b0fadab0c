#pragma once

#include "Common/Headers/PrinterDescription.h"

// One recognised printer: its model description and the device path it is reached through.
// Owned by the discovery result list, then by an AttachedPrinter; the record releases
// devicePath with itself. Not copyable as a whole: copy the description alone, which never
// touches devicePath.
struct IdentifiedPrinter {
    IdentifiedPrinter() = default;
    ~IdentifiedPrinter();
    IdentifiedPrinter(const IdentifiedPrinter&) = delete;
    IdentifiedPrinter& operator=(const IdentifiedPrinter&) = delete;

    // Replaces devicePath with a copy of path (allocated with new[]). False, leaving the old
    // path, for a null path (last error 87) or when the copy cannot be allocated.
    bool SetDevicePath(const wchar_t* path);

    PrinterDescription description;
    wchar_t* devicePath = nullptr;  // owned, new[]; null until set
};
