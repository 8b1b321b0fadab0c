#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "Halden/ParserException.h"
#include "Halden/xerces-xmlparser/XercesXMLParsingState.h"
#include "platform/IntegerText.h"

// What the element states of WendIDs.xml (PrinterStatesIdMappings.cpp) and Wend.xml
// (PrinterStatesPapers.cpp, PrinterStatesDescriptions.cpp) share. Every state is created by its
// parent's startChild (the roots by the loaders), holds plain pointers to the targets it writes
// into, and releases itself in finish or abort. Bad content raises Halden::ParserException (one
// TSRuntimeError) with the source name below and the raise statement's line; the driver turns
// any raise into a failed load.
namespace PrinterStatesSupport {

using Halden::XercesXMLParsingState;
using Attributes = XercesXMLParsingState::Attributes;
using IdMap = std::map<std::string, std::int32_t>;

// The design's source names, which the exceptions' file field carries whichever file raises.
inline const char* const kSourceFile = "Common/Source/PrinterStates";
inline const char* const kHeaderFile = "Common/Headers/PrinterStates";

[[noreturn]] inline void Raise(const std::string& message, int line) {
    throw Halden::ParserException(message, kSourceFile, line, -1);
}

inline std::string MissingAttributeText(const std::string& name) {
    return "Missing \"" + name + "\" attribute!";
}

// Exact, whole-string comparison with a literal; the length decides most mismatches and the
// bytes compare without a library call.
template <std::size_t N>
bool Is(const std::string& text, const char (&literal)[N]) {
    return text.size() == N - 1 && std::memcmp(text.data(), literal, N - 1) == 0;
}

// Elements have a handful of attributes: a walk that compares lengths first beats the tree's
// ordered comparisons.
inline const std::string* FindAttribute(const Attributes& attributes, std::string_view name) {
    for (const auto& [key, value] : attributes) {
        if (key.size() == name.size() && std::memcmp(key.data(), name.data(), name.size()) == 0) {
            return &value;
        }
    }
    return nullptr;
}

// Present, non-empty and accepted by the integer text rule.
inline bool AttributeInteger(const Attributes& attributes, std::string_view name,
                             std::int32_t& value) {
    const std::string* text = FindAttribute(attributes, name);
    return text != nullptr && !text->empty() && platform::ParseIntegerText(*text, value);
}

inline void SetErrorText(std::string* errorText, const std::string& text) {
    if (errorText != nullptr) {
        *errorText = text;
    }
}

}  // namespace PrinterStatesSupport
