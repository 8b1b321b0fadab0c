#pragma once

#include <cstdint>
#include <ostream>

#include "Common/Headers/ConnectionType.h"

class NetworkConnection : public ConnectionType {
public:
    // discoveryProtocol values.
    static constexpr std::int32_t kDiscoveryRendezvous = 1;
    static constexpr std::int32_t kDiscoveryUdpFn = 2;

    explicit NetworkConnection(std::int32_t outputFormat = 0, std::int32_t discoveryProtocol = 0);

    // "NetworkConnection: { outputFormat = N, discoveryProtocol = M }"
    std::ostream& Print(std::ostream& out) const override;

    std::int32_t discoveryProtocol;
};
