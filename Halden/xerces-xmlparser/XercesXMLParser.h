#pragma once

#include <xercesc/util/XercesDefs.hpp>

#include <string>

#include "Halden/xerces-xmlparser/XercesXMLParsingState.h"

XERCES_CPP_NAMESPACE_BEGIN
class InputSource;
class SAXParser;
class SecurityManager;
XERCES_CPP_NAMESPACE_END

namespace Halden {

// Reads one XML document through Xerces-C's SAX1 parser and drives a stack of parse states,
// one per open element (see XercesXMLParsingState). Errors never leave parse: every failure
// ends as false, and its text is kept for GetErrorText. A parser object and the states of one
// parse belong to the calling thread; several parsers may be constructed and used on
// different threads at the same time.
class XercesXMLParser {
public:
    class ParserContentHandler;

    // Initialises the XML library on the first successful construction in the process.
    // Throws TSRuntimeError "Error during initialization" when that fails; the next
    // construction tries again.
    XercesXMLParser();
    ~XercesXMLParser();
    XercesXMLParser(const XercesXMLParser&) = delete;
    XercesXMLParser& operator=(const XercesXMLParser&) = delete;

    // The root state stands for the document and receives the document element as its only
    // child. It is owned by the parse from this call on, whatever the result: it receives
    // finish or abort once pushed, and is deleted without either when the document never
    // started (file missing or unreadable). The wide form converts the path with wc2string
    // and lets that conversion's TSException through (the root is then deleted).
    bool parse(const std::wstring& path, XercesXMLParsingState* root);
    bool parse(const std::string& path, XercesXMLParsingState* root);

    // Text of the exception or XML error that ended the last parse; empty after a success.
    const std::string& GetErrorText() const { return errorText_; }

    // The library parser's settings of every parse: no validation, namespaces or schema, all
    // errors counted, entity expansion bounded by security (which must outlive the parse).
    static void Configure(xercesc::SAXParser& parser, xercesc::SecurityManager& security);

    bool ignoreWhitespaceText;  // drop whitespace-only text and ignorable whitespace
    bool mergeTextChunks;       // join text pieces that arrive between two element boundaries

private:
    bool runDocument(XercesXMLParsingState* root, const xercesc::InputSource& source);

    std::string errorText_;
};

}  // namespace Halden
