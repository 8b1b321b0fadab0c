#include "Halden/xerces-xmlparser/XercesXMLParser.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLNetAccessor.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>

#include "Halden/ForcedUnwind.h"
#include "Halden/TSRuntimeError.h"
#include "Halden/threadSafe/wc2string.h"
#include "Halden/xerces-xmlparser/ParserContentHandler.h"
#include "Halden/xerces-xmlparser/XMLChStringTranscoder.h"

namespace Halden {

namespace {

// Parsers constructed in this process; the library is initialised while it is 0. The mutex
// makes concurrent first constructions safe and lets a failed initialisation be retried.
std::mutex gInitMutex;
std::int64_t gConstructedParsers = 0;

std::string ExceptionText(const xercesc::XMLException& e) {
    return NarrowTranscoder(e.getMessage()).str();
}

}  // namespace

XercesXMLParser::XercesXMLParser() : ignoreWhitespaceText(true), mergeTextChunks(true) {
    std::lock_guard<std::mutex> lock(gInitMutex);
    if (gConstructedParsers == 0) {
        try {
            xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale, nullptr,
                                                  nullptr, nullptr);
        } catch (const xercesc::XMLException&) {
            throw TSRuntimeError("Error during initialization",
                                 "Halden/xerces-xmlparser/XercesXMLParser", 282);
        }
        // The updater does no network I/O, but the library would fetch an http or ftp system
        // id (an external DTD or entity) itself, which could stall discovery. Without a net
        // accessor such a URL fails at once with a MalformedURLException; local files are
        // still read by the library's own rules.
        delete xercesc::XMLPlatformUtils::fgNetAccessor;
        xercesc::XMLPlatformUtils::fgNetAccessor = nullptr;
    }
    ++gConstructedParsers;
}

// The library is never terminated: other parsers, on other threads, may still use it.
XercesXMLParser::~XercesXMLParser() = default;

void XercesXMLParser::Configure(xercesc::SAXParser& parser, xercesc::SecurityManager& security) {
    parser.setValidationScheme(xercesc::SAXParser::Val_Never);
    parser.setDoNamespaces(false);
    parser.setDoSchema(false);
    parser.setValidationSchemaFullChecking(false);
    parser.setExitOnFirstFatalError(false);
    parser.setValidationConstraintFatal(true);
    parser.setSecurityManager(&security);
}

bool XercesXMLParser::parse(const std::wstring& path, XercesXMLParsingState* root) {
    std::unique_ptr<XercesXMLParsingState> owned(root);
    const std::string narrow =
        path.size() > static_cast<std::size_t>(INT32_MAX)
            ? wc2string(path.c_str(), -1)
            : wc2string(path.c_str(), static_cast<std::int32_t>(path.size()));
    return parse(narrow, owned.release());
}

bool XercesXMLParser::parse(const std::string& path, XercesXMLParsingState* root) {
    errorText_.clear();
    std::unique_ptr<XercesXMLParsingState> owned(root);
    try {
        const XMLChTranscoder libraryPath(path.c_str());
        const xercesc::LocalFileInputSource source(libraryPath.get(),
                                                   xercesc::XMLPlatformUtils::fgMemoryManager);
        return runDocument(owned.release(), source);
    } catch (const xercesc::XMLException& e) {
        errorText_ = ExceptionText(e);
    } catch (const std::exception& e) {
        errorText_ = e.what();
    } catch (...) {
        RethrowForcedUnwind();
        errorText_ = "Unknown failure";
    }
    return false;
}

bool XercesXMLParser::runDocument(XercesXMLParsingState* root, const xercesc::InputSource& source) {
    ParserContentHandler handler(root, ignoreWhitespaceText, mergeTextChunks);
    bool successful = false;
    std::string failure;
    try {
        // Bounds entity expansion, so that a file of nested entity references ends in a fatal
        // error instead of exhausting memory. Declared first: the parser points at it.
        xercesc::SecurityManager security;
        xercesc::SAXParser parser(nullptr, xercesc::XMLPlatformUtils::fgMemoryManager, nullptr);
        parser.setDocumentHandler(&handler);
        parser.setErrorHandler(&handler);
        parser.setXMLEntityResolver(&handler);
        Configure(parser, security);
        parser.parse(source);
        successful = parser.getErrorCount() <= 0;
    } catch (const xercesc::OutOfMemoryException&) {
        failure = "Out of memory";
    } catch (const xercesc::XMLException& e) {
        failure = ExceptionText(e);
    } catch (const xercesc::SAXParseException& e) {
        failure = DescribeParseError(e);
    } catch (const xercesc::SAXException& e) {
        failure = NarrowTranscoder(e.getMessage()).str();
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        RethrowForcedUnwind();
        failure = "Unknown failure";
    }
    if (!handler.Cleanup(successful)) {
        successful = false;
        if (failure.empty()) {
            failure = "A state failed to finish";
        }
    }
    if (!successful) {
        errorText_ = !failure.empty()                    ? failure
                     : !handler.FirstErrorText().empty() ? handler.FirstErrorText()
                                                         : "The document could not be read";
    }
    return successful;
}

}  // namespace Halden
