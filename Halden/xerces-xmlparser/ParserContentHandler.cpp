#include "Halden/xerces-xmlparser/ParserContentHandler.h"

#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/SAXParseException.hpp>

#include <exception>
#include <new>
#include <stdexcept>

#include "Halden/TSException.h"
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

bool IsWhitespaceOnly(const std::string& text) {
    return text.find_first_not_of(" \t\n\r") == std::string::npos;
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

XercesXMLParser::ParserContentHandler::ParserContentHandler(XercesXMLParsingState* root,
                                                            bool ignoreWhitespaceText,
                                                            bool mergeTextChunks)
    : root_(root), ignoreWhitespaceText_(ignoreWhitespaceText), mergeTextChunks_(mergeTextChunks) {}

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
        flushText();
        XercesXMLParsingState::Attributes map;
        for (XMLSize_t i = 0; i < attributes.getLength(); ++i) {
            map.emplace(NarrowTranscoder(attributes.getName(i)).str(),
                        NarrowTranscoder(attributes.getValue(i)).str());
        }
        XercesXMLParsingState* child = stack_.back()->startChild(NarrowTranscoder(name).str(), map);
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

void XercesXMLParser::ParserContentHandler::appendText(const XMLCh* chars, XMLSize_t length) {
    // The library's buffer is copied with its length rather than trusted to end in a NUL.
    const std::basic_string<XMLCh> piece(chars, length);
    pendingText_.push_back(NarrowTranscoder(piece.c_str()).str());
    textBytes_ += pendingText_.back().size();
    if (textBytes_ > kMaxTextBytes) {
        throw std::length_error("The document's text exceeds " + std::to_string(kMaxTextBytes) +
                                " bytes");
    }
}

void XercesXMLParser::ParserContentHandler::characters(const XMLCh* const chars,
                                                       const XMLSize_t length) {
    if (stack_.empty()) {
        ThrowSax("Invalid context state (context stack is empty)");
    }
    Guarded([&] { appendText(chars, length); });
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
    if (current == nullptr || pendingText_.empty()) {
        return;
    }
    Guarded([&] {
        if (mergeTextChunks_ && pendingText_.size() > 1) {
            std::string merged;
            for (const std::string& piece : pendingText_) {
                merged += piece;
            }
            pendingText_.assign(1, std::move(merged));
        }
        bool whitespaceOnly = true;
        for (const std::string& piece : pendingText_) {
            whitespaceOnly = whitespaceOnly && IsWhitespaceOnly(piece);
        }
        std::vector<std::string> pieces;
        pieces.swap(pendingText_);
        if (ignoreWhitespaceText_ && whitespaceOnly) {
            return;
        }
        for (const std::string& piece : pieces) {
            current->addText(piece);
        }
    });
}

void XercesXMLParser::ParserContentHandler::endElement(const XMLCh* const) {
    flushText();
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
                    finished = false;
                    aborting = true;
                }
            }
            if (aborting) {
                try {
                    state->abort();
                } catch (...) {
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
