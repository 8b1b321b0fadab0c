#pragma once

#include <cstdint>
#include <string>

// One rule for the names of a head's firmware files: the name starts with prefix and ends with
// "." + extension, both compared without regard to letter case.
struct FirmwareNameSpec {
    std::string prefix;
    std::string extension;
    std::int32_t versionFormat = 1;  // kept as loaded; nothing reads it
};
