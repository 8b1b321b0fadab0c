#include "Halden/TSException.h"

namespace Halden {

TSException::TSException(const std::string& message, const std::string& file, int line)
    : message_(message), file_(file), line_(line) {}

TSException::~TSException() = default;

const char* TSException::what() const noexcept {
    return message_.c_str();
}

}  // namespace Halden
