#include "platform/AsciiFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "platform/ModulePath.h"

namespace platform {
namespace {

bool IsAscii(const std::wstring& text) {
    for (const wchar_t c : text) {
        if (static_cast<std::uint32_t>(c) > 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

AsciiFolder::AsciiFolder(const std::wstring& folder) : path_(folder) {
    std::string narrow;
    if (IsAscii(folder) || !WideToNarrow(folder, narrow)) {
        return;
    }
    descriptor_ = ::open(narrow.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (descriptor_ < 0) {
        return;
    }
    path_ = L"/proc/self/fd/" + std::to_wstring(descriptor_);
    if (!folder.empty() && folder.back() == L'/') {
        path_ += L'/';
    }
}

AsciiFolder::~AsciiFolder() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

}  // namespace platform
