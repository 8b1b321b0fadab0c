#include "platform/ModulePath.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace platform {

bool WideToNarrow(const std::wstring& wide, std::string& narrow) {
    std::mbstate_t state{};
    const wchar_t* src = wide.c_str();
    const std::size_t length = std::wcsrtombs(nullptr, &src, 0, &state);
    if (length == static_cast<std::size_t>(-1)) {
        return false;
    }
    std::vector<char> buffer(length + 1);
    src = wide.c_str();
    state = std::mbstate_t{};
    std::wcsrtombs(buffer.data(), &src, buffer.size(), &state);
    narrow.assign(buffer.data(), length);
    return true;
}

bool NarrowToWide(const std::string& narrow, std::wstring& wide) {
    std::mbstate_t state{};
    const char* src = narrow.c_str();
    const std::size_t length = std::mbsrtowcs(nullptr, &src, 0, &state);
    if (length == static_cast<std::size_t>(-1)) {
        return false;
    }
    std::vector<wchar_t> buffer(length + 1);
    src = narrow.c_str();
    state = std::mbstate_t{};
    std::mbsrtowcs(buffer.data(), &src, buffer.size(), &state);
    wide.assign(buffer.data(), length);
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
