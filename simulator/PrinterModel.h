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

#include "device/PrinterProtocol.h"
#include "simulator/PrinterConfig.h"

namespace simulator {

// ReceiveOut's answer when the printer stops taking data: the transfer never completes.
constexpr ssize_t kOutStalled = -100000;

// What happened to the printer's firmware in this run: "untouched" until a StartCommand arrives,
// "flashed" once a complete transfer has been ended with EndCommand, "failed" otherwise.
enum class Outcome { kUntouched, kFlashed, kFailed };
const char* OutcomeName(Outcome outcome);

// The printer's answer to one bulk-IN transfer: an error (a negative errno, the transfer fails),
// or bytes (possibly none: a zero-length packet), held back delayMs before they arrive.
struct InAnswer {
    int error = 0;
    std::vector<std::uint8_t> bytes;
    std::uint32_t delayMs = 0;
};

// One Orvane printer on the far side of the USB cable: the device-ID request, bulk-OUT transfers
// (12-byte commands, data after DataHeaderCommand), bulk-IN transfers (status records), the
// scripted faults of its config and the transcript. It knows nothing of the kernel driver in
// front of it (UsblpDriver).
//
// Thread-safe: the emulation's threads drive it while a test thread reads the counters and the
// transcript. Errors are negative errno values.
class PrinterModel {
public:
    explicit PrinterModel(PrinterConfig config);
    ~PrinterModel();
    PrinterModel(const PrinterModel&) = delete;
    PrinterModel& operator=(const PrinterModel&) = delete;

    // One bulk-OUT transfer. Returns the count of bytes taken, -errno, or kOutStalled (then
    // unplugAfterMs says when the printer is pulled, 0 for never).
    ssize_t ReceiveOut(const std::uint8_t* data, std::size_t size,
                       std::uint32_t* unplugAfterMs = nullptr);
    // One bulk-IN transfer, answered now.
    InAnswer AnswerIn();
    // Whether a printer that answers only with news has something to say to an IN transfer:
    // a command arrived since its last answer, or it is busy on the way to an acknowledgement.
    bool HasNews() const;
    // GET_DEVICE_ID: the 2-byte length prefix as the printer writes it, then the ID, at most
    // maxLength bytes in all. Returns 0 or -errno.
    int AnswerDeviceId(std::size_t maxLength, std::vector<std::uint8_t>& answer);

    // Counted by the driver in front of the printer.
    void NoteOpen();
    void NoteRead();
    // Counted by the usbfs side (UsbfsDevice): one of the keys of the transcript's "usbfs".
    void NoteUsbfs(const char* key);

    // After EndCommand of a flash by a printer that restarts: true once, then the printer is
    // expected to leave the bus.
    bool TakeRestart();
    // The printer is back on the bus after a restart; it answers afresh.
    void Reattached();

    const PrinterConfig& Config() const { return config_; }
    bool Held() const;
    // Whether the device has vanished for good (the "disconnect" fault has struck).
    bool Disconnected() const;
    // The transcript's path of the printer's node: set by the host as the node comes and goes.
    void SetDevicePath(const std::string& path);
    std::string DevicePath() const;

    std::uint64_t Opens() const;
    std::uint64_t DeviceIdQueries() const;
    std::uint64_t StatusReads() const;
    std::uint64_t InTransfers() const;
    std::uint64_t DataBytes() const;
    std::uint64_t Restarts() const;
    Outcome GetOutcome() const;
    // The device ID as it is answered now: after a flash of an image with its version prefix the
    // VER: value is the image's version (unless the printer comes back from its restart with the
    // old one).
    std::string DeviceId() const;
    // The VER: value of the current device ID; empty without one.
    std::string FirmwareVersion() const;

    // {"devicePath", "opens", "deviceIdQueries", "statusReads", "inTransfers", "commands":
    // [{"name", "words"}], "dataWrites": [size...], "dataBytes", "dataSha256", "outcome",
    // "restarts", "firmwareVersion", "usbfs": {"opens", "claims", "refusedClaims", "releases",
    // "usblpDetaches", "usbfsDetaches", "refusedDetaches", "usblpAttaches", "controlUrbs",
    // "bulkOutUrbs", "bulkInUrbs"}}
    nlohmann::json Transcript() const;

private:
    struct State;
    // A field of the state, read under the lock.
    template <typename T>
    T Get(T State::*field) const;
    const PrinterConfig config_;
    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;  // guarded by mutex_
};

// "%d.%d.%d.%d" of a firmware image's 4-byte version prefix: b1 (signed), b0, b3 (signed), b2.
std::string DecodeImageVersion(const std::uint8_t* prefix);

}  // namespace simulator
