#include "platform/IntegerText.h"

#include <cstdlib>
#include <limits>

namespace platform {

namespace {

std::int32_t Convert(const std::string& text, int base, const char** end) {
    // Most values in the files are a few decimal digits, which strtol would read the same way;
    // they are converted here without its locale-aware setup.
    const char* c = text.c_str();
    if ((base == 0 || base == 10) && *c >= '1' && *c <= '9') {
        std::int32_t value = 0;
        int digits = 0;
        for (; *c >= '0' && *c <= '9' && digits < 9; ++c, ++digits) {
            value = value * 10 + (*c - '0');
        }
        if (!(*c >= '0' && *c <= '9')) {
            *end = c;
            return value;
        }
    }
    char* stop = nullptr;
    const long value = std::strtol(text.c_str(), &stop, base);
    *end = stop;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t ConvertIntegerText(const std::string& text, int base) {
    const char* end = nullptr;
    return Convert(text, base, &end);
}

bool ParseIntegerText(const std::string& text, std::int32_t& value, int base) {
    const char* end = nullptr;
    const std::int32_t converted = Convert(text, base, &end);
    const char* begin = text.c_str();
    if (end <= begin || end > begin + text.size()) {
        return false;
    }
    value = converted;
    return true;
}

// Written out because a stream per attribute dominated the description load; unlike strtol it
// does not depend on the user's locale.
bool ParseStreamInteger(const std::string& text, std::int32_t& value) {
    const char* c = text.c_str();
    while (*c == ' ' || *c == '\t' || *c == '\n' || *c == '\v' || *c == '\f' || *c == '\r') {
        ++c;
    }
    const bool negative = *c == '-';
    if (*c == '-' || *c == '+') {
        ++c;
    }
    if (*c < '0' || *c > '9') {
        return false;
    }
    // Accumulated as a magnitude up to 2^31, the largest one a negative value may have.
    const std::uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    std::uint32_t magnitude = 0;
    for (; *c >= '0' && *c <= '9'; ++c) {
        const std::uint32_t digit = static_cast<std::uint32_t>(*c - '0');
        if (magnitude > (limit - digit) / 10) {
            return false;
        }
        magnitude = magnitude * 10 + digit;
    }
    value =
        negative ? static_cast<std::int32_t>(0u - magnitude) : static_cast<std::int32_t>(magnitude);
    return true;
}

}  // namespace platform
