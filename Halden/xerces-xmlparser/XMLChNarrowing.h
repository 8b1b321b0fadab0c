#pragma once

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <string>

namespace Halden {

// The two ways the XML driver narrows the library's characters into the local code page.
//
// Plain: the library's transcoder (XMLString::transcode), for any text.
// Speed path: ASCII is the same in every local code page, so ASCII text is copied unit by unit
// and any other text is declined, to take the plain way. Most of a description file is
// indentation and short ASCII names, and the transcoder allocates on every call: without this
// path a load of bench/DescriptionLoadBench's file takes about twice as long. Both give the
// same bytes for any text the speed path accepts (fuzz/NarrowingFuzzer.cpp checks it).

// The plain way: length units of text, which need not end in a NUL.
std::string TranscodeXMLCh(const XMLCh* text, std::size_t length);

// A space, tab, line feed or carriage return.
inline bool IsBlankUnit(XMLCh unit) {
    return unit == ' ' || unit == '\t' || unit == '\n' || unit == '\r';
}

// Whether every byte of text is one of the four blanks (an empty text is).
bool IsBlankText(const std::string& text);

// The speed path: narrows length units into target, which has room for length bytes. False,
// target then unspecified, when the text holds a unit that is not ASCII. blank tells whether
// every unit is one of the four blanks.
inline bool NarrowAscii(const XMLCh* text, std::size_t length, char* const target, bool& blank) {
    bool allBlank = true;
    for (std::size_t i = 0; i < length; ++i) {
        const XMLCh unit = text[i];
        if (unit >= 0x80) {
            return false;
        }
        allBlank = allBlank && IsBlankUnit(unit);
        target[i] = static_cast<char>(unit);
    }
    blank = allBlank;
    return true;
}

// The same into out, reusing its storage.
inline bool NarrowAscii(const XMLCh* text, std::size_t length, std::string& out, bool& blank) {
    if (out.size() != length) {
        out.resize(length);
    }
    return NarrowAscii(text, length, &out[0], blank);
}

}  // namespace Halden
