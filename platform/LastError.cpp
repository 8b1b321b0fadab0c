#include "platform/LastError.h"

#include <cerrno>

namespace platform {
namespace {
thread_local std::uint32_t lastError = kErrorSuccess;
}

void SetLastError(std::uint32_t code) {
    lastError = code;
}

std::uint32_t GetLastError() {
    return lastError;
}

void SetLastErrorFromErrno() {
    lastError = static_cast<std::uint32_t>(errno);
}

}  // namespace platform
