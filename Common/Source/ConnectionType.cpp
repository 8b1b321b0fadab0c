#include "Common/Headers/ConnectionType.h"

#include "Common/Headers/NetworkConnection.h"
#include "Common/Headers/USBConnection.h"

ConnectionType::ConnectionType(std::int32_t outputFormat, std::int32_t kind)
    : outputFormat(outputFormat), kind(kind) {}

ConnectionType::~ConnectionType() = default;

std::ostream& operator<<(std::ostream& out, const ConnectionType& connection) {
    return connection.Print(out);
}

USBConnection::USBConnection(std::int32_t outputFormat) : ConnectionType(outputFormat, kKindUsb) {}

std::ostream& USBConnection::Print(std::ostream& out) const {
    return out << "USBConnection: { outputFormat = " << outputFormat << " }";
}

NetworkConnection::NetworkConnection(std::int32_t outputFormat, std::int32_t discoveryProtocol)
    : ConnectionType(outputFormat, kKindNetwork), discoveryProtocol(discoveryProtocol) {}

std::ostream& NetworkConnection::Print(std::ostream& out) const {
    return out << "NetworkConnection: { outputFormat = " << outputFormat
               << ", discoveryProtocol = " << discoveryProtocol << " }";
}
