#pragma once

#include <string>

// text + "; File: " + file + "; Line: " + line; the message of every exception that the
// thread and event wrappers throw.
std::string FormatErrorText(const char* file, int line, const char* text);
