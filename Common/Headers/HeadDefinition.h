#pragma once

#include <string>
#include <vector>

#include "Common/Headers/FirmwareNameSpec.h"
#include "Common/Headers/LutModule.h"

// One print head of a printer model; both lists are in document order.
struct HeadDefinition {
    std::string id;
    std::vector<LutModule> lutModules;
    std::vector<FirmwareNameSpec> firmwareNameSpecs;
};
