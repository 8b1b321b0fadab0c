#pragma once

#include "Halden/xerces-xmlparser/XMLTextState.h"

namespace Halden {

// A text state whose content is a floating-point number; the subclass converts it in its own
// finish.
class XMLFloatState : public XMLTextState {};

}  // namespace Halden
