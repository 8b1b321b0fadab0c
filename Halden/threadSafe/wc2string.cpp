#include "Halden/threadSafe/wc2string.h"

#include <cwchar>
#include <limits>

#include "Halden/TSException.h"
#include "platform/ModulePath.h"

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
    // At most length bytes: a character of several bytes can shorten the result.
    std::string narrow;
    if (!platform::WideToLocale(std::wstring(source, static_cast<std::size_t>(length)), narrow,
                                static_cast<std::size_t>(length))) {
        throw Halden::TSException(
            "Wide character string conversion failed: did you forget to set the locale?",
            kSourceFile, __LINE__);
    }
    return narrow;
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
