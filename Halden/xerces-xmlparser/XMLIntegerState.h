#pragma once

#include "Halden/xerces-xmlparser/XMLTextState.h"

namespace Halden {

// A text state whose content is an integer; the subclass converts it in its own finish.
template <typename Integer>
class XMLIntegerState : public XMLTextState {};

}  // namespace Halden
