#pragma once

#include <string>
#include <vector>

#include "Common/Headers/PrinterStates.h"
#include "tests/Halden/XmlTestFiles.h"

// Loads a Wend.xml document written to a temporary file.
struct LoadedDescriptions {
    bool ok = false;
    std::vector<PrinterDescription> records;
    std::string error = "untouched";
};

inline LoadedDescriptions LoadDescriptionsFrom(const std::string& xml) {
    XmlTestFiles files;
    LoadedDescriptions loaded;
    loaded.ok =
        LoadPrinterDescriptions(files.WriteWide("Wend.xml", xml), loaded.records, &loaded.error);
    return loaded;
}

// A document with one printer (vid 1, pid 2 unless given) whose content is body; papers go
// before the printers.
inline std::string PrinterDocument(const std::string& body, const std::string& papers = "",
                                   const std::string& ids = "vid='1' pid='2'") {
    return "<orvane_printing>" + papers + "<printers><printer " + ids + ">" + body +
           "</printer></printers></orvane_printing>";
}

// Expects exactly one printer to load and returns it.
inline PrinterDescription LoadOnePrinter(const std::string& body, const std::string& papers = "") {
    const LoadedDescriptions loaded = LoadDescriptionsFrom(PrinterDocument(body, papers));
    if (!loaded.ok || loaded.records.size() != 1) {
        ADD_FAILURE() << "load failed: " << loaded.error << " for " << body;
        return PrinterDescription();
    }
    return loaded.records.front();
}

struct FailureCase {
    std::string body;
    std::string message;
};

// Each body (inside one printer, after papers) must fail the load with exactly its message.
inline void ExpectFailures(const std::vector<FailureCase>& cases, const std::string& papers = "") {
    for (const FailureCase& c : cases) {
        const LoadedDescriptions loaded = LoadDescriptionsFrom(PrinterDocument(c.body, papers));
        EXPECT_FALSE(loaded.ok) << c.body;
        EXPECT_EQ(loaded.error, c.message) << c.body;
    }
}
