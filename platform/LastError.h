#pragma once

#include <cstdint>

// The thread's last error, as the application and device layers report it beside a false
// result. Each thread has its own value; failed OS calls store errno.
namespace platform {

constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorInvalidParameter = 87;

void SetLastError(std::uint32_t code);
std::uint32_t GetLastError();
// Stores the current errno as the last error.
void SetLastErrorFromErrno();

}  // namespace platform
