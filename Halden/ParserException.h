#pragma once

#include "Halden/TSException.h"

namespace Halden {

// Missing or invalid content in a description file. The extra code is always -1 and is read
// by nothing; it is kept so the exception carries the same fields wherever it is raised.
class ParserException : public TSException {
public:
    ParserException(const std::string& message, const std::string& file, int line, int code = -1)
        : TSException(message, file, line), code_(code) {}

    int code() const { return code_; }

private:
    int code_;
};

}  // namespace Halden
