#include "Common/Headers/PrinterStatesPapers.h"

#include <locale.h>
#include <clocale>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "Common/Headers/PrinterStatesSupport.h"
#include "Halden/xerces-xmlparser/XMLFloatState.h"
#include "Halden/xerces-xmlparser/XMLIntegerSetState.h"
#include "Halden/xerces-xmlparser/XMLIntegerState.h"

// The states of Wend.xml's papers, paper references, media capacities and donor/media
// mappings.

using namespace PrinterStatesSupport;

namespace {

std::string NotIntegerText(const std::string& name) {
    return "Unexpected \"" + name + "\" attribute value (should be integer)!";
}

// The "%f" conversion, always with a dot as decimal separator: the programs run under the
// user's locale, but the files are written the same way everywhere.
bool ParseFloatText(const std::string& text, float& value) {
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    const char* begin = text.c_str();
    char* end = nullptr;
    const float converted = strtof_l(begin, &end, cLocale);
    if (end == begin) {
        return false;
    }
    value = converted;
    return true;
}

class SelkaPrinterAttributeState : public Halden::XMLFloatState {
public:
    SelkaPrinterAttributeState(PaperConfiguration* paper, PaperAttributeKey key)
        : paper_(paper), key_(key) {}

    void finish() override {
        float value = 0.0f;
        if (!ParseFloatText(text(), value)) {
            throw Halden::ParserException("An exception occurred", kHeaderFile, __LINE__, -1);
        }
        paper_->attributes[key_] = value;
        delete this;
    }

private:
    PaperConfiguration* paper_;
    PaperAttributeKey key_;
};

class SelkaSizeState : public SelkaNoTextSD {
public:
    SelkaSizeState(PaperConfiguration* paper, PaperAttributeKey widthKey,
                   PaperAttributeKey heightKey)
        : paper_(paper), widthKey_(widthKey), heightKey_(heightKey) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (Is(name, "width")) {
            return new SelkaPrinterAttributeState(paper_, widthKey_);
        }
        if (Is(name, "height")) {
            return new SelkaPrinterAttributeState(paper_, heightKey_);
        }
        return nullptr;
    }

private:
    PaperConfiguration* paper_;
    PaperAttributeKey widthKey_;
    PaperAttributeKey heightKey_;
};

// The units a <size> may give, with the keys of its width and height.
struct SizeUnits {
    std::string_view units;
    PaperAttributeKey width;
    PaperAttributeKey height;
};
constexpr SizeUnits kSizeUnits[] = {
    {"inches", PaperAttributeKey::kWidthInches, PaperAttributeKey::kHeightInches},
    {"pixels", PaperAttributeKey::kWidthPixels, PaperAttributeKey::kHeightPixels},
    {"mm_tenths", PaperAttributeKey::kWidthMmTenths, PaperAttributeKey::kHeightMmTenths},
};

class SelkaSizeSetState : public SelkaNoTextSD {
public:
    explicit SelkaSizeSetState(PaperConfiguration* paper) : paper_(paper) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (!Is(name, "size")) {
            return nullptr;
        }
        const std::string* units = FindAttribute(attributes, "units");
        if (units == nullptr) {
            Raise("An exception occurred", __LINE__);
        }
        for (const SizeUnits& row : kSizeUnits) {
            if (*units == row.units) {
                return new SelkaSizeState(paper_, row.width, row.height);
            }
        }
        return nullptr;
    }

private:
    PaperConfiguration* paper_;
};

// The sides of an <offset> in points.
struct OffsetSide {
    std::string_view element;
    PaperAttributeKey key;
};
constexpr OffsetSide kOffsetSides[] = {
    {"top", PaperAttributeKey::kTopOffsetPoints},
    {"left", PaperAttributeKey::kLeftOffsetPoints},
    {"bottom", PaperAttributeKey::kBottomOffsetPoints},
    {"right", PaperAttributeKey::kRightOffsetPoints},
};

class SelkaOffsetState : public SelkaNoTextSD {
public:
    explicit SelkaOffsetState(PaperConfiguration* paper) : paper_(paper) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        for (const OffsetSide& side : kOffsetSides) {
            if (name == side.element) {
                return new SelkaPrinterAttributeState(paper_, side.key);
            }
        }
        return nullptr;
    }

private:
    PaperConfiguration* paper_;
};

class SelkaOffsetSetState : public SelkaNoTextSD {
public:
    explicit SelkaOffsetSetState(PaperConfiguration* paper) : paper_(paper) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (!Is(name, "offset")) {
            return nullptr;
        }
        const std::string* units = FindAttribute(attributes, "units");
        if (units == nullptr) {
            Raise("An exception occurred", __LINE__);
        }
        return Is(*units, "points") ? new SelkaOffsetState(paper_) : nullptr;
    }

private:
    PaperConfiguration* paper_;
};

class SelkaPaperState : public SelkaNoTextSD {
public:
    SelkaPaperState(PaperConfigurationSet* papers, PaperConfiguration paper)
        : papers_(papers), paper_(std::move(paper)) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (Is(name, "sizes")) {
            return new SelkaSizeSetState(&paper_);
        }
        if (Is(name, "offsets")) {
            return new SelkaOffsetSetState(&paper_);
        }
        return nullptr;
    }

    void finish() override {
        if (papers_->count(paper_.id) != 0) {
            Raise("Failed to add paper configuration to the current set!", __LINE__);
        }
        papers_->insert(std::move(paper_));
        delete this;
    }

private:
    PaperConfigurationSet* papers_;
    PaperConfiguration paper_;
};

class SelkaMediaSizeState : public Halden::XMLIntegerState<std::int32_t> {
public:
    SelkaMediaSizeState(std::string capacityCode, IdMap* table)
        : capacityCode_(std::move(capacityCode)), table_(table) {}

    void finish() override {
        std::int32_t capacity = 0;
        if (!platform::ParseIntegerText(text(), capacity)) {
            Raise("Invalid data for a <mediaCapacity> element", __LINE__);
        }
        table_->try_emplace(std::move(capacityCode_), capacity);
        delete this;
    }

private:
    std::string capacityCode_;
    IdMap* table_;
};

class SelkaDonorMediaMappingState : public SelkaNoTextSD {
public:
    explicit SelkaDonorMediaMappingState(PrinterDescription* description)
        : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        static constexpr struct {
            std::string_view element;
            std::int32_t SelkaDonorMediaMappingState::*field;
        } kFields[] = {
            {"idCode", &SelkaDonorMediaMappingState::idCode_},
            {"donor", &SelkaDonorMediaMappingState::donor_},
            {"media", &SelkaDonorMediaMappingState::media_},
        };
        for (const auto& row : kFields) {
            if (name == row.element) {
                return new Halden::XMLIntegerSetState<std::int32_t>(&(this->*row.field));
            }
        }
        return nullptr;
    }

    void finish() override {
        if (description_->donorMediaMappings.count(idCode_) != 0) {
            Raise("Invalid data for a <donorMediaMapping> element", __LINE__);
        }
        description_->donorMediaMappings.emplace(idCode_, DonorMediaMapping{donor_, media_});
        delete this;
    }

private:
    PrinterDescription* description_;
    std::int32_t idCode_ = -1;
    std::int32_t donor_ = -1;
    std::int32_t media_ = -1;
};

}  // namespace

XercesXMLParsingState* SelkaPaperSetState::startChild(const std::string& name,
                                                      const Attributes& attributes) {
    if (!Is(name, "paper")) {
        return nullptr;
    }
    PaperConfiguration paper;
    const std::string* paperName = FindAttribute(attributes, "name");
    if (!AttributeInteger(attributes, "id", paper.id) ||
        !AttributeInteger(attributes, "resourceId", paper.resourceId) || paperName == nullptr ||
        paperName->empty()) {
        Raise("An exception occurred", __LINE__);
    }
    paper.name = *paperName;
    return new SelkaPaperState(papers_, std::move(paper));
}

XercesXMLParsingState* SelkaPrinterPapersState::startChild(const std::string& name,
                                                           const Attributes& attributes) {
    if (!Is(name, "paperRef")) {
        return nullptr;
    }
    const std::string* paperIdText = FindAttribute(attributes, "paperId");
    if (paperIdText == nullptr) {
        Raise(MissingAttributeText("paperId"), __LINE__);
    }
    std::int32_t paperId = 0;
    if (!platform::ParseIntegerText(*paperIdText, paperId)) {
        Raise(NotIntegerText("paperId"), __LINE__);
    }
    const auto paper = documentPapers_->find(paperId);
    if (paper == documentPapers_->end()) {
        Raise("Paper ID is unknown!", __LINE__);
    }
    description_->papers.insert(*paper);
    if (const std::string* sendAs = FindAttribute(attributes, "sendToPrinterAs")) {
        std::int32_t value = 0;
        if (!platform::ParseIntegerText(*sendAs, value)) {
            Raise(NotIntegerText("sendToPrinterAs"), __LINE__);
        }
        description_->sendToPrinterAs.emplace(paperId, value);
    }
    if (const std::string* reported = FindAttribute(attributes, "sizeReportedByPrinterAs")) {
        description_->paperIdsByReportedSize.emplace(*reported, paperId);
    }
    return nullptr;
}

XercesXMLParsingState* SelkaMediaSizeSetState::startChild(const std::string& name,
                                                          const Attributes& attributes) {
    if (!Is(name, "mediaCapacity")) {
        return nullptr;
    }
    const std::string* code = FindAttribute(attributes, "capacityCodeFromPrinter");
    if (code == nullptr || code->empty()) {
        Raise(MissingAttributeText("capacityCodeFromPrinter"), __LINE__);
    }
    return new SelkaMediaSizeState(*code, &table_);
}

void SelkaMediaSizeSetState::finish() {
    description_->mediaCapacities = std::move(table_);
    delete this;
}

XercesXMLParsingState* SelkaDonorMediaMappingSetState::startChild(const std::string& name,
                                                                  const Attributes&) {
    return Is(name, "donorMediaMapping") ? new SelkaDonorMediaMappingState(description_) : nullptr;
}
