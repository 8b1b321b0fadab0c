#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "simulator/PrinterConfig.h"

namespace simulator {

// Status words of the 12-byte status record (bytes 0-3, little-endian); byte 8 carries the stage.
constexpr std::int32_t kStatusStageDone = -255;
constexpr std::int32_t kStatusIdle = -253;
constexpr std::int32_t kStatusBusy = -252;
constexpr std::size_t kCommandSize = 12;
constexpr std::size_t kStatusRecordSize = 12;

// What happened to the printer's firmware in this run: "untouched" until a StartCommand arrives,
// "flashed" once a complete transfer has been ended with EndCommand, "failed" otherwise.
enum class Outcome { kUntouched, kFlashed, kFailed };
const char* OutcomeName(Outcome outcome);

// One Orvane printer as the updater sees it through the usblp driver: device ID, 12-byte
// commands, data chunks after DataHeaderCommand, 12-byte status records, and the scripted faults
// of its config.
//
// Thread-safe: umockdev's handler thread calls the Handle* functions while a test thread reads
// the counters and the transcript. Errors follow the driver convention: a negative errno.
class PrinterModel {
public:
    explicit PrinterModel(PrinterConfig config);
    ~PrinterModel();
    PrinterModel(const PrinterModel&) = delete;
    PrinterModel& operator=(const PrinterModel&) = delete;

    // A client opened the device node. Returns 0, or -errno once the device has vanished.
    int HandleOpen();
    // One write(2): a 12-byte command, or data after DataHeaderCommand. Returns the count of bytes
    // accepted or -errno.
    ssize_t HandleWrite(const std::uint8_t* data, std::size_t size);
    // One read(2): the current status record, cut to size. Never blocks for want of news (except
    // for a stall-read fault). Returns the count of bytes given or -errno.
    ssize_t HandleRead(std::uint8_t* buffer, std::size_t size);
    // LPIOC_GET_DEVICE_ID(size): fills buffer with the 2-byte length prefix and the device ID, at
    // most size bytes, as usblp does. Returns 0 or -errno.
    int HandleDeviceIdQuery(std::uint8_t* buffer, std::size_t size);

    const PrinterConfig& Config() const { return config_; }
    // Whether another program holds the device (the "held" fault).
    bool Held() const;
    // Whether the device has vanished (the "disconnect" fault has struck).
    bool Disconnected() const;

    // Opens are counted when umockdev accepts the client's connection, on its own thread, so a
    // count is sure to include an open only once a request on it has been answered.
    std::uint64_t Opens() const;
    std::uint64_t DeviceIdQueries() const;
    std::uint64_t StatusReads() const;
    std::uint64_t DataBytes() const;
    Outcome GetOutcome() const;
    // The device ID as it is answered now: after a flash of an image with its version prefix the
    // VER: value is the image's version.
    std::string DeviceId() const;
    // The VER: value of the current device ID; empty without one.
    std::string FirmwareVersion() const;

    // {"devicePath", "opens", "deviceIdQueries", "statusReads", "commands": [{"name", "words"}],
    // "dataWrites": [size...], "dataBytes", "dataSha256", "outcome", "firmwareVersion"}
    nlohmann::json Transcript(const std::string& devicePath = "") const;

private:
    struct State;
    const PrinterConfig config_;
    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;  // guarded by mutex_
};

// "%d.%d.%d.%d" of a firmware image's 4-byte version prefix: b1 (signed), b0, b3 (signed), b2.
std::string DecodeImageVersion(const std::uint8_t* prefix);

}  // namespace simulator
