#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The open device of one USB printer, through either transport (see PrinterTransport.h). Every
// call blocks until the device completes it; there are no time-outs. Failures return false with
// the last error set to the errno of what failed (ENODEV once the printer has gone). One thread at
// a time uses a connection; closing it (destruction) gives the device back as it was found.
class DeviceConnection {
public:
    virtual ~DeviceConnection() = default;

    // length: in, the count asked for; out, the count moved. A short transfer is a success.
    virtual bool Read(void* buffer, std::uint32_t& length) = 0;
    virtual bool Write(const void* buffer, std::uint32_t& length) = 0;
    // The IEEE-1284 device ID without its 2-byte length prefix, NULs included. ENODATA, leaving
    // bytes as they were, when no byte of ID arrives.
    virtual bool QueryDeviceId(std::string& bytes) = 0;

    // Opens the device at path for this caller alone; the path's form chooses the transport.
    // Null, with the last error set, when it cannot be opened (EBUSY or EWOULDBLOCK: another
    // program holds it).
    static std::unique_ptr<DeviceConnection> Open(const wchar_t* path);
};

}  // namespace platform
