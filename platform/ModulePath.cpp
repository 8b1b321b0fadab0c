#include "platform/ModulePath.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cwchar>
#include <vector>

namespace platform {

namespace {

constexpr std::uint32_t kEscapedByteBase = 0xDC00;  // + the byte, 0x80..0xFF

bool IsSurrogate(std::uint32_t codePoint) {
    return codePoint >= 0xD800 && codePoint <= 0xDFFF;
}

// The code point of a well-formed UTF-8 sequence at bytes[0..size), and its length; 0 when
// the bytes there do not start one (overlong forms and encoded surrogates included).
std::size_t DecodeUtf8(const unsigned char* bytes, std::size_t size, std::uint32_t& codePoint) {
    const unsigned char lead = bytes[0];
    const std::size_t length = (lead & 0xE0) == 0xC0   ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (length == 0 || length > size) {
        return 0;
    }
    static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const std::uint32_t smallest = kSmallest[length];
    codePoint = lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (bytes[i] & 0x3Fu);
    }
    return codePoint < smallest || codePoint > 0x10FFFF || IsSurrogate(codePoint) ? 0 : length;
}

}  // namespace

bool WideToNarrow(const std::wstring& wide, std::string& narrow) {
    std::string result;
    result.reserve(wide.size());
    for (const wchar_t c : wide) {
        const auto codePoint = static_cast<std::uint32_t>(c);
        if (codePoint == 0) {
            return false;
        }
        if (codePoint < 0x80) {
            result += static_cast<char>(codePoint);
        } else if (codePoint >= kEscapedByteBase + 0x80 && codePoint <= kEscapedByteBase + 0xFF) {
            result += static_cast<char>(codePoint - kEscapedByteBase);
        } else if (IsSurrogate(codePoint) || codePoint > 0x10FFFF) {
            return false;
        } else if (codePoint < 0x800) {
            result += static_cast<char>(0xC0 | (codePoint >> 6));
            result += static_cast<char>(0x80 | (codePoint & 0x3F));
        } else if (codePoint < 0x10000) {
            result += static_cast<char>(0xE0 | (codePoint >> 12));
            result += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (codePoint & 0x3F));
        } else {
            result += static_cast<char>(0xF0 | (codePoint >> 18));
            result += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
            result += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (codePoint & 0x3F));
        }
    }
    narrow = std::move(result);
    return true;
}

bool NarrowToWide(const std::string& narrow, std::wstring& wide) {
    std::wstring result;
    result.reserve(narrow.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(narrow.data());
    for (std::size_t i = 0; i < narrow.size();) {
        if (bytes[i] == 0) {
            return false;
        }
        std::uint32_t codePoint = bytes[i];
        const std::size_t length =
            codePoint < 0x80 ? 1 : DecodeUtf8(bytes + i, narrow.size() - i, codePoint);
        if (length == 0) {
            result += static_cast<wchar_t>(kEscapedByteBase + bytes[i]);
            ++i;
        } else {
            result += static_cast<wchar_t>(codePoint);
            i += length;
        }
    }
    wide = std::move(result);
    return true;
}

bool WideToLocale(const std::wstring& wide, std::string& narrow, std::size_t maxBytes) {
    std::mbstate_t state{};
    const wchar_t* src = wide.c_str();
    std::size_t length = maxBytes;
    if (maxBytes == std::string::npos) {
        length = std::wcsrtombs(nullptr, &src, 0, &state);
        if (length == static_cast<std::size_t>(-1)) {
            return false;
        }
        src = wide.c_str();
        state = std::mbstate_t{};
    }
    std::vector<char> buffer(length + 1);
    const std::size_t converted = std::wcsrtombs(buffer.data(), &src, length, &state);
    if (converted == static_cast<std::size_t>(-1)) {
        return false;
    }
    narrow.assign(buffer.data(), converted);
    return true;
}

std::wstring GetModuleFileName() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return {};
    }
    std::wstring wide;
    if (!NarrowToWide(std::string(buffer.data(), static_cast<std::size_t>(length)), wide)) {
        return {};
    }
    return wide;
}

std::wstring GetModuleDirectory() {
    const std::wstring path = GetModuleFileName();
    const std::size_t slash = path.rfind(L'/');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace platform
