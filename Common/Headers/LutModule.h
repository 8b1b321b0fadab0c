#pragma once

#include <cstdint>
#include <string>

// One LUT module of a print head.
struct LutModule {
    std::string lutRef;
    std::string name;
    std::int32_t donor = -1;  // -1: not given
    std::int32_t media = -1;  // -1: not given
};
