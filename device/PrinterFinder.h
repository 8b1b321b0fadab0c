#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/IdentificationReport.h"
#include "device/IdentifiedPrinter.h"

// Finds the attached USB printers and identifies each through the description files Wend.xml
// and WendIDs.xml in the finder's directory. Used by one thread (the discovery worker); lives
// for one discovery run. Returns false, never throws; null arguments set the last error to 87.
class PrinterFinder {
public:
    PrinterFinder();
    ~PrinterFinder();
    PrinterFinder(const PrinterFinder&) = delete;
    PrinterFinder& operator=(const PrinterFinder&) = delete;

    // Keeps a copy of the directory; "/" and the file name are appended to it.
    bool SetDirectory(const wchar_t* directory);
    // Appends one owned IdentifiedPrinter* per identified printer, in udev's order, behind the
    // entries already there; the caller owns them. Printers that cannot be identified are left
    // out. False, list untouched, only when the devices cannot be listed at all.
    bool EnumeratePrinters(std::vector<IdentifiedPrinter*>& printers);
    // True: slot holds a new IdentifiedPrinter owned by the caller. False: slot is null. Why it
    // failed is not reported (device held or gone, no device ID, no MFG or MDL, unknown names,
    // missing or broken description files).
    bool IdentifyPrinter(const wchar_t* devicePath, IdentifiedPrinter*& slot);
    // The same, and says in report how far it got and why it failed. Explaining a failed lookup
    // reads the description files once more.
    bool IdentifyPrinter(const wchar_t* devicePath, IdentifiedPrinter*& slot,
                         IdentificationReport& report);
    // Opens the device for a moment and reads its device ID; the device is closed again
    // whatever the outcome.
    bool ReadDeviceId(const wchar_t* devicePath, std::string& text);

private:
    bool Identify(const wchar_t* devicePath, IdentifiedPrinter*& slot,
                  IdentificationReport* report);
    bool ReadDeviceId(const wchar_t* devicePath, std::string& text, IdentificationReport* report);
    bool LookUp(const std::string& deviceId, PrinterDescription& description,
                IdentificationReport* report) const;
    void ExplainLookUp(const std::string& vendorName, const std::string& productName,
                       IdentificationReport& report) const;

    std::unique_ptr<wchar_t[]> directory_;
};
