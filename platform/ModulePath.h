#pragma once

#include <string>

namespace platform {

// Full path of the running program (/proc/self/exe), in wide characters under the current
// locale; empty when it cannot be read.
std::wstring GetModuleFileName();

// The program's folder with a trailing '/'; empty when the path cannot be read.
std::wstring GetModuleDirectory();

// Wide <-> UTF-8/locale conversions for paths handed to POSIX calls. They return false when
// the text cannot be converted.
bool WideToNarrow(const std::wstring& wide, std::string& narrow);
bool NarrowToWide(const std::string& narrow, std::wstring& wide);

}  // namespace platform
