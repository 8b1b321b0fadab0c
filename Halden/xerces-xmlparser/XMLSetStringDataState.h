#pragma once

#include <string>

#include "Halden/xerces-xmlparser/XMLTextState.h"

namespace Halden {

// At the end tag, hands the collected text to a member function of its owner. When the setter
// throws, the state stays alive on the driver's stack and is released by the abort that the
// failed parse sends it. The owner belongs to the creator and must outlive the state.
template <typename Owner>
class XMLSetStringDataState : public XMLTextState {
public:
    using Setter = void (Owner::*)(const std::string&);

    XMLSetStringDataState(Owner* owner, Setter setter) : owner_(owner), setter_(setter) {}

    void finish() override {
        (owner_->*setter_)(text());
        delete this;
    }

private:
    Owner* owner_;
    Setter setter_;
};

}  // namespace Halden
