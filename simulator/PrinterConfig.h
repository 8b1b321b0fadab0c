#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace simulator {

// The ways a simulated printer can misbehave. Scenario names in comments.
enum class FaultKind {
    kNoAck,            // "no-ack": a stage is never acknowledged (busy, then idle)
    kWrongStage,       // "wrong-stage": a stage is acknowledged with another stage number
    kIdleOnly,         // "idle-only": every status read answers idle (-253)
    kBusyForever,      // "busy-forever": every status read answers busy (-252)
    kStatusReadError,  // "status-read-error": status reads fail after a number of good ones
    kWriteError,       // "write-error": the write of a command, or of a data chunk, fails
    kShortWrite,       // "short-write": a data chunk is accepted only in part
    kDisconnect,       // "disconnect": the device vanishes at a data byte
    kStallRead,        // "stall-read": a status read blocks for a while before it answers
    kNoDeviceId,       // "no-device-id": the device-ID query fails
    kHeld,             // "held": another program holds the device
};

// One scripted fault. Only the fields its kind names are used; the others keep their defaults.
struct Fault {
    FaultKind kind = FaultKind::kNoAck;
    // no-ack, wrong-stage: the stage (1, 2 or 255) concerned; 0 means every stage.
    int stage = 0;
    // wrong-stage: the stage number reported instead; -1 picks one that differs (2 for stage 1,
    // otherwise 1).
    int reportedStage = -1;
    // write-error: the command whose first write fails ("StartCommand", "ImageInfoCommand",
    // "DataHeaderCommand", "EndCommand"); empty when the fault is at a data byte.
    std::string command;
    // write-error, short-write, disconnect: offset (0-based, counted over all data bytes the
    // printer has received) of the data byte whose write is hit. A short write accepts only the
    // bytes of its chunk before this offset. -1: not set.
    std::int64_t atDataByte = -1;
    // status-read-error: number of status reads that still succeed.
    std::uint32_t afterReads = 0;
    // stall-read: the status read (1-based count) that blocks, and for how long.
    std::uint32_t atRead = 1;
    std::uint32_t ms = 0;
    // write-error, status-read-error, no-device-id: the errno of the failing call ("errno").
    int error = EIO;
};

// How the driver's 2-byte length prefix before the device ID is ordered.
enum class LengthPrefix { kBig, kLittle };

// One printer's settings, as a scenario entry gives them.
struct PrinterConfig {
    // The IEEE-1284 device ID, byte for byte (may be empty; at most kMaxDeviceIdLength bytes).
    std::string deviceId;
    std::uint16_t idVendor = 0x1209;
    std::uint16_t idProduct = 0x0001;
    std::string serial;  // empty: the host numbers it ("SIM0001", ...)
    // Busy answers (-252) before each acknowledgement.
    std::uint32_t busyPolls = 0;
    LengthPrefix lengthPrefix = LengthPrefix::kBig;
    std::vector<Fault> faults;
};

// The longest device ID the driver can pass on: 1,024 bytes of answer less the 2-byte prefix.
constexpr std::size_t kMaxDeviceIdLength = 1022;

// Scenario names of the fault kinds ("no-ack", ...).
const char* FaultKindName(FaultKind kind);

// Parses a scenario, {"printers": [{"deviceId": ..., ...}]}. On success out holds one config per
// printer and the result is true; otherwise error says what is wrong (with the printer's index)
// and out is left as it was. Unknown keys are refused so that a misspelt fault is not silently
// ignored.
bool ParseScenario(const std::string& jsonText, std::vector<PrinterConfig>& out,
                   std::string& error);

// Whether a device ID given on its own (e.g. on a command line) can be used; error says why not.
bool ValidateDeviceId(const std::string& deviceId, std::string& error);

}  // namespace simulator
