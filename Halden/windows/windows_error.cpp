#include "Halden/windows/windows_error.h"

#include "platform/LastError.h"

windows_error::windows_error(const std::string& message)
    : std::logic_error(message),
      fullText_(message + " (Windows error code: " + std::to_string(platform::GetLastError()) +
                " )") {}

windows_error::~windows_error() = default;

const char* windows_error::what() const noexcept {
    return fullText_.c_str();
}
