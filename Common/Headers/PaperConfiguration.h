#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

// Sizes and offsets a paper configuration can carry, with their units.
enum class PaperAttributeKey : std::int32_t {
    kWidthInches = 0,
    kHeightInches = 1,
    kWidthPixels = 2,
    kHeightPixels = 3,
    kWidthMmTenths = 4,
    kHeightMmTenths = 5,
    kTopOffsetPoints = 6,
    kBottomOffsetPoints = 7,
    kLeftOffsetPoints = 8,
    kRightOffsetPoints = 9,
};

struct PaperConfiguration {
    std::int32_t id = 0;
    std::string name;
    std::int32_t resourceId = -1;
    std::map<PaperAttributeKey, float> attributes;
};

// Orders paper configurations by id alone, so a set of them holds at most one paper per id.
// Transparent: a set can be searched by the id itself (papers.find(id)).
struct PaperConfigurationIdLess {
    using is_transparent = void;

    bool operator()(const PaperConfiguration& a, const PaperConfiguration& b) const {
        return a.id < b.id;
    }
    bool operator()(const PaperConfiguration& a, std::int32_t id) const { return a.id < id; }
    bool operator()(std::int32_t id, const PaperConfiguration& b) const { return id < b.id; }
};

using PaperConfigurationSet = std::set<PaperConfiguration, PaperConfigurationIdLess>;
