#pragma once

#include <string>

#include "Halden/xerces-xmlparser/XMLStateSelfDestruct.h"

// Base of the structural states of the description files: elements that hold only child
// elements. Character data directly inside them is dropped without complaint.
class SelkaNoTextSD : public Halden::XMLStateSelfDestruct {
public:
    void addText(const std::string&) override {}
};
