#include <exception>
#include <utility>

#include "Common/Headers/PrinterStates.h"
#include "Common/Headers/PrinterStatesSupport.h"
#include "Common/Headers/SelkaNoTextSD.h"
#include "Halden/ForcedUnwind.h"
#include "Halden/xerces-xmlparser/XMLSetStringDataState.h"
#include "Halden/xerces-xmlparser/XercesXMLParser.h"

// The element states of WendIDs.xml and its loader.

using namespace PrinterStatesSupport;

namespace {

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
