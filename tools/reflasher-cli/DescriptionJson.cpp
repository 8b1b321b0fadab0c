#include "tools/reflasher-cli/DescriptionJson.h"

#include <sstream>

namespace {

nlohmann::json HeadToJson(const HeadDefinition& head) {
    nlohmann::json modules = nlohmann::json::array();
    for (const LutModule& module : head.lutModules) {
        modules.push_back({{"lutRef", module.lutRef},
                           {"name", module.name},
                           {"donor", module.donor},
                           {"media", module.media}});
    }
    nlohmann::json specs = nlohmann::json::array();
    for (const FirmwareNameSpec& spec : head.firmwareNameSpecs) {
        specs.push_back({{"prefix", spec.prefix},
                         {"extension", spec.extension},
                         {"versionFormat", spec.versionFormat}});
    }
    return {{"id", head.id}, {"lutModules", modules}, {"firmwareNameSpecs", specs}};
}

nlohmann::json PaperToJson(const PaperConfiguration& paper) {
    nlohmann::json attributes = nlohmann::json::object();
    for (const auto& [key, value] : paper.attributes) {
        attributes[std::to_string(static_cast<std::int32_t>(key))] = value;
    }
    return {{"id", paper.id},
            {"name", paper.name},
            {"resourceId", paper.resourceId},
            {"attributes", attributes}};
}

nlohmann::json ConnectionToJson(const ConnectionType& connection) {
    std::ostringstream printed;
    connection.Print(printed);
    nlohmann::json result = nlohmann::json::object();
    const auto* network = dynamic_cast<const NetworkConnection*>(&connection);
    result["kind"] = network != nullptr ? "network" : "usb";
    result["outputFormat"] = connection.outputFormat;
    if (network != nullptr) {
        result["discoveryProtocol"] = network->discoveryProtocol;
    }
    result["printed"] = printed.str();
    return result;
}

template <typename Map>
nlohmann::json IntegerKeyed(const Map& map) {
    nlohmann::json result = nlohmann::json::object();
    for (const auto& [key, value] : map) {
        result[std::to_string(key)] = value;
    }
    return result;
}

}  // namespace

nlohmann::json DescriptionToJson(const PrinterDescription& record) {
    nlohmann::json heads = nlohmann::json::object();
    for (const auto& [id, head] : record.heads) {
        heads[id] = HeadToJson(head);
    }
    nlohmann::json papers = nlohmann::json::array();
    for (const PaperConfiguration& paper : record.papers) {
        papers.push_back(PaperToJson(paper));
    }
    nlohmann::json donorMedia = nlohmann::json::object();
    for (const auto& [idCode, mapping] : record.donorMediaMappings) {
        donorMedia[std::to_string(idCode)] = {{"donor", mapping.donor}, {"media", mapping.media}};
    }
    nlohmann::json reportedSizes = nlohmann::json::array();
    for (const auto& [reported, paperId] : record.paperIdsByReportedSize) {
        reportedSizes.push_back(nlohmann::json::array({reported, paperId}));
    }
    nlohmann::json connections = nlohmann::json::array();
    for (const auto& connection : record.connections) {
        if (connection) {
            connections.push_back(ConnectionToJson(*connection));
        }
    }
    nlohmann::json result = nlohmann::json::object();
    result["vendorId"] = record.vendorId;
    result["productId"] = record.productId;
    result["productName"] = record.productName;
    result["longName"] = record.longName;
    result["shortName"] = record.shortName;
    result["productNameResourceId"] = record.productNameResourceId;
    result["longNameResourceId"] = record.longNameResourceId;
    result["shortNameResourceId"] = record.shortNameResourceId;
    result["mediaRemaining"] = record.mediaRemaining;
    result["dragAndDrop"] = record.dragAndDrop;
    result["firmwareCrcVerify"] = record.firmwareCrcVerify;
    result["icon"] = record.icon;
    result["rotate"] = record.rotate;
    result["lutNames"] = record.lutNames;
    result["defaultLut"] = record.defaultLut;
    result["defaultHead"] = record.defaultHead;
    result["heads"] = heads;
    result["papers"] = papers;
    result["donorMediaMappings"] = donorMedia;
    result["mediaCapacities"] = record.mediaCapacities;
    result["paperIdsByReportedSize"] = reportedSizes;
    result["sendToPrinterAs"] = IntegerKeyed(record.sendToPrinterAs);
    result["stripVersionBytes"] = record.stripVersionBytes;
    result["connections"] = connections;
    result["requiresReboot"] = record.requiresReboot;
    result["customProperties"] = record.customProperties;
    return result;
}

std::string DumpJson(const nlohmann::json& document) {
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
