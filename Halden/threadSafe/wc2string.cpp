#include "Halden/threadSafe/wc2string.h"

#include <cwchar>
#include <limits>
#include <vector>

#include "Halden/TSException.h"

namespace {
const char* const kSourceFile = "Halden/threadSafe/wc2string";
}

std::string wc2string(const wchar_t* source, std::int32_t length) {
    if (length < 0 || (source == nullptr && length > 0)) {
        throw Halden::TSException("Invalid parameters specified for wide character conversion",
                                  kSourceFile, __LINE__);
    }
    if (source == nullptr || length == 0) {
        return std::string();
    }
    const std::size_t limit = static_cast<std::size_t>(length);
    std::vector<char> buffer(2 * limit + 2, '\0');
    // wcsrtombs with a state of our own: wcstombs may share hidden state between threads.
    std::mbstate_t state{};
    const wchar_t* cursor = source;
    const std::size_t converted = std::wcsrtombs(buffer.data(), &cursor, limit, &state);
    if (converted == static_cast<std::size_t>(-1)) {
        throw Halden::TSException(
            "Wide character string conversion failed: did you forget to set the locale?",
            kSourceFile, __LINE__);
    }
    return std::string(buffer.data(), converted);
}

std::string wc2string(const wchar_t* source) {
    if (source == nullptr) {
        return wc2string(nullptr, 0);
    }
    const std::size_t length = std::wcslen(source);
    if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return wc2string(source, -1);
    }
    return wc2string(source, static_cast<std::int32_t>(length));
}
