#pragma once

#include <cstdint>
#include <string>

// Wide to narrow through the C runtime's multibyte conversion under the current LC_CTYPE locale
// (every program calls setlocale(LC_ALL, "") at start-up). At most `length` bytes are produced,
// so a character that needs more than one byte can shorten the result. Throws
// Halden::TSException for a negative length, a null source with a positive length, or a
// character the locale cannot represent. Safe to call from several threads at once.
std::string wc2string(const wchar_t* source, std::int32_t length);

// The whole NUL-terminated string; a null source gives an empty string.
std::string wc2string(const wchar_t* source);
