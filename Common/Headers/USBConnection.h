#pragma once

#include <cstdint>
#include <ostream>

#include "Common/Headers/ConnectionType.h"

class USBConnection : public ConnectionType {
public:
    explicit USBConnection(std::int32_t outputFormat = 0);

    // "USBConnection: { outputFormat = N }"
    std::ostream& Print(std::ostream& out) const override;
};
