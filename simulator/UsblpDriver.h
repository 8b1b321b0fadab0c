#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "simulator/BusDevice.h"
#include "simulator/PrinterModel.h"
#include "simulator/Scheduler.h"

namespace simulator {

// The kernel's usblp driver in front of one emulated printer, as drivers/usb/class/usblp.c
// behaves:
// - one open descriptor at a time (a second open is refused with EBUSY);
// - from open on, one bulk-IN transfer of up to 1,024 bytes is kept queued; read() returns what
//   it brought, continuing in the same buffer when the caller asks for less, and queues the next
//   one only when the buffer is used up (a zero-length packet gives a 0-byte read); a failed
//   transfer gives EIO;
// - writes go out in transfers of up to 8 KiB and return once the printer took them; a printer
//   that stops taking data blocks the write until it is unplugged (ENODEV); a failed transfer
//   gives EIO;
// - the device ID is asked for with at most 1,023 bytes into a buffer that keeps older contents,
//   its big-endian prefix clamped to 2..1023, and min(that, the request's size) bytes copied;
// - once unplugged, every request in flight and every later one fails with ENODEV.
//
// Clients are the open descriptors, known by an opaque key. Thread-safe; completions run on the
// caller's thread or the scheduler's, never with the driver's lock held. Errors are -errno.
class UsblpDriver : public BusDevice {
public:
    using ClientKey = const void*;
    // Called exactly once per request with the count moved or -errno.
    using Completion = std::function<void(ssize_t)>;

    // onVanish runs (without the lock) when the printer leaves the bus by itself; onRestart when
    // it restarts after a flash, before the EndCommand write completes. Both may be empty.
    UsblpDriver(PrinterModel& model, Scheduler& scheduler, std::function<void()> onVanish,
                std::function<void()> onRestart);
    ~UsblpDriver();
    UsblpDriver(const UsblpDriver&) = delete;
    UsblpDriver& operator=(const UsblpDriver&) = delete;

    // A descriptor was opened on the node. The driver's verdict comes from OpenResult.
    void Connect(ClientKey client);
    // 0, or the open's error (-EBUSY, -ENODEV); flags are the open's flags (O_NONBLOCK counts).
    int OpenResult(ClientKey client, int flags);
    // The descriptor was closed: its queued IN transfer is dropped.
    void Release(ClientKey client);

    // buffer must stay valid until done runs.
    void Read(ClientKey client, std::uint8_t* buffer, std::size_t size, Completion done);
    void Write(ClientKey client, const std::uint8_t* data, std::size_t size, Completion done);
    // LPIOC_GET_DEVICE_ID(size) into buffer; 0 or -errno.
    int DeviceId(ClientKey client, std::uint8_t* buffer, std::size_t size);

    // Unplug: requests in flight fail with ENODEV; onVanish is not called.
    // Whether a read waits for the printer's answer now.
    bool ReadWaiting() const;

private:
    struct ClientState {
        int error = 0;  // the open's verdict
        bool nonBlocking = false;
    };
    struct PendingRead {
        std::uint8_t* buffer = nullptr;
        std::size_t size = 0;
        Completion done;
    };

    int Refusal(ClientKey client) const;
    void SubmitIn(Actions& after);
    void AnswerIn(Actions& after);
    void CompleteIn(const InAnswer& answer, Actions& after);
    void ServeRead(PendingRead read, Actions& after);
    void UnplugLocked(Actions& after) override;

    PrinterModel& model_;
    Scheduler& scheduler_;
    const std::function<void()> onVanish_;
    const std::function<void()> onRestart_;

    std::map<ClientKey, ClientState> clients_;
    ClientKey user_ = nullptr;  // the descriptor that has the node open
    // Bumped whenever a queued IN transfer is dropped, so that a late answer is discarded.
    std::uint64_t generation_ = 0;
    bool inQueued_ = false;    // an IN transfer is on its way
    bool inComplete_ = false;  // readBuffer_ holds what it brought
    bool waitingForNews_ = false;
    int readError_ = 0;
    std::vector<std::uint8_t> readBuffer_;
    std::size_t readCount_ = 0;
    bool readPending_ = false;
    PendingRead pendingRead_;
    bool writePending_ = false;
    Completion pendingWrite_;
    ssize_t pendingWritten_ = 0;
    std::array<std::uint8_t, 1024> deviceId_{};  // the driver's own copy, kept between requests
};

}  // namespace simulator
