#pragma once

#include <cerrno>
#include <cstddef>
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
    kStallWrite,       // "stall-write": the printer stops taking data at a data byte
    kShortRecord,      // "short-record": one IN transfer brings less than a status record
    kDoubleRecord,     // "double-record": one IN transfer brings two status records
    kZeroLengthRead,   // "zero-length-read": one IN transfer is a zero-length packet
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
    // status-read-error: number of IN transfers that still succeed.
    std::uint32_t afterReads = 0;
    // stall-read, short-record, double-record, zero-length-read: the IN transfer (1-based count
    // of the printer's answers) that is hit; stall-read: for how long its answer is held back.
    std::uint32_t atRead = 1;
    std::uint32_t ms = 0;
    // short-record: the bytes of the record that arrive (0-11).
    std::uint32_t bytes = 6;
    // stall-write: the printer is unplugged this long after it stopped taking data; 0: never
    // (the write stays blocked until the printer is removed).
    std::uint32_t unplugAfterMs = 0;
    // write-error, status-read-error, no-device-id: the errno of the failing call ("errno").
    int error = EIO;
};

// How the printer writes the 2-byte length before its device ID: big-endian (as the standard
// says), little-endian (as some printers do), or a fixed value (written big-endian).
enum class LengthPrefix { kBig, kLittle, kFixed };

// When the printer answers a bulk-IN transfer: at once with its current status record, or only
// once it has news (a command arrived, or it is busy and counting down to an answer).
enum class Answers { kAtOnce, kOnNews };

// What a printer that restarts after a flash comes back with.
enum class AfterRestart { kNewVersion, kOldVersion, kGone };

// One printer's settings, as a scenario entry gives them.
struct PrinterConfig {
    // The IEEE-1284 device ID text, byte for byte (may be empty; at most kMaxDeviceIdLength
    // bytes); the printer sends it after the length prefix, whatever the driver makes of it.
    std::string deviceId;
    LengthPrefix lengthPrefix = LengthPrefix::kBig;
    std::uint16_t prefixValue = 0;  // kFixed: the two bytes, first byte high
    std::uint16_t idVendor = 0x1209;
    std::uint16_t idProduct = 0x0001;
    std::string serial;  // empty: the host numbers it ("SIM0001", ...)
    int port = 0;        // USB port 1..kMaxPrinters; 0: the lowest one free
    // Busy answers (-252) before each acknowledgement.
    std::uint32_t busyPolls = 0;
    Answers answers = Answers::kAtOnce;
    // A restart after a successful flash: unset lets the program that hosts the printer decide
    // (orvane-printer-sim asks the shipped description files).
    enum class Restart { kUnset, kNo, kYes } restart = Restart::kUnset;
    std::uint32_t restartDelayMs = 2000;
    AfterRestart afterRestart = AfterRestart::kNewVersion;
    std::vector<Fault> faults;
};

// The longest device ID text a printer can be made to send.
constexpr std::size_t kMaxDeviceIdLength = 4096;
// usblp has 16 minors, /dev/usb/lp0 to lp15.
constexpr std::size_t kMaxPrinters = 16;

// Scenario names of the fault kinds ("no-ack", ...).
const char* FaultKindName(FaultKind kind);

// A point of the exchange at which the printer asks whether a fault strikes; fields that do not
// describe it keep their defaults.
struct FaultMoment {
    int ackStage = -1;              // a stage about to be acknowledged
    std::uint64_t inTransfer = 0;   // the IN transfer being answered, from 1
    std::uint64_t dataOffset = 0;   // a data transfer: the offset of its first byte
    std::size_t dataSize = 0;       // and its size
    const char* command = nullptr;  // a command being written
};

// Whether the fault strikes at that moment. A fault whose kind strikes once (a write fault) is
// the printer's to retire after it struck.
bool FaultStrikes(const Fault& fault, const FaultMoment& moment);
bool FaultStrikesOnce(FaultKind kind);

// Parses a scenario, {"printers": [{"deviceId": ..., ...}]}. On success out holds one config per
// printer and the result is true; otherwise error says what is wrong (with the printer's index)
// and out is left as it was. Unknown keys are refused so that a misspelt fault is not silently
// ignored.
bool ParseScenario(const std::string& jsonText, std::vector<PrinterConfig>& out,
                   std::string& error);

// Whether a device ID given on its own (e.g. on a command line) can be used; error says why not.
bool ValidateDeviceId(const std::string& deviceId, std::string& error);

}  // namespace simulator
