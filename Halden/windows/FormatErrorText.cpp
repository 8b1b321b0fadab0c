#include "Halden/windows/FormatErrorText.h"

#include <sstream>

std::string FormatErrorText(const char* file, int line, const char* text) {
    std::ostringstream out;
    out << (text ? text : "") << "; File: " << (file ? file : "") << "; Line: " << line;
    return out.str();
}
