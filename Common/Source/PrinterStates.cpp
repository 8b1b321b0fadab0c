#include "Common/Headers/PrinterStates.h"

#include <boost/make_shared.hpp>

#include <locale.h>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string_view>
#include <utility>

#include "Common/Headers/SelkaNoTextSD.h"
#include "Halden/ForcedUnwind.h"
#include "Halden/ParserException.h"
#include "Halden/TSRuntimeError.h"
#include "Halden/xerces-xmlparser/XMLFloatState.h"
#include "Halden/xerces-xmlparser/XMLIntegerSetState.h"
#include "Halden/xerces-xmlparser/XMLIntegerState.h"
#include "Halden/xerces-xmlparser/XMLSetStringDataState.h"
#include "Halden/xerces-xmlparser/XMLStringSetState.h"
#include "Halden/xerces-xmlparser/XMLTextState.h"
#include "Halden/xerces-xmlparser/XercesXMLParser.h"
#include "platform/IntegerText.h"

// The element states of WendIDs.xml and Wend.xml. Every state is created by its parent's
// startChild (the roots by the loaders), holds plain pointers to the targets it writes into,
// and releases itself in finish or abort. Bad content raises Halden::ParserException (one
// TSRuntimeError) with this file and the raise statement's line; the driver turns any raise
// into a failed load.

namespace {

using Halden::XercesXMLParsingState;
using Attributes = XercesXMLParsingState::Attributes;
using IdMap = std::map<std::string, std::int32_t>;

const char* const kSourceFile = "Common/Source/PrinterStates";
const char* const kHeaderFile = "Common/Headers/PrinterStates";

[[noreturn]] void Raise(const std::string& message, int line) {
    throw Halden::ParserException(message, kSourceFile, line, -1);
}

std::string MissingAttributeText(const std::string& name) {
    return "Missing \"" + name + "\" attribute!";
}

std::string NotBooleanText(const std::string& name) {
    return "Unexpected value for \"" + name + "\" (should be boolean)!";
}

std::string NotIntegerText(const std::string& name) {
    return "Unexpected \"" + name + "\" attribute value (should be integer)!";
}

std::string InvalidAttributesText(const std::string& element) {
    return "No/invalid value for one or more attributes on <" + element + ">";
}

std::string MissingAttributesText(const std::string& element) {
    return "Missing one or more required attributes on <" + element + ">";
}

// Exact, whole-string comparison with a literal; the length decides most mismatches and the
// bytes compare without a library call.
template <std::size_t N>
bool Is(const std::string& text, const char (&literal)[N]) {
    return text.size() == N - 1 && std::memcmp(text.data(), literal, N - 1) == 0;
}

// Elements have a handful of attributes: a walk that compares lengths first beats the tree's
// ordered comparisons.
const std::string* FindAttribute(const Attributes& attributes, std::string_view name) {
    for (const auto& [key, value] : attributes) {
        if (key.size() == name.size() && std::memcmp(key.data(), name.data(), name.size()) == 0) {
            return &value;
        }
    }
    return nullptr;
}

// Present, non-empty and accepted by the integer text rule.
bool AttributeInteger(const Attributes& attributes, std::string_view name, std::int32_t& value) {
    const std::string* text = FindAttribute(attributes, name);
    return text != nullptr && !text->empty() && platform::ParseIntegerText(*text, value);
}

// What formatted extraction of a decimal int from a string stream in the classic locale
// accepts: leading whitespace skipped, an optional sign, at least one digit, trailing
// characters ignored, values out of range rejected. Written out because a stream per
// attribute dominated the load; unlike strtol it does not depend on the user's locale.
bool StreamInteger(const std::string& text, std::int32_t& value) {
    const char* c = text.c_str();
    while (*c == ' ' || *c == '\t' || *c == '\n' || *c == '\v' || *c == '\f' || *c == '\r') {
        ++c;
    }
    const bool negative = *c == '-';
    if (*c == '-' || *c == '+') {
        ++c;
    }
    if (*c < '0' || *c > '9') {
        return false;
    }
    // Accumulated as a magnitude up to 2^31, the largest one a negative value may have.
    const std::uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    std::uint32_t magnitude = 0;
    for (; *c >= '0' && *c <= '9'; ++c) {
        const std::uint32_t digit = static_cast<std::uint32_t>(*c - '0');
        if (magnitude > (limit - digit) / 10) {
            return false;
        }
        magnitude = magnitude * 10 + digit;
    }
    value =
        negative ? static_cast<std::int32_t>(0u - magnitude) : static_cast<std::int32_t>(magnitude);
    return true;
}

bool RequiredBoolean(const Attributes& attributes, const char* name) {
    const std::string* text = FindAttribute(attributes, name);
    if (text == nullptr) {
        Raise(MissingAttributeText(name), __LINE__);
    }
    if (Is(*text, "true")) {
        return true;
    }
    if (Is(*text, "false")) {
        return false;
    }
    Raise(NotBooleanText(name), __LINE__);
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

// ---- WendIDs.xml ----------------------------------------------------------------------------

class SelkaIDNameMappingState : public SelkaNoTextSD {
public:
    SelkaIDNameMappingState(IdMap* map, std::int32_t id) : map_(map), id_(id) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (Is(name, "name")) {
            return new Halden::XMLSetStringDataState<SelkaIDNameMappingState>(
                this, &SelkaIDNameMappingState::setName);
        }
        return nullptr;
    }

    void setName(const std::string& name) {
        if (map_->count(name) != 0) {
            throw Halden::ParserException("Duplicate mapping identified for " + name, kHeaderFile,
                                          101, -1);
        }
        map_->emplace(name, id_);
    }

private:
    IdMap* map_;
    std::int32_t id_;
};

class SelkaMappingGroupState : public SelkaNoTextSD {
public:
    SelkaMappingGroupState(IdMap* map, std::string childName)
        : map_(map), childName_(std::move(childName)) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (name != childName_) {
            return nullptr;
        }
        const std::string* text = FindAttribute(attributes, "id");
        std::int32_t id = 0;
        if (text == nullptr || !platform::ParseIntegerText(*text, id)) {
            throw Halden::ParserException(
                "Missing or invalid \"id\" value for the <" + childName_ + "> element", kSourceFile,
                230, -1);
        }
        return new SelkaIDNameMappingState(map_, id);
    }

private:
    IdMap* map_;
    std::string childName_;
};

class SelkaIDSetState : public SelkaNoTextSD {
public:
    SelkaIDSetState(IdMap* vendors, IdMap* products) : vendors_(vendors), products_(products) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (Is(name, "vendor-ids")) {
            return new SelkaMappingGroupState(vendors_, "vendor");
        }
        if (Is(name, "product-ids")) {
            return new SelkaMappingGroupState(products_, "product");
        }
        return nullptr;
    }

private:
    IdMap* vendors_;
    IdMap* products_;
};

class SelkaIDsRootState : public SelkaNoTextSD {
public:
    SelkaIDsRootState(IdMap* vendors, IdMap* products) : vendors_(vendors), products_(products) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        return Is(name, "ids") ? new SelkaIDSetState(vendors_, products_) : nullptr;
    }

private:
    IdMap* vendors_;
    IdMap* products_;
};

// ---- Wend.xml: papers and media ---------------------------------------------------------------

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
        if (Is(*units, "inches")) {
            return new SelkaSizeState(paper_, PaperAttributeKey::kWidthInches,
                                      PaperAttributeKey::kHeightInches);
        }
        if (Is(*units, "pixels")) {
            return new SelkaSizeState(paper_, PaperAttributeKey::kWidthPixels,
                                      PaperAttributeKey::kHeightPixels);
        }
        if (Is(*units, "mm_tenths")) {
            return new SelkaSizeState(paper_, PaperAttributeKey::kWidthMmTenths,
                                      PaperAttributeKey::kHeightMmTenths);
        }
        return nullptr;
    }

private:
    PaperConfiguration* paper_;
};

class SelkaOffsetState : public SelkaNoTextSD {
public:
    explicit SelkaOffsetState(PaperConfiguration* paper) : paper_(paper) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (Is(name, "top")) {
            return new SelkaPrinterAttributeState(paper_, PaperAttributeKey::kTopOffsetPoints);
        }
        if (Is(name, "left")) {
            return new SelkaPrinterAttributeState(paper_, PaperAttributeKey::kLeftOffsetPoints);
        }
        if (Is(name, "bottom")) {
            return new SelkaPrinterAttributeState(paper_, PaperAttributeKey::kBottomOffsetPoints);
        }
        if (Is(name, "right")) {
            return new SelkaPrinterAttributeState(paper_, PaperAttributeKey::kRightOffsetPoints);
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

class SelkaPaperSetState : public SelkaNoTextSD {
public:
    explicit SelkaPaperSetState(PaperConfigurationSet* papers) : papers_(papers) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
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

private:
    PaperConfigurationSet* papers_;
};

class SelkaPrinterPapersState : public SelkaNoTextSD {
public:
    SelkaPrinterPapersState(const PaperConfigurationSet* documentPapers,
                            PrinterDescription* description)
        : documentPapers_(documentPapers), description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
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

private:
    const PaperConfigurationSet* documentPapers_;
    PrinterDescription* description_;
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

class SelkaMediaSizeSetState : public SelkaNoTextSD {
public:
    explicit SelkaMediaSizeSetState(PrinterDescription* description) : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (!Is(name, "mediaCapacity")) {
            return nullptr;
        }
        const std::string* code = FindAttribute(attributes, "capacityCodeFromPrinter");
        if (code == nullptr || code->empty()) {
            Raise(MissingAttributeText("capacityCodeFromPrinter"), __LINE__);
        }
        return new SelkaMediaSizeState(*code, &table_);
    }

    // A later mediaCapacities element of the same printer replaces the earlier one's table.
    void finish() override {
        description_->mediaCapacities = std::move(table_);
        delete this;
    }

private:
    IdMap table_;
    PrinterDescription* description_;
};

class SelkaDonorMediaMappingState : public SelkaNoTextSD {
public:
    explicit SelkaDonorMediaMappingState(PrinterDescription* description)
        : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (Is(name, "idCode")) {
            return new Halden::XMLIntegerSetState<std::int32_t>(&idCode_);
        }
        if (Is(name, "donor")) {
            return new Halden::XMLIntegerSetState<std::int32_t>(&donor_);
        }
        if (Is(name, "media")) {
            return new Halden::XMLIntegerSetState<std::int32_t>(&media_);
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

class SelkaDonorMediaMappingSetState : public SelkaNoTextSD {
public:
    explicit SelkaDonorMediaMappingSetState(PrinterDescription* description)
        : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        return Is(name, "donorMediaMapping") ? new SelkaDonorMediaMappingState(description_)
                                             : nullptr;
    }

private:
    PrinterDescription* description_;
};

// ---- Wend.xml: printers -------------------------------------------------------------------

class SelkaNamesState : public SelkaNoTextSD {
public:
    explicit SelkaNamesState(PrinterDescription* description) : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        using Setter = Halden::XMLSetStringDataState<SelkaNamesState>::Setter;
        std::int32_t* resourceId = nullptr;
        Setter setter = nullptr;
        if (Is(name, "productname")) {
            resourceId = &description_->productNameResourceId;
            setter = &SelkaNamesState::setProductName;
        } else if (Is(name, "longname")) {
            resourceId = &description_->longNameResourceId;
            setter = &SelkaNamesState::setLongName;
        } else if (Is(name, "shortname")) {
            resourceId = &description_->shortNameResourceId;
            setter = &SelkaNamesState::setShortName;
        } else {
            return nullptr;
        }
        const std::string* text = FindAttribute(attributes, "resourceId");
        if (text == nullptr || !StreamInteger(*text, *resourceId)) {
            Raise(InvalidAttributesText(name), __LINE__);
        }
        return new Halden::XMLSetStringDataState<SelkaNamesState>(this, setter);
    }

    void setProductName(const std::string& text) { description_->productName = text; }
    void setLongName(const std::string& text) { description_->longName = text; }
    void setShortName(const std::string& text) { description_->shortName = text; }

private:
    PrinterDescription* description_;
};

class SelkaLutNamesState : public SelkaNoTextSD {
public:
    explicit SelkaLutNamesState(PrinterDescription* description) : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (!Is(name, "lut")) {
            return nullptr;
        }
        const std::string* id = FindAttribute(attributes, "id");
        const std::string* resourceText = FindAttribute(attributes, "resourceId");
        std::int32_t resourceId = 0;
        if (id == nullptr || resourceText == nullptr || !StreamInteger(*resourceText, resourceId)) {
            Raise(InvalidAttributesText(name), __LINE__);
        }
        description_->lutNames.emplace(*id, resourceId);
        return nullptr;
    }

private:
    PrinterDescription* description_;
};

class SelkaLutSetState : public SelkaNoTextSD {
public:
    explicit SelkaLutSetState(HeadDefinition* head) : head_(head) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (!Is(name, "lutmodule")) {
            return nullptr;
        }
        const std::string* lutRef = FindAttribute(attributes, "lutref");
        const std::string* moduleName = FindAttribute(attributes, "name");
        if (lutRef == nullptr || moduleName == nullptr) {
            Raise("No/invalid value for LUT or module name in <" + name + ">", __LINE__);
        }
        LutModule module;
        module.lutRef = *lutRef;
        module.name = *moduleName;
        module.donor = OptionalInteger(attributes, "donor");
        module.media = OptionalInteger(attributes, "media");
        head_->lutModules.push_back(std::move(module));
        return nullptr;
    }

private:
    // Absent or empty: -1.
    static std::int32_t OptionalInteger(const Attributes& attributes, const char* name) {
        const std::string* text = FindAttribute(attributes, name);
        std::int32_t value = -1;
        if (text != nullptr && !text->empty() && !platform::ParseIntegerText(*text, value)) {
            throw Halden::TSRuntimeError(std::string("Invalid value for attribute '") + name + "'",
                                         kSourceFile, __LINE__);
        }
        return value;
    }

    HeadDefinition* head_;
};

class SelkaFirmwareNameSpecState : public SelkaNoTextSD {
public:
    explicit SelkaFirmwareNameSpecState(HeadDefinition* head) : head_(head) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (Is(name, "prefix")) {
            return new Halden::XMLStringSetState(&prefix_);
        }
        if (Is(name, "extension")) {
            return new Halden::XMLStringSetState(&extension_);
        }
        if (Is(name, "version-format")) {
            return new Halden::XMLIntegerSetState<std::int32_t>(&versionFormat_);
        }
        return nullptr;
    }

    // A spec read up to a failure is kept too: the head it belongs to is discarded anyway.
    void finish() override {
        store();
        delete this;
    }
    void abort() override {
        store();
        delete this;
    }

private:
    void store() {
        if (!prefix_.empty() || !extension_.empty()) {
            head_->firmwareNameSpecs.push_back(
                FirmwareNameSpec{std::move(prefix_), std::move(extension_), versionFormat_});
        }
    }

    HeadDefinition* head_;
    std::string prefix_;
    std::string extension_;
    std::int32_t versionFormat_ = 1;
};

class SelkaFirmwareNameSpecSetState : public SelkaNoTextSD {
public:
    explicit SelkaFirmwareNameSpecSetState(HeadDefinition* head) : head_(head) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        return Is(name, "file-name-spec") ? new SelkaFirmwareNameSpecState(head_) : nullptr;
    }

private:
    HeadDefinition* head_;
};

class SelkaHeadDefinitionState : public SelkaNoTextSD {
public:
    SelkaHeadDefinitionState(PrinterDescription* description, std::string id)
        : description_(description) {
        head_.id = std::move(id);
    }

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (Is(name, "lutmodules")) {
            return new SelkaLutSetState(&head_);
        }
        if (Is(name, "firmware-file-name-specs")) {
            return new SelkaFirmwareNameSpecSetState(&head_);
        }
        return nullptr;
    }

    // A later head with the same id replaces the earlier one.
    void finish() override {
        HeadDefinition& stored = description_->heads[head_.id];
        stored = std::move(head_);
        delete this;
    }

private:
    PrinterDescription* description_;
    HeadDefinition head_;
};

class SelkaHeadsState : public SelkaNoTextSD {
public:
    explicit SelkaHeadsState(PrinterDescription* description) : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (!Is(name, "head")) {
            return nullptr;
        }
        const std::string* id = FindAttribute(attributes, "id");
        if (id == nullptr) {
            Raise("No/invalid value for name on <" + name + ">", __LINE__);
        }
        return new SelkaHeadDefinitionState(description_, *id);
    }

private:
    PrinterDescription* description_;
};

class SelkaProtocolsState : public SelkaNoTextSD {
public:
    explicit SelkaProtocolsState(PrinterDescription* description) : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (Is(name, "usb")) {
            const std::string* format = FindAttribute(attributes, "format");
            if (format == nullptr) {
                Raise(MissingAttributesText(name), __LINE__);
            }
            const std::int32_t outputFormat = OutputFormat(*format);
            if (outputFormat == 0) {
                Raise(InvalidAttributesText(name), __LINE__);
            }
            description_->connections.push_back(boost::make_shared<USBConnection>(outputFormat));
        } else if (Is(name, "network")) {
            const std::string* format = FindAttribute(attributes, "format");
            const std::string* discovery = FindAttribute(attributes, "discovery-model");
            if (format == nullptr || discovery == nullptr) {
                Raise(MissingAttributesText(name), __LINE__);
            }
            const std::int32_t outputFormat = OutputFormat(*format);
            std::int32_t discoveryProtocol = 0;
            if (Is(*discovery, "rendezvous")) {
                discoveryProtocol = NetworkConnection::kDiscoveryRendezvous;
            } else if (Is(*discovery, "udp-fn")) {
                discoveryProtocol = NetworkConnection::kDiscoveryUdpFn;
            }
            if (outputFormat == 0 || discoveryProtocol == 0) {
                Raise(InvalidAttributesText(name), __LINE__);
            }
            description_->connections.push_back(
                boost::make_shared<NetworkConnection>(outputFormat, discoveryProtocol));
        }
        return nullptr;
    }

private:
    // 0 for a value that is not a keyword.
    static std::int32_t OutputFormat(const std::string& value) {
        if (Is(value, "cmy-cmd-planar")) {
            return ConnectionType::kFormatCmyCmdPlanar;
        }
        if (Is(value, "jpeg")) {
            return ConnectionType::kFormatJpeg;
        }
        return 0;
    }

    PrinterDescription* description_;
};

class SelkaCustomPropertyState : public Halden::XMLTextState {
public:
    SelkaCustomPropertyState(PrinterDescription* description, std::string name)
        : description_(description), name_(std::move(name)) {}

    void finish() override {
        description_->customProperties.try_emplace(std::move(name_), std::move(text()));
        delete this;
    }

private:
    PrinterDescription* description_;
    std::string name_;
};

class SelkaCustomPropertiesSetState : public SelkaNoTextSD {
public:
    explicit SelkaCustomPropertiesSetState(PrinterDescription* description)
        : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (!Is(name, "property")) {
            return nullptr;
        }
        const std::string* propertyName = FindAttribute(attributes, "name");
        if (propertyName == nullptr || propertyName->empty()) {
            return nullptr;
        }
        return new SelkaCustomPropertyState(description_, *propertyName);
    }

private:
    PrinterDescription* description_;
};

class SelkaPrinterState : public SelkaNoTextSD {
public:
    SelkaPrinterState(std::vector<PrinterDescription>* records,
                      const PaperConfigurationSet* documentPapers, PrinterDescription description)
        : records_(records),
          documentPapers_(documentPapers),
          description_(std::move(description)) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        PrinterDescription* d = &description_;
        if (Is(name, "icon")) {
            return new Halden::XMLSetStringDataState<SelkaPrinterState>(
                this, &SelkaPrinterState::setIcon);
        }
        if (Is(name, "rotate")) {
            d->rotate = 2;
            return nullptr;
        }
        if (Is(name, "drag-and-drop")) {
            d->dragAndDrop = RequiredBoolean(attributes, "supported") ? 1 : 0;
            return nullptr;
        }
        if (Is(name, "firmware-crc-verify")) {
            d->firmwareCrcVerify = RequiredBoolean(attributes, "supported") ? 1 : 0;
            return nullptr;
        }
        if (Is(name, "mediaRemaining")) {
            d->mediaRemaining = RequiredBoolean(attributes, "supported") ? 1 : 0;
            return nullptr;
        }
        if (Is(name, "firmware")) {
            d->stripVersionBytes = RequiredBoolean(attributes, "stripVersionBytes");
            d->requiresReboot = RequiredBoolean(attributes, "requires-reboot");
            return nullptr;
        }
        if (Is(name, "names")) {
            return new SelkaNamesState(d);
        }
        if (Is(name, "protocols")) {
            return new SelkaProtocolsState(d);
        }
        if (Is(name, "paperRefs")) {
            return new SelkaPrinterPapersState(documentPapers_, d);
        }
        if (Is(name, "mediaCapacities")) {
            return new SelkaMediaSizeSetState(d);
        }
        if (Is(name, "customProperties")) {
            return new SelkaCustomPropertiesSetState(d);
        }
        if (Is(name, "donorMediaMappings")) {
            return new SelkaDonorMediaMappingSetState(d);
        }
        if (Is(name, "heads") || Is(name, "lutnames")) {
            const std::string* defaultId = FindAttribute(attributes, "default");
            if (defaultId == nullptr) {
                Raise("An exception occurred", __LINE__);
            }
            if (Is(name, "lutnames")) {
                d->defaultLut = *defaultId;
                return new SelkaLutNamesState(d);
            }
            d->defaultHead = *defaultId;
            return new SelkaHeadsState(d);
        }
        return nullptr;
    }

    void setIcon(const std::string& text) { description_.icon = text; }

    // Only a printer whose end tag was read reaches the list.
    void finish() override {
        records_->push_back(std::move(description_));
        delete this;
    }

private:
    std::vector<PrinterDescription>* records_;
    const PaperConfigurationSet* documentPapers_;
    PrinterDescription description_;
};

class SelkaPrinterSetState : public SelkaNoTextSD {
public:
    SelkaPrinterSetState(std::vector<PrinterDescription>* records,
                         const PaperConfigurationSet* documentPapers)
        : records_(records), documentPapers_(documentPapers) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        if (!Is(name, "printer")) {
            return nullptr;
        }
        std::int32_t vendorId = 0;
        std::int32_t productId = 0;
        if (!AttributeInteger(attributes, "vid", vendorId) ||
            !AttributeInteger(attributes, "pid", productId)) {
            Raise("An exception occurred", __LINE__);
        }
        return new SelkaPrinterState(records_, documentPapers_,
                                     PrinterDescription(static_cast<std::uint32_t>(vendorId),
                                                        static_cast<std::uint32_t>(productId)));
    }

private:
    std::vector<PrinterDescription>* records_;
    const PaperConfigurationSet* documentPapers_;
};

// Owns the document's paper set: papers are defined once per document and referenced by the
// printers that follow them.
class SelkaRootState : public SelkaNoTextSD {
public:
    explicit SelkaRootState(std::vector<PrinterDescription>* records) : records_(records) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        if (Is(name, "printers")) {
            return new SelkaPrinterSetState(records_, &papers_);
        }
        if (Is(name, "papers")) {
            return new SelkaPaperSetState(&papers_);
        }
        return nullptr;
    }

private:
    std::vector<PrinterDescription>* records_;
    PaperConfigurationSet papers_;
};

class SelkaDocumentState : public SelkaNoTextSD {
public:
    explicit SelkaDocumentState(std::vector<PrinterDescription>* records) : records_(records) {}

    XercesXMLParsingState* startChild(const std::string& name, const Attributes&) override {
        return Is(name, "orvane_printing") ? new SelkaRootState(records_) : nullptr;
    }

private:
    std::vector<PrinterDescription>* records_;
};

void SetErrorText(std::string* errorText, const std::string& text) {
    if (errorText != nullptr) {
        *errorText = text;
    }
}

}  // namespace

bool LoadIdMappings(const std::wstring& path, std::map<std::string, std::int32_t>& vendors,
                    std::map<std::string, std::int32_t>& products, std::string* errorText) {
    vendors.clear();
    products.clear();
    try {
        Halden::XercesXMLParser parser;
        if (parser.parse(path, new SelkaIDsRootState(&vendors, &products))) {
            return true;
        }
        SetErrorText(errorText, parser.GetErrorText());
    } catch (const std::exception& e) {
        SetErrorText(errorText, e.what());
    } catch (...) {
        Halden::RethrowForcedUnwind();
        SetErrorText(errorText, "Unknown failure");
    }
    return false;
}

bool LoadPrinterDescriptions(const std::wstring& path, std::vector<PrinterDescription>& records,
                             std::string* errorText) {
    records.clear();
    try {
        Halden::XercesXMLParser parser;
        if (parser.parse(path, new SelkaDocumentState(&records))) {
            return true;
        }
        SetErrorText(errorText, parser.GetErrorText());
    } catch (const std::exception& e) {
        SetErrorText(errorText, e.what());
    }
    return false;
}

bool FindPrinterDescription(const std::wstring& path, std::uint32_t vendorId,
                            std::uint32_t productId, PrinterDescription& record) {
    std::vector<PrinterDescription> records;
    if (!LoadPrinterDescriptions(path, records)) {
        return false;
    }
    for (const PrinterDescription& candidate : records) {
        if (candidate.vendorId == vendorId && candidate.productId == productId) {
            record = candidate;
            return true;
        }
    }
    return false;
}

bool LookupPrinterDescription(const std::wstring& descriptionPath, const std::wstring& idsPath,
                              const std::string& vendorName, const std::string& productName,
                              PrinterDescription& record) {
    std::map<std::string, std::int32_t> vendors;
    std::map<std::string, std::int32_t> products;
    if (!LoadIdMappings(idsPath, vendors, products)) {
        return false;
    }
    const auto vendor = vendors.find(vendorName);
    const auto product = products.find(productName);
    if (vendor == vendors.end() || product == products.end()) {
        return false;
    }
    return FindPrinterDescription(descriptionPath, static_cast<std::uint32_t>(vendor->second),
                                  static_cast<std::uint32_t>(product->second), record);
}
