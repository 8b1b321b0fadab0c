#pragma once

#include <string>

namespace platform {

// Full path of the running program (/proc/self/exe) as a wide path; empty when it cannot be
// read.
std::wstring GetModuleFileName();

// The program's folder with a trailing '/'; empty when the path cannot be read.
std::wstring GetModuleDirectory();

// Wide <-> narrow conversions of paths handed to and received from the system. A path on Linux
// is bytes, read as UTF-8 whatever the locale. A byte that is not part of valid UTF-8 becomes
// one of U+DC80..U+DCFF (code points that valid UTF-8 never yields) and turns back into that
// byte, so that any name the system gives converts back unchanged. They return false for a NUL
// character, and WideToNarrow also for a code point that is neither Unicode nor such a byte.
bool WideToNarrow(const std::wstring& wide, std::string& narrow);
bool NarrowToWide(const std::string& narrow, std::wstring& wide);

// Wide to narrow under the current locale (LC_CTYPE), as the C runtime's multibyte conversion
// does; false when a character has no form in the locale. For texts whose rules follow the
// locale, never for paths. With maxBytes, the conversion stops before a character that would
// pass that many bytes, so that a character of several bytes can shorten the result.
bool WideToLocale(const std::wstring& wide, std::string& narrow,
                  std::size_t maxBytes = std::string::npos);

}  // namespace platform
