#include "device/IdentifiedPrinter.h"

#include <cwchar>
#include <new>

#include "platform/LastError.h"

IdentifiedPrinter::~IdentifiedPrinter() {
    delete[] devicePath;
}

bool IdentifiedPrinter::SetDevicePath(const wchar_t* path) {
    if (path == nullptr) {
        platform::SetLastError(platform::kErrorInvalidParameter);
        return false;
    }
    const std::size_t length = std::wcslen(path);
    wchar_t* copy = new (std::nothrow) wchar_t[length + 1];
    if (copy == nullptr) {
        return false;
    }
    std::wmemcpy(copy, path, length + 1);
    delete[] devicePath;
    devicePath = copy;
    return true;
}
