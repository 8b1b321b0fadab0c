#pragma once

#include <string>

#include "Halden/xerces-xmlparser/XMLStateSelfDestruct.h"

namespace Halden {

// Collects the text of a value element, untrimmed; child elements are skipped while the text
// around them is still collected. Deletes itself at finish and abort, storing nothing.
class XMLTextState : public XMLStateSelfDestruct {
public:
    XercesXMLParsingState* startChild(const std::string&, const Attributes&) override {
        return nullptr;
    }
    void addText(const std::string& text) override { text_ += text; }

    std::string getText() const { return text_; }

protected:
    // The collected text itself, for a finish that uses it up just before the state ends.
    std::string& text() { return text_; }

private:
    std::string text_;
};

}  // namespace Halden
