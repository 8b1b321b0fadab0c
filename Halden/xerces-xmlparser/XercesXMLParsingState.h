#pragma once

#include <functional>
#include <map>
#include <string>

namespace Halden {

// One open XML element during a parse. The driver calls startChild for every child start tag,
// addText for character data, and exactly one of finish (end tag read) or abort (parse
// abandoned). Every state lives on the heap and ends its own life in finish or abort; the
// driver never deletes a state it was handed. Used by the parsing thread only.
class XercesXMLParsingState {
public:
    // Ordered by name; transparent, so that a name can be looked up without making a string.
    using Attributes = std::map<std::string, std::string, std::less<>>;

    virtual ~XercesXMLParsingState() = default;

    // The state for the child element, or nullptr to have the child and its subtree skipped.
    virtual XercesXMLParsingState* startChild(const std::string& name,
                                              const Attributes& attributes) = 0;
    virtual void addText(const std::string& text) = 0;
    virtual void finish() {}
    virtual void abort() {}
};

}  // namespace Halden
