#pragma once

#include "Halden/xerces-xmlparser/XMLTextState.h"
#include "platform/IntegerText.h"

namespace Halden {

// At the end tag, stores ConvertIntegerText of the collected text into *target without any
// validation (text without a number stores 0). The target belongs to the creator.
template <typename Integer>
class XMLIntegerSetState : public XMLTextState {
public:
    explicit XMLIntegerSetState(Integer* target) : target_(target) {}

    void finish() override {
        *target_ = static_cast<Integer>(platform::ConvertIntegerText(text()));
        delete this;
    }

private:
    Integer* target_;
};

}  // namespace Halden
