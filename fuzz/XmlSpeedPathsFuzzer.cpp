// Feeds the same library text to the XML driver's speed paths and to the plain way, and aborts
// when they differ: NarrowAscii against the library's transcoder (Halden/xerces-xmlparser/
// XMLChNarrowing.h), and AttributeSlots against a fresh map per element
// (Halden/xerces-xmlparser/AttributeSlots.h), over a run of elements so that slots are reused
// and rebuilt.
//
// The input is read as 16-bit units split at each zero unit into strings, as the library hands
// them over (no XML text holds U+0000). Each string is narrowed both ways. Then the strings
// are taken as name, value, name, value, ... of elements; an empty string where a name would
// stand ends an element, so that no name is empty, as in XML.

#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Halden/xerces-xmlparser/AttributeSlots.h"
#include "Halden/xerces-xmlparser/XMLChNarrowing.h"

namespace {

using Text = std::basic_string<XMLCh>;
using Attributes = Halden::AttributeSlots::Attributes;

[[noreturn]] void Differ(const char* what) {
    std::fprintf(stderr, "speed path and plain way differ: %s\n", what);
    std::abort();
}

// An element's attributes as the library's SAX1 interface gives them: by index only.
class FuzzAttributeList : public xercesc::AttributeList {
public:
    std::vector<std::pair<Text, Text>> entries;

    XMLSize_t getLength() const override { return entries.size(); }
    const XMLCh* getName(const XMLSize_t index) const override {
        return entries[index].first.c_str();
    }
    const XMLCh* getType(const XMLSize_t) const override { return type_; }
    const XMLCh* getValue(const XMLSize_t index) const override {
        return entries[index].second.c_str();
    }
    const XMLCh* getType(const XMLCh* const) const override { return nullptr; }
    const XMLCh* getValue(const XMLCh* const) const override { return nullptr; }
    const XMLCh* getValue(const char* const) const override { return nullptr; }

private:
    const XMLCh type_[6] = {'C', 'D', 'A', 'T', 'A', 0};
};

// The driver's narrowing: the speed path where it accepts the text, else the plain way.
std::string NarrowAsDriver(const XMLCh* text, std::size_t length) {
    std::string out;
    bool blank = false;
    if (!Halden::NarrowAscii(text, length, out, blank)) {
        out = Halden::TranscodeXMLCh(text, length);
    }
    return out;
}

void CheckNarrowing(const Text& text) {
    const std::string plain = Halden::TranscodeXMLCh(text.data(), text.size());
    std::string fast(3, 'x');  // storage of another size, as the driver reuses its strings
    bool blank = false;
    if (!Halden::NarrowAscii(text.data(), text.size(), fast, blank)) {
        for (const XMLCh unit : text) {
            if (unit >= 0x80) {
                return;  // declined, rightly: the plain way alone narrows it
            }
        }
        Differ("ASCII text declined");
    }
    if (fast != plain) {
        Differ("narrowed bytes");
    }
    if (blank != Halden::IsBlankText(plain)) {
        Differ("blank flag");
    }
}

void CheckAttributes(Halden::AttributeSlots& slots, const FuzzAttributeList& list) {
    Attributes plain;
    std::size_t plainBytes = 0;
    for (const auto& [name, value] : list.entries) {
        std::string narrowName = Halden::TranscodeXMLCh(name.data(), name.size());
        std::string narrowValue = Halden::TranscodeXMLCh(value.data(), value.size());
        plainBytes += narrowName.size() + narrowValue.size();
        plain.emplace(std::move(narrowName), std::move(narrowValue));
    }
    std::size_t counted = 0;
    const Attributes& fast = slots.Fill(
        list,
        [&counted](const XMLCh* text, XMLSize_t length, std::string& out) {
            out = NarrowAsDriver(text, length);
            counted += out.size();
        },
        [&counted](std::size_t bytes) { counted += bytes; });
    if (fast != plain) {
        Differ("attribute map");
    }
    if (counted != plainBytes) {
        Differ("attribute bytes counted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The programs narrow into the user's locale; UTF-8, where there is one, gives the
    // transcoder's bytes of 0x80 and more that a speed path could mistake for characters.
    static const bool initialized = [] {
        if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
            std::setlocale(LC_ALL, "");
        }
        xercesc::XMLPlatformUtils::Initialize();
        return true;
    }();
    (void)initialized;
    std::vector<Text> strings(1);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        XMLCh unit = 0;
        std::memcpy(&unit, data + i, sizeof unit);
        if (unit == 0) {
            strings.emplace_back();
        } else {
            strings.back() += unit;
        }
    }
    for (const Text& text : strings) {
        CheckNarrowing(text);
    }
    // One slot set over the whole run, as the driver keeps one per document.
    Halden::AttributeSlots slots;
    FuzzAttributeList list;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (strings[i].empty()) {
            CheckAttributes(slots, list);
            list.entries.clear();
            continue;
        }
        list.entries.emplace_back(strings[i], i + 1 < strings.size() ? strings[i + 1] : Text());
        ++i;
    }
    CheckAttributes(slots, list);
    return 0;
}
