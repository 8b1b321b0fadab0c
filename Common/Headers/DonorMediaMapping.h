#pragma once

#include <cstdint>

struct DonorMediaMapping {
    std::int32_t donor = -1;
    std::int32_t media = -1;
};
