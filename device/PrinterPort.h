#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DeviceConnection.h"

// The open device of one USB printer. It moves bytes and knows nothing of the printer's
// protocol. Every call blocks until the driver completes it; there are no time-outs. Failures
// return false and never throw: null arguments set the last error to 87, a closed port EBADF,
// failed device calls their errno. One thread at a time uses a given port.
class PrinterPort {
public:
    PrinterPort();
    ~PrinterPort();  // closes the device if open
    PrinterPort(const PrinterPort&) = delete;
    PrinterPort& operator=(const PrinterPort&) = delete;

    // Opens the device for reading and writing, not shared: a device held by another
    // descriptor cannot be opened. Called once in a port's life.
    bool Open(const wchar_t* devicePath);
    // length: in, the count asked for; out, the count actually moved (0 is possible and still
    // true; a short write is true too). Left untouched when the buffer is null or the port
    // is closed.
    bool Read(void* buffer, std::uint32_t& length);
    bool Write(const void* buffer, std::uint32_t& length);
    // The IEEE-1284 device ID up to its first NUL. False, leaving text as it was, when the
    // port is closed, the request fails or the printer returns no bytes (ENODATA).
    bool QueryDeviceId(std::string& text);

private:
    std::unique_ptr<platform::DeviceConnection> connection_;
};
