#pragma once

#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/XMLEntityResolver.hpp>

#include <deque>
#include <string>
#include <vector>

#include "Halden/xerces-xmlparser/AttributeSlots.h"
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
    // Aborts the states still open when the run did not reach Cleanup: a forced stop unwinds
    // past it.
    ~ParserContentHandler() override;

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

    // Bound on a document's character data and attributes together. The library caps the
    // number of entity expansions, not their size: a few large entities referenced many times
    // would otherwise fill memory. Description files hold well under a megabyte of text.
    static constexpr std::size_t kMaxTextBytes = 64u << 20;

private:
    void flushText();
    void appendText(const XMLCh* chars, XMLSize_t length);
    void appendMerged(const XMLCh* chars, XMLSize_t length);
    // Adds bytes of text or attributes to textBytes_; past the bound, throws std::length_error
    // with the message what followed by the bound.
    void countTextBytes(std::size_t bytes, const char* what);
    // Narrows library characters into out, counted against the bound. Returns whether out
    // holds only spaces, tabs, line feeds and carriage returns (an empty text does).
    bool narrowCounted(const XMLCh* text, XMLSize_t length, std::string& out, const char* what);
    const std::string& narrowName(const XMLCh* name);

    std::deque<XercesXMLParsingState*> stack_;
    XercesXMLParsingState* root_;
    bool rootPushed_ = false;
    // Without merging, the first pendingPieces_ entries are the pending text; with it, the first
    // mergedLength_ bytes of mergedText_ are, in pendingPieces_ pieces. Entries past them and the
    // element name are kept only for their storage, so that a document's thousands of elements
    // reuse the same few allocations.
    std::vector<std::string> pendingText_;
    std::size_t pendingPieces_ = 0;
    bool pendingBlank_ = true;  // every pending piece is whitespace only
    std::vector<char> mergedText_;
    std::size_t mergedLength_ = 0;
    std::string deliveredText_;
    std::string elementName_;
    AttributeSlots attributeSlots_;
    bool ignoreWhitespaceText_;
    bool mergeTextChunks_;
    std::string firstError_;
    // Character data, attribute names and values received so far, after entity expansion.
    std::size_t textBytes_ = 0;
};

// "message (line L, column C)"; the location is left out when the library has none.
std::string DescribeParseError(const xercesc::SAXParseException& exception);

}  // namespace Halden
