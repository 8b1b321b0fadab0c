#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Common/Headers/PrinterDescription.h"
#include "Common/Headers/SelkaNoTextSD.h"

// The states of Wend.xml's paper definitions and of a printer's paper, media and donor
// elements that the printer state (PrinterStatesDescriptions.cpp) hands children to. Their own
// children's states live in PrinterStatesPapers.cpp.

// <papers>: one <paper> per id, added to the document's set at its end tag.
class SelkaPaperSetState : public SelkaNoTextSD {
public:
    explicit SelkaPaperSetState(PaperConfigurationSet* papers) : papers_(papers) {}
    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override;

private:
    PaperConfigurationSet* papers_;
};

// <paperRefs>: copies the referenced papers of the document into the printer's set.
class SelkaPrinterPapersState : public SelkaNoTextSD {
public:
    SelkaPrinterPapersState(const PaperConfigurationSet* documentPapers,
                            PrinterDescription* description)
        : documentPapers_(documentPapers), description_(description) {}
    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override;

private:
    const PaperConfigurationSet* documentPapers_;
    PrinterDescription* description_;
};

// <mediaCapacities>
class SelkaMediaSizeSetState : public SelkaNoTextSD {
public:
    explicit SelkaMediaSizeSetState(PrinterDescription* description) : description_(description) {}
    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override;
    // A later mediaCapacities element of the same printer replaces the earlier one's table.
    void finish() override;

private:
    std::map<std::string, std::int32_t> table_;
    PrinterDescription* description_;
};

// <donorMediaMappings>
class SelkaDonorMediaMappingSetState : public SelkaNoTextSD {
public:
    explicit SelkaDonorMediaMappingSetState(PrinterDescription* description)
        : description_(description) {}
    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override;

private:
    PrinterDescription* description_;
};
