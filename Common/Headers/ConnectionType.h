#pragma once

#include <cstdint>
#include <ostream>

// A way a printer model can be reached. Instances are immutable once built and are shared
// between copies of a description through boost::shared_ptr (atomic counts), so copies may
// live and die on different threads.
class ConnectionType {
public:
    // outputFormat values.
    static constexpr std::int32_t kFormatCmyCmdPlanar = 1;
    static constexpr std::int32_t kFormatJpeg = 2;
    // kind values.
    static constexpr std::int32_t kKindUsb = 0;
    static constexpr std::int32_t kKindNetwork = 1;

    virtual ~ConnectionType();

    // Writes the printable form and returns the stream.
    virtual std::ostream& Print(std::ostream& out) const = 0;

    std::int32_t outputFormat;
    std::int32_t kind;

protected:
    ConnectionType(std::int32_t outputFormat, std::int32_t kind);
    ConnectionType(const ConnectionType&) = default;
    ConnectionType& operator=(const ConnectionType&) = default;
};

std::ostream& operator<<(std::ostream& out, const ConnectionType& connection);
