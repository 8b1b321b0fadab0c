#include "Halden/xerces-xmlparser/XMLChNarrowing.h"

#include "Halden/xerces-xmlparser/XMLChStringTranscoder.h"

namespace Halden {

std::string TranscodeXMLCh(const XMLCh* text, std::size_t length) {
    // The transcoder reads up to a NUL; the library's buffer is not trusted to end in one.
    const std::basic_string<XMLCh> piece(text, length);
    return NarrowTranscoder(piece.c_str()).str();
}

bool IsBlankText(const std::string& text) {
    for (const char c : text) {
        if (!IsBlankUnit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

}  // namespace Halden
