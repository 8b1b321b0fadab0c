#pragma once

#include <string>
#include <utility>

#include "Halden/xerces-xmlparser/XMLTextState.h"

namespace Halden {

// At the end tag, replaces *target with the collected text (empty content included). The
// target belongs to the creator and must outlive the state.
class XMLStringSetState : public XMLTextState {
public:
    explicit XMLStringSetState(std::string* target) : target_(target) {}

    void finish() override {
        *target_ = std::move(text());
        delete this;
    }

private:
    std::string* target_;
};

}  // namespace Halden
