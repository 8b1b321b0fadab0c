#include "Halden/xerces-xmlparser/ParserContentHandler.h"

#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Halden/ForcedUnwind.h"
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

const char* const kTextTooLong = "The document's text exceeds ";
const char* const kAttributesTooLong = "The document's text and attributes exceed ";

bool IsBlank(XMLCh unit) {
    return unit == ' ' || unit == '\t' || unit == '\n' || unit == '\r';
}

#if defined(__SSE2__)
// Narrows the units in the low lanes of a vector (8 or, with mask 0x00FF, 4) into target.
// False when one of them is not ASCII; blank is cleared unless all are one of the four blanks.
bool NarrowLanes(__m128i units, int mask, char* target, bool& blank) {
    const __m128i notAscii = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
    if ((_mm_movemask_epi8(_mm_cmpeq_epi16(notAscii, _mm_setzero_si128())) & mask) != mask) {
        return false;
    }
    const __m128i blanks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16(' ')),
                                                     _mm_cmpeq_epi16(units, _mm_set1_epi16('\t'))),
                                        _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('\n')),
                                                     _mm_cmpeq_epi16(units, _mm_set1_epi16('\r'))));
    blank = blank && (_mm_movemask_epi8(blanks) & mask) == mask;
    const __m128i bytes = _mm_packus_epi16(units, units);
    if (mask == 0xFFFF) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(target), bytes);
    } else {
        const int low = _mm_cvtsi128_si32(bytes);
        std::memcpy(target, &low, 4);
    }
    return true;
}
#endif

// ASCII is the same in every local code page, so ASCII text is narrowed unit by unit into
// target, which has room for length bytes. Returns false, target then unspecified, when the text
// holds another character. blank tells whether every unit is a space, tab, line feed or carriage
// return. Most of a description file is indentation and short names, hence the care: with SSE2,
// blocks of 8 (or 4) units, the last block overlapping the one before instead of a loop over the
// rest.
bool NarrowAscii(const XMLCh* text, std::size_t length, char* const target, bool& blank) {
    bool allBlank = true;
#if defined(__SSE2__)
    if (length >= 8) {
        std::size_t i = 0;
        for (; i + 8 <= length; i += 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            if (!NarrowLanes(units, 0xFFFF, target + i, allBlank)) {
                return false;
            }
        }
        if (i < length) {
            const std::size_t last = length - 8;
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + last));
            if (!NarrowLanes(units, 0xFFFF, target + last, allBlank)) {
                return false;
            }
        }
        blank = allBlank;
        return true;
    }
    if (length >= 4) {
        for (const std::size_t at : {std::size_t{0}, length - 4}) {
            const __m128i units = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(text + at));
            if (!NarrowLanes(units, 0x00FF, target + at, allBlank)) {
                return false;
            }
        }
        blank = allBlank;
        return true;
    }
#endif
    for (std::size_t i = 0; i < length; ++i) {
        const XMLCh unit = text[i];
        if (unit >= 0x80) {
            return false;
        }
        allBlank = allBlank && IsBlank(unit);
        target[i] = static_cast<char>(unit);
    }
    blank = allBlank;
    return true;
}

// The same into out, reusing its storage.
bool NarrowAscii(const XMLCh* text, std::size_t length, std::string& out, bool& blank) {
    if (out.size() != length) {
        out.resize(length);
    }
    return NarrowAscii(text, length, &out[0], blank);
}

bool AllBlank(const std::string& text) {
    for (const char c : text) {
        if (!IsBlank(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// Whether name, zero-terminated, is the ASCII text key.
bool SameAsciiName(const XMLCh* name, const std::string& key) {
    for (std::size_t i = 0; i < key.size(); ++i) {
        const XMLCh unit = name[i];
        if (unit == 0 || unit >= 0x80 || unit != static_cast<unsigned char>(key[i])) {
            return false;
        }
    }
    return name[key.size()] == 0;
}

std::string Transcode(const XMLCh* text, XMLSize_t length) {
    // The transcoder reads up to a NUL; the library's buffer is not trusted to end in one.
    const std::basic_string<XMLCh> piece(text, length);
    return NarrowTranscoder(piece.c_str()).str();
}

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
        buildAttributes(attributes);
        XercesXMLParsingState* child =
            stack_.back()->startChild(narrowName(name), *attributesSent_);
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

// One string per name length, so that a name is narrowed into storage of its own size: names
// of neighbouring elements mostly differ in length.
const std::string& XercesXMLParser::ParserContentHandler::narrowName(const XMLCh* name) {
    const XMLSize_t length = xercesc::XMLString::stringLen(name);
    bool blank = false;
    if (length < namesByLength_.size()) {
        if (NarrowAscii(name, length, namesByLength_[length], blank)) {
            return namesByLength_[length];
        }
    } else if (NarrowAscii(name, length, elementName_, blank)) {
        return elementName_;
    }
    elementName_ = Transcode(name, length);
    return elementName_;
}

// An element without attributes gets an empty map of its own. The others share a few maps, one
// per slot chosen by the number of attributes and the start of the first name: an element whose
// attribute names are those its slot last held, in the same order (elements of one kind, mostly),
// only overwrites the values. Otherwise the slot's map is rebuilt in place: its nodes move to the
// spare list and come back with the element's names and values, so that their strings keep
// their storage.
void XercesXMLParser::ParserContentHandler::buildAttributes(
    const xercesc::AttributeList& attributes) {
    using Attributes = XercesXMLParsingState::Attributes;
    const XMLSize_t count = attributes.getLength();
    if (count == 0) {
        attributesSent_ = &noAttributes_;
        return;
    }
    const XMLCh* const firstName = attributes.getName(0);
    AttributeSlot& slot =
        attributeSlots_[(count * 7 + firstName[0] * 3 + firstName[1]) % attributeSlots_.size()];
    attributesSent_ = &slot.map;
    std::vector<Attributes::iterator>& order = slot.order;
    if (count == order.size()) {
        XMLSize_t same = 0;
        while (same < count && SameAsciiName(attributes.getName(same), order[same]->first)) {
            ++same;
        }
        if (same == count) {
            for (XMLSize_t i = 0; i < count; ++i) {
                countTextBytes(order[i]->first.size(), kAttributesTooLong);
                const XMLCh* const value = attributes.getValue(i);
                narrowCounted(value, xercesc::XMLString::stringLen(value), order[i]->second,
                              kAttributesTooLong);
            }
            return;
        }
    }
    Attributes& map = slot.map;
    order.clear();
    while (!map.empty()) {
        spareAttributes_.push_back(map.extract(map.begin()));
    }
    for (XMLSize_t i = 0; i < count; ++i) {
        Attributes::node_type node;
        if (spareAttributes_.empty()) {
            Attributes fresh;
            node = fresh.extract(fresh.emplace().first);
        } else {
            node = std::move(spareAttributes_.back());
            spareAttributes_.pop_back();
        }
        const XMLCh* const attributeName = attributes.getName(i);
        const XMLCh* const value = attributes.getValue(i);
        narrowCounted(attributeName, xercesc::XMLString::stringLen(attributeName), node.key(),
                      kAttributesTooLong);
        narrowCounted(value, xercesc::XMLString::stringLen(value), node.mapped(),
                      kAttributesTooLong);
        Attributes::insert_return_type inserted = map.insert(std::move(node));
        if (inserted.inserted) {
            order.push_back(inserted.position);
        } else {
            spareAttributes_.push_back(std::move(inserted.node));  // the first one stays
        }
    }
}

bool XercesXMLParser::ParserContentHandler::narrowCounted(const XMLCh* text, XMLSize_t length,
                                                          std::string& out, const char* what) {
    // Counted before the copy, so that no copy grows past the bound: a unit narrows to at
    // least one byte.
    countTextBytes(length, what);
    bool blank = false;
    if (!NarrowAscii(text, length, out, blank)) {
        textBytes_ -= length;
        std::string narrow = Transcode(text, length);
        countTextBytes(narrow.size(), what);
        out = std::move(narrow);
        blank = AllBlank(out);
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
        const std::string narrow = Transcode(chars, length);
        countTextBytes(narrow.size(), kTextTooLong);
        blank = AllBlank(narrow);
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
