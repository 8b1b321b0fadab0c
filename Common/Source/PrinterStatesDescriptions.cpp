#include <boost/make_shared.hpp>

#include <exception>
#include <string_view>
#include <utility>

#include "Common/Headers/PrinterStates.h"
#include "Common/Headers/PrinterStatesPapers.h"
#include "Common/Headers/PrinterStatesSupport.h"
#include "Common/Headers/SelkaNoTextSD.h"
#include "Halden/TSRuntimeError.h"
#include "Halden/xerces-xmlparser/XMLIntegerSetState.h"
#include "Halden/xerces-xmlparser/XMLSetStringDataState.h"
#include "Halden/xerces-xmlparser/XMLStringSetState.h"
#include "Halden/xerces-xmlparser/XMLTextState.h"
#include "Halden/xerces-xmlparser/XercesXMLParser.h"
#include "platform/IntegerText.h"

// The states of Wend.xml's document, printers and everything a printer holds except its paper,
// media and donor elements (PrinterStatesPapers.cpp), and the loaders of Wend.xml.

using namespace PrinterStatesSupport;

namespace {

std::string NotBooleanText(const std::string& name) {
    return "Unexpected value for \"" + name + "\" (should be boolean)!";
}

std::string InvalidAttributesText(const std::string& element) {
    return "No/invalid value for one or more attributes on <" + element + ">";
}

std::string MissingAttributesText(const std::string& element) {
    return "Missing one or more required attributes on <" + element + ">";
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

class SelkaNamesState : public SelkaNoTextSD {
public:
    explicit SelkaNamesState(PrinterDescription* description) : description_(description) {}

    XercesXMLParsingState* startChild(const std::string& name,
                                      const Attributes& attributes) override {
        using Setter = Halden::XMLSetStringDataState<SelkaNamesState>::Setter;
        static const struct {
            std::string_view element;
            std::int32_t PrinterDescription::*resourceId;
            Setter setter;
        } kNames[] = {
            {"productname", &PrinterDescription::productNameResourceId,
             &SelkaNamesState::setProductName},
            {"longname", &PrinterDescription::longNameResourceId, &SelkaNamesState::setLongName},
            {"shortname", &PrinterDescription::shortNameResourceId, &SelkaNamesState::setShortName},
        };
        for (const auto& row : kNames) {
            if (name != row.element) {
                continue;
            }
            const std::string* text = FindAttribute(attributes, "resourceId");
            if (text == nullptr ||
                !platform::ParseStreamInteger(*text, description_->*row.resourceId)) {
                Raise(InvalidAttributesText(name), __LINE__);
            }
            return new Halden::XMLSetStringDataState<SelkaNamesState>(this, row.setter);
        }
        return nullptr;
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
        if (id == nullptr || resourceText == nullptr ||
            !platform::ParseStreamInteger(*resourceText, resourceId)) {
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

// The tri-state flags, each an element whose "supported" attribute is required.
struct TriStateFlag {
    std::string_view element;
    std::int32_t PrinterDescription::*field;
};
constexpr TriStateFlag kTriStateFlags[] = {
    {"drag-and-drop", &PrinterDescription::dragAndDrop},
    {"firmware-crc-verify", &PrinterDescription::firmwareCrcVerify},
    {"mediaRemaining", &PrinterDescription::mediaRemaining},
};

// The children of a printer whose state needs nothing but the description.
template <typename State>
XercesXMLParsingState* MakeState(PrinterDescription* description) {
    return new State(description);
}
struct PrinterChild {
    std::string_view element;
    XercesXMLParsingState* (*make)(PrinterDescription*);
};
constexpr PrinterChild kPrinterChildren[] = {
    {"names", &MakeState<SelkaNamesState>},
    {"protocols", &MakeState<SelkaProtocolsState>},
    {"mediaCapacities", &MakeState<SelkaMediaSizeSetState>},
    {"customProperties", &MakeState<SelkaCustomPropertiesSetState>},
    {"donorMediaMappings", &MakeState<SelkaDonorMediaMappingSetState>},
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
        for (const TriStateFlag& flag : kTriStateFlags) {
            if (name == flag.element) {
                d->*flag.field = RequiredBoolean(attributes, "supported") ? 1 : 0;
                return nullptr;
            }
        }
        if (Is(name, "firmware")) {
            d->stripVersionBytes = RequiredBoolean(attributes, "stripVersionBytes");
            d->requiresReboot = RequiredBoolean(attributes, "requires-reboot");
            return nullptr;
        }
        for (const PrinterChild& child : kPrinterChildren) {
            if (name == child.element) {
                return child.make(d);
            }
        }
        if (Is(name, "paperRefs")) {
            return new SelkaPrinterPapersState(documentPapers_, d);
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

}  // namespace

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
    if (vendor == vendors.end()) {
        return false;
    }
    const auto product = products.find(productName);
    if (product == products.end()) {
        return false;
    }
    return FindPrinterDescription(descriptionPath, static_cast<std::uint32_t>(vendor->second),
                                  static_cast<std::uint32_t>(product->second), record);
}
