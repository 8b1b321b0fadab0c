#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simulator/BusDevice.h"
#include "simulator/PrinterModel.h"
#include "simulator/Scheduler.h"

namespace simulator {

// The usbfs side of one emulated printer's USB device (/dev/bus/usb/BBB/DDD), as
// drivers/usb/core/devio.c behaves. The device has one configuration with interface 0 (class 07,
// bulk OUT 0x01, bulk IN 0x82), bound to one driver at a time: usblp, a usbfs file's claim, or
// none.
// - CLAIMINTERFACE takes an unbound interface (EBUSY while usblp or another file has it); a bulk
//   URB or a request to the interface claims it implicitly, except GET_DEVICE_ID (0xA1, 0), which
//   the kernel lets through to a printer-class interface whoever holds it;
// - DISCONNECT unbinds whatever driver holds the interface, a usbfs claim included;
//   DISCONNECT_CLAIM does so subject to its flags and claims; CONNECT binds usblp to an unbound
//   interface (1) and fails with EBUSY while one is bound;
// - every URB is one transfer with the printer at the time it is submitted: no read-ahead. An IN
//   URB to a printer that answers only with news stays pending until it has some; a held-back
//   answer or a printer that stops taking data completes it later, from the scheduler;
// - closing a file releases its claims and kills its URBs;
// - once the device is unplugged, URBs in flight complete with ESHUTDOWN and stay reapable;
//   reaping an empty queue and every other request fail with ENODEV.
//
// Files are known by an opaque key. Thread-safe; completions and the host's hooks run on the
// caller's thread or the scheduler's, never with the device's lock held (except onReapable), but
// possibly inside a request that changes the binding: a hook must not make such a request.
// Errors are -errno.
class UsbfsDevice : public BusDevice {
public:
    using FileKey = const void*;
    enum class Driver { kNone, kUsblp, kUsbfs };

    // A submitted URB as the kernel keeps it. address is the URB's address in the client (what
    // DISCARDURB names); buffer is the emulation's copy of the transfer buffer (setup packet
    // first for a control URB), kept valid by handle until the URB is reaped or dropped.
    struct Urb {
        std::uint64_t address = 0;
        std::uint8_t type = 0;
        std::uint8_t endpoint = 0;
        std::uint8_t* buffer = nullptr;
        std::size_t length = 0;
        int status = 0;
        std::size_t actualLength = 0;
        std::shared_ptr<void> handle;
    };
    // A reap's outcome: 0 and the URB, or -errno.
    using ReapDone = std::function<void(int, Urb)>;

    // What the device asks of the host; each may be empty.
    struct Hooks {
        // usblp is unbound from the interface: its node goes, open descriptors fail with ENODEV.
        std::function<void()> detachUsblp;
        // usblp binds to the interface again; false when it could not (no free minor).
        std::function<bool()> attachUsblp;
        // The printer left the bus by itself (vanished, or unplugged after a stall).
        std::function<void()> onVanish;
        // The printer restarts after a flash (before the EndCommand URB completes).
        std::function<void()> onRestart;
        // Whether a file has completed URBs waiting to be reaped (what poll reports as POLLOUT),
        // or the device is gone. Runs with the device's lock held, when the answer changes: it
        // must not call back.
        std::function<void(bool)> onReapable;
    };

    // serial: the string descriptor the device's iSerialNumber names.
    UsbfsDevice(PrinterModel& model, Scheduler& scheduler, Hooks hooks, Driver bound,
                std::string serial);
    ~UsbfsDevice();
    UsbfsDevice(const UsbfsDevice&) = delete;
    UsbfsDevice& operator=(const UsbfsDevice&) = delete;

    void Open(FileKey file);
    // The file is closed: its claims are released, its URBs dropped.
    void Close(FileKey file);
    // Another program's usbfs file has claimed interface 0 (the "held" fault).
    void HoldForAnotherProgram();

    int Claim(FileKey file, unsigned interface);
    int Release(FileKey file, unsigned interface);
    // GETDRIVER: the bound driver's name, or -ENODATA.
    int GetDriver(unsigned interface, std::string& name) const;
    // USBDEVFS_IOCTL with USBDEVFS_DISCONNECT / USBDEVFS_CONNECT (1 when usblp bound).
    int Disconnect(unsigned interface);
    int Connect(unsigned interface);
    int DisconnectClaim(FileKey file, unsigned interface, unsigned flags,
                        const std::string& driver);
    int SetInterface(FileKey file, unsigned interface, unsigned alternate);
    int SetConfiguration(FileKey file, int configuration);
    int ClearHalt(FileKey file, unsigned endpoint);
    int Reset(FileKey file);

    // 0 once accepted (it completes now or later), or the submission's error.
    int Submit(FileKey file, Urb urb);
    // REAPURB (wait) / REAPURBNDELAY: done runs now or, for a waiting reap, at the next
    // completion.
    void Reap(FileKey file, bool wait, ReapDone done);
    int Discard(FileKey file, std::uint64_t address);

    Driver BoundDriver() const;
    // Whether an IN URB waits for the printer's answer now.
    bool InWaiting() const;

    // USBDEVFS_GET_CAPABILITIES.
    static std::uint32_t Capabilities();
    // The device descriptor and the configuration descriptor, as read() of the node and the
    // sysfs attribute "descriptors" give them.
    static std::vector<std::uint8_t> Descriptors(const PrinterConfig& config);

private:
    static constexpr std::uint8_t kOutEndpoint = 0x01;
    static constexpr std::uint8_t kInEndpoint = 0x82;
    static constexpr std::uint8_t kSerialIndex = 3;

    struct Pending {
        Urb urb;
        std::uint64_t id = 0;
    };
    struct File {
        bool claimed = false;
        std::vector<Pending> pending;
        std::deque<Urb> completed;
        ReapDone waitingReap;
    };

    // GETDRIVER's name of the bound driver.
    const char* DriverName() const { return driver_ == Driver::kUsblp ? "usblp" : "usbfs"; }
    // The checks that open a request on an interface: -ENODEV once the device is gone, -EINVAL
    // for a number usbfs refuses, otherInterface for one the device does not have; else 0.
    int CheckInterface(unsigned interface, int otherInterface) const;
    // checkintf/claimintf: the file's claim on interface 0, taken now if need be.
    int ClaimLocked(FileKey file);
    void Unbind(Actions& after);
    void KillUrbs(File& file, int status);
    void Complete(FileKey file, std::uint64_t id, int status, const std::uint8_t* data,
                  std::size_t size, Actions& after);
    int Control(FileKey file, const Urb& urb, std::vector<std::uint8_t>& answer);
    void AnswerIn(FileKey file, std::uint64_t id, Actions& after);
    void AnswerWaitingIns(Actions& after);
    void UnplugLocked(Actions& after) override;
    void NotifyReapable();

    PrinterModel& model_;
    Scheduler& scheduler_;
    const Hooks hooks_;
    const std::string serial_;

    // Serialises the requests that change the binding, across the host's hooks they call.
    std::mutex bindMutex_;
    Driver driver_;
    FileKey claimant_ = nullptr;
    std::map<FileKey, File> files_;
    bool reapable_ = false;
    std::uint64_t nextId_ = 1;
    // IN URBs that wait for the printer's news, in the order submitted.
    std::vector<std::pair<FileKey, std::uint64_t>> waitingIns_;
};

}  // namespace simulator
