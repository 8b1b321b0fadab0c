#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The one integer parser of the updater, its tools and the simulator.
// strtol in the given base (0: "0x" hexadecimal, leading 0 octal, else decimal; leading
// whitespace and a sign allowed; conversion stops at the first character that does not fit),
// with results outside the signed 32-bit range clamped to the nearest limit.
std::int32_t ConvertIntegerText(const std::string& text, int base = 0);

// As ConvertIntegerText, but accepted only when at least one character was consumed (the
// integer text rule of the description files). Trailing characters are ignored. On false,
// value is left alone.
bool ParseIntegerText(const std::string& text, std::int32_t& value, int base = 0);

// The other integer rule of the description files (resource ids): what formatted extraction of a
// decimal int from a string stream in the classic locale accepts. Leading whitespace skipped,
// an optional sign, at least one digit, trailing characters ignored, values out of range
// rejected (ParseIntegerText clamps them, and reads hexadecimal and octal). On false, value is
// left alone.
bool ParseStreamInteger(const std::string& text, std::int32_t& value);

}  // namespace platform
