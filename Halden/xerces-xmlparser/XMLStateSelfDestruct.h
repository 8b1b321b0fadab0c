#pragma once

#include "Halden/xerces-xmlparser/XercesXMLParsingState.h"

namespace Halden {

// A state that deletes itself when its element ends or the parse is abandoned. The base is
// virtual so that the driver's stack can hold the XercesXMLParsingState part of any state.
class XMLStateSelfDestruct : public virtual XercesXMLParsingState {
public:
    void finish() override { delete this; }
    void abort() override { delete this; }
};

}  // namespace Halden
