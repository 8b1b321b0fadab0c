#include "Halden/xerces-xmlparser/ParserContentHandler.h"

#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#include "Halden/ForcedUnwind.h"
#include "Halden/TSException.h"
#include "Halden/xerces-xmlparser/XMLChNarrowing.h"
#include "Halden/xerces-xmlparser/XMLChStringTranscoder.h"

namespace Halden {

namespace {

// Swallows a skipped element and its whole subtree: the same object stands on the stack once
// per open element below the skipped one and deletes itself when the last of them ends.
class SkipState : public XercesXMLParsingState {
public:
    XercesXMLParsingState* startChild(const std::string&, const Attributes&) override {
        ++depth_;
        return this;
    }
    void addText(const std::string&) override {}
    void finish() override {
        if (--depth_ == 0) {
            delete this;
        }
    }
    void abort() override { finish(); }

private:
    std::int32_t depth_ = 1;
};

const char* const kTextTooLong = "The document's text exceeds ";
const char* const kAttributesTooLong = "The document's text and attributes exceed ";

[[noreturn]] __attribute__((noinline)) void ThrowTooLong(const char* what) {
    throw std::length_error(
        what + std::to_string(XercesXMLParser::ParserContentHandler::kMaxTextBytes) + " bytes");
}

[[noreturn]] void ThrowSax(const char* message) {
    throw xercesc::SAXException(message, xercesc::XMLPlatformUtils::fgMemoryManager);
}

// Runs body and hands what it throws to the library as a SAXException.
template <typename Body>
void Guarded(Body body) {
    try {
        body();
    } catch (const xercesc::SAXException&) {
        throw;
    } catch (const std::exception& e) {
        ThrowSax(e.what());
    } catch (...) {
        RethrowForcedUnwind();
        ThrowSax("Unknown failure");
    }
}

}  // namespace

std::string DescribeParseError(const xercesc::SAXParseException& exception) {
    std::string text = NarrowTranscoder(exception.getMessage()).str();
    if (exception.getLineNumber() > 0) {
        text += " (line " + std::to_string(exception.getLineNumber()) + ", column " +
                std::to_string(exception.getColumnNumber()) + ")";
    }
    return text;
}

inline void XercesXMLParser::ParserContentHandler::countTextBytes(std::size_t bytes,
                                                                  const char* what) {
    if (bytes > kMaxTextBytes - textBytes_) {
        ThrowTooLong(what);
    }
    textBytes_ += bytes;
}

XercesXMLParser::ParserContentHandler::ParserContentHandler(XercesXMLParsingState* root,
                                                            bool ignoreWhitespaceText,
                                                            bool mergeTextChunks)
    : root_(root), ignoreWhitespaceText_(ignoreWhitespaceText), mergeTextChunks_(mergeTextChunks) {}

XercesXMLParser::ParserContentHandler::~ParserContentHandler() {
    Cleanup(false);
}

void XercesXMLParser::ParserContentHandler::startDocument() {
    if (!stack_.empty()) {
        ThrowSax("Invalid context state");
    }
    stack_.push_back(root_);
    rootPushed_ = true;
}

void XercesXMLParser::ParserContentHandler::startElement(const XMLCh* const name,
                                                         xercesc::AttributeList& attributes) {
    if (stack_.empty()) {
        ThrowSax("Invalid context state (context stack is empty)");
    }
    if (stack_.back() == nullptr) {
        ThrowSax("Invalid context state (current state is NULL)");
    }
    Guarded([&] {
        if (pendingPieces_ != 0) {  // the stack was checked above
            flushText();
        }
        const XercesXMLParsingState::Attributes& sent = attributeSlots_.Fill(
            attributes,
            [this](const XMLCh* text, XMLSize_t length, std::string& out) {
                narrowCounted(text, length, out, kAttributesTooLong);
            },
            [this](std::size_t bytes) { countTextBytes(bytes, kAttributesTooLong); });
        XercesXMLParsingState* child = stack_.back()->startChild(narrowName(name), sent);
        if (child == nullptr) {
            child = new (std::nothrow) SkipState;
            if (child == nullptr) {
                throw TSException("Couldn't allocate skip state!",
                                  "Halden/xerces-xmlparser/XercesXMLParser", 660);
            }
        }
        stack_.push_back(child);
    });
}

const std::string& XercesXMLParser::ParserContentHandler::narrowName(const XMLCh* name) {
    const XMLSize_t length = xercesc::XMLString::stringLen(name);
    bool blank = false;
    if (!NarrowAscii(name, length, elementName_, blank)) {
        elementName_ = TranscodeXMLCh(name, length);
    }
    return elementName_;
}

bool XercesXMLParser::ParserContentHandler::narrowCounted(const XMLCh* text, XMLSize_t length,
                                                          std::string& out, const char* what) {
    // Counted before the copy, so that no copy grows past the bound: a unit narrows to at
    // least one byte.
    countTextBytes(length, what);
    bool blank = false;
    if (!NarrowAscii(text, length, out, blank)) {
        textBytes_ -= length;
        std::string narrow = TranscodeXMLCh(text, length);
        countTextBytes(narrow.size(), what);
        out = std::move(narrow);
        blank = IsBlankText(out);
    }
    return blank;
}

void XercesXMLParser::ParserContentHandler::appendText(const XMLCh* chars, XMLSize_t length) {
    if (mergeTextChunks_) {
        appendMerged(chars, length);
        return;
    }
    if (pendingPieces_ == pendingText_.size()) {
        pendingText_.emplace_back();
    }
    const bool blank = narrowCounted(chars, length, pendingText_[pendingPieces_], kTextTooLong);
    pendingBlank_ = pendingBlank_ && blank;
    ++pendingPieces_;
}

// Most pieces are the indentation between two tags, dropped at the next boundary: they are
// narrowed straight behind the pending text, and a string is made only for text delivered.
inline void XercesXMLParser::ParserContentHandler::appendMerged(const XMLCh* chars,
                                                                XMLSize_t length) {
    countTextBytes(length, kTextTooLong);
    if (mergedText_.size() < mergedLength_ + length) {
        mergedText_.resize(mergedLength_ + length);
    }
    bool blank = false;
    if (NarrowAscii(chars, length, mergedText_.data() + mergedLength_, blank)) {
        mergedLength_ += length;
    } else {
        textBytes_ -= length;
        const std::string narrow = TranscodeXMLCh(chars, length);
        countTextBytes(narrow.size(), kTextTooLong);
        blank = IsBlankText(narrow);
        if (mergedText_.size() < mergedLength_ + narrow.size()) {
            mergedText_.resize(mergedLength_ + narrow.size());
        }
        std::memcpy(mergedText_.data() + mergedLength_, narrow.data(), narrow.size());
        mergedLength_ += narrow.size();
    }
    pendingBlank_ = pendingBlank_ && blank;
    ++pendingPieces_;
}

void XercesXMLParser::ParserContentHandler::characters(const XMLCh* const chars,
                                                       const XMLSize_t length) {
    if (stack_.empty()) {
        ThrowSax("Invalid context state (context stack is empty)");
    }
    if (mergeTextChunks_) {
        Guarded([&] { appendMerged(chars, length); });
    } else {
        Guarded([&] { appendText(chars, length); });
    }
}

void XercesXMLParser::ParserContentHandler::ignorableWhitespace(const XMLCh* const chars,
                                                                const XMLSize_t length) {
    if (stack_.empty()) {
        ThrowSax("Invalid context state (context stack is empty)");
    }
    if (ignoreWhitespaceText_) {
        return;
    }
    Guarded([&] { appendText(chars, length); });
}

void XercesXMLParser::ParserContentHandler::flushText() {
    if (stack_.empty()) {
        ThrowSax("Invalid context state (no current state)");
    }
    XercesXMLParsingState* current = stack_.back();
    if (current == nullptr || pendingPieces_ == 0) {
        return;
    }
    Guarded([&] {
        if (mergeTextChunks_) {
            const bool blank = pendingBlank_;
            const std::size_t length = mergedLength_;
            pendingPieces_ = 0;  // emptied before delivery, also when a state throws
            pendingBlank_ = true;
            mergedLength_ = 0;
            if (ignoreWhitespaceText_ && blank) {
                return;
            }
            deliveredText_.assign(mergedText_.data(), length);
            current->addText(deliveredText_);
            return;
        }
        const std::size_t pieces = pendingPieces_;
        const bool blank = pendingBlank_;
        pendingPieces_ = 0;  // emptied before delivery, also when a state throws
        pendingBlank_ = true;
        if (ignoreWhitespaceText_ && blank) {
            return;
        }
        for (std::size_t i = 0; i < pieces; ++i) {
            current->addText(pendingText_[i]);
        }
    });
}

void XercesXMLParser::ParserContentHandler::endElement(const XMLCh* const) {
    if (stack_.empty() || pendingPieces_ != 0) {
        flushText();
    }
    if (!stack_.empty()) {
        // Not guarded: what finish throws passes unchanged, and the state stays on the stack
        // so that the clean-up still sends it abort.
        if (stack_.back() != nullptr) {
            stack_.back()->finish();
        }
        stack_.pop_back();
    }
}

void XercesXMLParser::ParserContentHandler::endDocument() {
    if (stack_.size() != 1) {
        ThrowSax("Invalid context state");
    }
    if (stack_.back() != nullptr) {
        stack_.back()->finish();
    }
    stack_.pop_back();
}

void XercesXMLParser::ParserContentHandler::error(const xercesc::SAXParseException& exception) {
    if (firstError_.empty()) {
        firstError_ = DescribeParseError(exception);
    }
}

void XercesXMLParser::ParserContentHandler::fatalError(
    const xercesc::SAXParseException& exception) {
    if (firstError_.empty()) {
        firstError_ = DescribeParseError(exception);
    }
    xercesc::HandlerBase::fatalError(exception);
}

xercesc::InputSource* XercesXMLParser::ParserContentHandler::resolveEntity(
    xercesc::XMLResourceIdentifier*) {
    return nullptr;
}

bool XercesXMLParser::ParserContentHandler::Cleanup(bool successful) {
    bool finished = true;
    while (!stack_.empty()) {
        XercesXMLParsingState* state = stack_.back();
        if (state != nullptr) {
            bool aborting = !(successful && finished);
            if (!aborting) {
                try {
                    state->finish();
                } catch (...) {
                    RethrowForcedUnwind();
                    finished = false;
                    aborting = true;
                }
            }
            if (aborting) {
                try {
                    state->abort();
                } catch (...) {
                    RethrowForcedUnwind();
                    // abort must release the state; one that throws instead cannot be helped.
                }
            }
        }
        stack_.pop_back();
    }
    if (!rootPushed_) {
        delete root_;
        root_ = nullptr;
    }
    return finished;
}

}  // namespace Halden
