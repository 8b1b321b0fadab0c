#include "Common/Headers/PrinterDescription.h"

#include "Halden/TSException.h"

PrinterDescription::PrinterDescription() : PrinterDescription(0xFFFFFFFFu, 0xFFFFFFFFu) {}

PrinterDescription::PrinterDescription(std::uint32_t vendorId, std::uint32_t productId)
    : vendorId(vendorId), productId(productId) {}

HeadDefinition PrinterDescription::GetHead(const std::string& headId) const {
    const auto found = heads.find(headId);
    if (found == heads.end()) {
        throw Halden::TSException("Can't find head: " + headId, "", 0);
    }
    return found->second;
}

HeadDefinition PrinterDescription::GetDefaultHead() const {
    const auto found = heads.find(defaultHead);
    if (found == heads.end()) {
        throw Halden::TSException("Can't find default head", "", 0);
    }
    return found->second;
}
