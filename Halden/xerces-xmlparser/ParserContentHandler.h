#pragma once

#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>

#include <deque>
#include <string>
#include <vector>

#include "Halden/xerces-xmlparser/XercesXMLParser.h"

namespace Halden {

// The SAX handler of one parse: keeps the stack of open states (back = current), collects
// text between element boundaries and delivers it at the next boundary. Exceptions thrown by
// states reach the library as SAXException carrying their what() text, except those thrown by
// finish, which pass unchanged. Lives only for one run, on the parsing thread.
class XercesXMLParser::ParserContentHandler : public xercesc::HandlerBase,
                                              public xercesc::XMLEntityResolver {
public:
    ParserContentHandler(XercesXMLParsingState* root, bool ignoreWhitespaceText,
                         bool mergeTextChunks);

    void startDocument() override;
    void startElement(const XMLCh* const name, xercesc::AttributeList& attributes) override;
    void characters(const XMLCh* const chars, const XMLSize_t length) override;
    void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length) override;
    void endElement(const XMLCh* const name) override;
    void endDocument() override;

    // As HandlerBase (errors ignored, fatal errors thrown), but the first message is kept.
    void error(const xercesc::SAXParseException& exception) override;
    void fatalError(const xercesc::SAXParseException& exception) override;

    // External entities are resolved by the library's own rules.
    using xercesc::HandlerBase::resolveEntity;
    xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* identifier) override;

    // Sends finish (successful run) or abort to every state still open, innermost first, and
    // deletes a root that was never pushed. Returns false when a finish threw.
    bool Cleanup(bool successful);

    const std::string& FirstErrorText() const { return firstError_; }

    // Bound on a document's character data. The library caps the number of entity
    // expansions, not their size: a few large entities referenced many times would otherwise
    // fill memory. Description files hold well under a megabyte of text.
    static constexpr std::size_t kMaxTextBytes = 64u << 20;

private:
    void flushText();
    void appendText(const XMLCh* chars, XMLSize_t length);

    std::deque<XercesXMLParsingState*> stack_;
    XercesXMLParsingState* root_;
    bool rootPushed_ = false;
    std::vector<std::string> pendingText_;
    bool ignoreWhitespaceText_;
    bool mergeTextChunks_;
    std::string firstError_;
    std::size_t textBytes_ = 0;  // character data received so far, after entity expansion
};

// "message (line L, column C)"; the location is left out when the library has none.
std::string DescribeParseError(const xercesc::SAXParseException& exception);

}  // namespace Halden
