#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Common/Headers/ConnectionType.h"
#include "Common/Headers/DonorMediaMapping.h"
#include "Common/Headers/FirmwareNameSpec.h"
#include "Common/Headers/HeadDefinition.h"
#include "Common/Headers/LutModule.h"
#include "Common/Headers/NetworkConnection.h"
#include "Common/Headers/PaperConfiguration.h"
#include "Common/Headers/USBConnection.h"

// Everything the description file says about one printer model. A plain value: copies are deep
// except for the connection objects, which copies share (see ConnectionType). No locks: one
// thread at a time may use a given instance.
class PrinterDescription {
public:
    // Both ids with all bits set.
    PrinterDescription();
    PrinterDescription(std::uint32_t vendorId, std::uint32_t productId);

    // A copy of the head with exactly this id (case-sensitive). Throws Halden::TSException
    // "Can't find head: <id>" when there is none.
    HeadDefinition GetHead(const std::string& headId) const;
    // A copy of the head whose id equals defaultHead. Throws Halden::TSException
    // "Can't find default head" when there is none.
    HeadDefinition GetDefaultHead() const;

    std::uint32_t vendorId;
    std::uint32_t productId;
    std::string productName = "Unknown";
    std::string longName = "Unknown";
    std::string shortName = "Unknown";
    std::int32_t productNameResourceId = -1;
    std::int32_t longNameResourceId = -1;
    std::int32_t shortNameResourceId = -1;
    // Tri-states: -1 not stated, 0 false, 1 true.
    std::int32_t mediaRemaining = -1;
    std::int32_t dragAndDrop = -1;
    std::int32_t firmwareCrcVerify = -1;  // only 1 turns the firmware CRC check on
    std::string icon;
    std::int32_t rotate = 0;
    std::map<std::string, std::int32_t> lutNames;
    std::string defaultLut;
    std::string defaultHead;
    std::map<std::string, HeadDefinition> heads;
    PaperConfigurationSet papers;
    std::map<std::int32_t, DonorMediaMapping> donorMediaMappings;
    std::map<std::string, std::int32_t> mediaCapacities;
    // std::multimap keeps equal keys in insertion order.
    std::multimap<std::string, std::int32_t> paperIdsByReportedSize;
    std::map<std::int32_t, std::int32_t> sendToPrinterAs;
    bool stripVersionBytes = false;
    std::vector<boost::shared_ptr<const ConnectionType>> connections;
    bool requiresReboot = true;
    std::map<std::string, std::string> customProperties;
};
