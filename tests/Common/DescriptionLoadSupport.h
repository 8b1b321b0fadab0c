#pragma once

#include <sstream>
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

// "vid:pid " of every record that arrived, then "!" and the error if the load failed.
inline std::string Outcome(const std::string& xml) {
    const LoadedDescriptions loaded = LoadDescriptionsFrom(xml);
    std::string out;
    for (const PrinterDescription& d : loaded.records) {
        out += std::to_string(d.vendorId) + ":" + std::to_string(d.productId) + " ";
    }
    return out + (loaded.ok == (loaded.error == "untouched") ? "" : "?") +
           (loaded.ok ? "" : "!" + loaded.error);
}

// The scalar fields of a record and the sizes of its tables, on one line.
inline std::string Summary(const PrinterDescription& d) {
    std::ostringstream out;
    out << d.vendorId << ":" << d.productId << " " << d.productName << "/"
        << d.productNameResourceId << " " << d.longName << "/" << d.longNameResourceId << " "
        << d.shortName << "/" << d.shortNameResourceId << " m" << d.mediaRemaining << " d"
        << d.dragAndDrop << " c" << d.firmwareCrcVerify << " r" << d.rotate << " s"
        << d.stripVersionBytes << " b" << d.requiresReboot << " [" << d.icon << "|" << d.defaultLut
        << "|" << d.defaultHead << "] " << d.lutNames.size() << d.heads.size() << d.papers.size()
        << d.donorMediaMappings.size() << d.mediaCapacities.size()
        << d.paperIdsByReportedSize.size() << d.sendToPrinterAs.size() << d.connections.size()
        << d.customProperties.size();
    return out.str();
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
    EXPECT_TRUE(loaded.ok && loaded.records.size() == 1) << loaded.error << " for " << body;
    return loaded.records.empty() ? PrinterDescription() : loaded.records.front();
}

// Each pair's body (inside one printer, after papers) must fail the load with its message.
inline void ExpectFailures(const std::vector<std::pair<std::string, std::string>>& cases,
                           const std::string& papers = "") {
    for (const auto& [body, message] : cases) {
        EXPECT_EQ(Outcome(PrinterDocument(body, papers)), "!" + message) << body;
    }
}
