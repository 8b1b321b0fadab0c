#pragma once

#include "Halden/TSException.h"

namespace Halden {

class TSRuntimeError : public TSException {
public:
    using TSException::TSException;
};

}  // namespace Halden
