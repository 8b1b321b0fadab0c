#include "simulator/UsbfsDevice.h"

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace simulator {

namespace {

constexpr std::size_t kSetupSize = 8;
// The only FileKey a client never has: the other program of the "held" fault.
const char kAnotherProgram = 0;

std::uint16_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// A failed transfer as the host controller reports it: a stall stays a stall, the rest is a
// protocol error (the printer's errno is not something USB carries).
int TransferStatus(int error) {
    return error == -EPIPE ? -EPIPE : -EPROTO;
}

}  // namespace

UsbfsDevice::UsbfsDevice(PrinterModel& model, Scheduler& scheduler, Hooks hooks, Driver bound,
                         std::string serial)
    : model_(model),
      scheduler_(scheduler),
      hooks_(std::move(hooks)),
      serial_(std::move(serial)),
      driver_(bound) {}

UsbfsDevice::~UsbfsDevice() = default;

void UsbfsDevice::NotifyReapable() {
    bool reapable = !present_;
    for (const auto& [key, file] : files_) {
        reapable = reapable || !file.completed.empty();
    }
    if (reapable != reapable_) {
        reapable_ = reapable;
        if (hooks_.onReapable) {
            hooks_.onReapable(reapable);
        }
    }
}

void UsbfsDevice::Open(FileKey file) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_[file];
    model_.NoteUsbfs("opens");
}

void UsbfsDevice::Close(FileKey file) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = files_.find(file);
    if (found == files_.end()) {
        return;
    }
    if (found->second.claimed && claimant_ == file) {
        driver_ = Driver::kNone;
        claimant_ = nullptr;
    }
    waitingIns_.erase(std::remove_if(waitingIns_.begin(), waitingIns_.end(),
                                     [file](const auto& in) { return in.first == file; }),
                      waitingIns_.end());
    files_.erase(found);
    NotifyReapable();
}

void UsbfsDevice::HoldForAnotherProgram() {
    std::lock_guard<std::mutex> lock(mutex_);
    driver_ = Driver::kUsbfs;
    claimant_ = &kAnotherProgram;
}

int UsbfsDevice::ClaimLocked(FileKey file) {
    File& state = files_[file];
    if (state.claimed) {
        return 0;
    }
    if (driver_ != Driver::kNone) {
        model_.NoteUsbfs("refusedClaims");
        return -EBUSY;
    }
    driver_ = Driver::kUsbfs;
    claimant_ = file;
    state.claimed = true;
    model_.NoteUsbfs("claims");
    return 0;
}

int UsbfsDevice::CheckInterface(unsigned interface, int otherInterface) const {
    if (!present_) {
        return -ENODEV;
    }
    if (interface >= 32) {
        return -EINVAL;
    }
    return interface != 0 ? otherInterface : 0;
}

int UsbfsDevice::Claim(FileKey file, unsigned interface) {
    std::lock_guard<std::mutex> bind(bindMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    const int checked = CheckInterface(interface, -ENOENT);
    return checked != 0 ? checked : ClaimLocked(file);
}

void UsbfsDevice::KillUrbs(File& file, int status) {
    for (Pending& pending : file.pending) {
        pending.urb.status = status;
        pending.urb.actualLength = 0;
        file.completed.push_back(std::move(pending.urb));
    }
    file.pending.clear();
}

int UsbfsDevice::Release(FileKey file, unsigned interface) {
    Actions after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int checked = CheckInterface(interface, -ENOENT);
        if (checked != 0) {
            return checked;
        }
        File& state = files_[file];
        if (!state.claimed) {
            return -EINVAL;
        }
        state.claimed = false;
        driver_ = Driver::kNone;
        claimant_ = nullptr;
        model_.NoteUsbfs("releases");
        waitingIns_.erase(std::remove_if(waitingIns_.begin(), waitingIns_.end(),
                                         [file](const auto& in) { return in.first == file; }),
                          waitingIns_.end());
        KillUrbs(state, -ENOENT);
        if (state.waitingReap && !state.completed.empty()) {
            Urb urb = std::move(state.completed.front());
            state.completed.pop_front();
            after.push_back([done = std::move(state.waitingReap), urb] { done(0, urb); });
            state.waitingReap = nullptr;
        }
        NotifyReapable();
    }
    Run(after);
    return 0;
}

int UsbfsDevice::GetDriver(unsigned interface, std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present_) {
        return -ENODEV;
    }
    if (interface != 0 || driver_ == Driver::kNone) {
        return -ENODATA;
    }
    name = DriverName();
    return 0;
}

void UsbfsDevice::Unbind(Actions& after) {
    if (driver_ == Driver::kUsblp) {
        model_.NoteUsbfs("usblpDetaches");
        if (hooks_.detachUsblp) {
            after.push_back(hooks_.detachUsblp);
        }
    } else if (driver_ == Driver::kUsbfs) {
        model_.NoteUsbfs("usbfsDetaches");
        const auto holder = files_.find(claimant_);
        if (holder != files_.end()) {
            holder->second.claimed = false;
            KillUrbs(holder->second, -ENOENT);
            NotifyReapable();
        }
    }
    driver_ = Driver::kNone;
    claimant_ = nullptr;
}

int UsbfsDevice::Disconnect(unsigned interface) {
    std::lock_guard<std::mutex> bind(bindMutex_);
    Actions after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int checked = CheckInterface(interface, -EINVAL);
        if (checked != 0) {
            return checked;
        }
        if (driver_ == Driver::kNone) {
            model_.NoteUsbfs("refusedDetaches");
            return -ENODATA;
        }
        Unbind(after);
    }
    Run(after);
    return 0;
}

int UsbfsDevice::Connect(unsigned interface) {
    std::lock_guard<std::mutex> bind(bindMutex_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int checked = CheckInterface(interface, -EINVAL);
        if (checked != 0) {
            return checked;
        }
        if (driver_ != Driver::kNone) {
            return -EBUSY;
        }
    }
    if (!hooks_.attachUsblp || !hooks_.attachUsblp()) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    driver_ = Driver::kUsblp;
    model_.NoteUsbfs("usblpAttaches");
    return 1;
}

int UsbfsDevice::DisconnectClaim(FileKey file, unsigned interface, unsigned flags,
                                 const std::string& driver) {
    std::lock_guard<std::mutex> bind(bindMutex_);
    Actions after;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int checked = CheckInterface(interface, -EINVAL);
        if (checked != 0) {
            return checked;
        }
        File& state = files_[file];
        if (driver_ != Driver::kNone && !state.claimed) {
            const bool named = driver == DriverName();
            if (((flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) != 0 && !named) ||
                ((flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) != 0 && named)) {
                model_.NoteUsbfs("refusedDetaches");
                return -EBUSY;
            }
            Unbind(after);
        }
        result = ClaimLocked(file);
    }
    Run(after);
    return result;
}

int UsbfsDevice::SetInterface(FileKey file, unsigned interface, unsigned alternate) {
    std::lock_guard<std::mutex> bind(bindMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    const int checked = CheckInterface(interface, -ENOENT);
    if (checked != 0) {
        return checked;
    }
    const int claim = ClaimLocked(file);
    return claim != 0 ? claim : alternate == 0 ? 0 : -EINVAL;
}

int UsbfsDevice::SetConfiguration(FileKey, int configuration) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present_) {
        return -ENODEV;
    }
    if (driver_ != Driver::kNone) {
        return -EBUSY;
    }
    return configuration == 1 ? 0 : -EINVAL;
}

int UsbfsDevice::ClearHalt(FileKey file, unsigned endpoint) {
    std::lock_guard<std::mutex> bind(bindMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present_) {
        return -ENODEV;
    }
    if (endpoint != kOutEndpoint && endpoint != kInEndpoint) {
        return -ENOENT;
    }
    return ClaimLocked(file);
}

int UsbfsDevice::Reset(FileKey) {
    std::lock_guard<std::mutex> lock(mutex_);
    return present_ ? 0 : -ENODEV;
}

void UsbfsDevice::Complete(FileKey file, std::uint64_t id, int status, const std::uint8_t* data,
                           std::size_t size, Actions& after) {
    const auto found = files_.find(file);
    if (found == files_.end()) {
        return;
    }
    File& state = found->second;
    const auto pending = std::find_if(state.pending.begin(), state.pending.end(),
                                      [id](const Pending& p) { return p.id == id; });
    if (pending == state.pending.end()) {
        return;
    }
    Urb urb = std::move(pending->urb);
    state.pending.erase(pending);
    const std::size_t offset = urb.type == USBDEVFS_URB_TYPE_CONTROL ? kSetupSize : 0;
    const std::size_t room = urb.length - offset;
    urb.actualLength = std::min(size, room);
    urb.status = status == 0 && size > room ? -EOVERFLOW : status;
    if (urb.actualLength > 0 && data != nullptr && (urb.endpoint & 0x80) != 0) {
        std::memcpy(urb.buffer + offset, data, urb.actualLength);
    }
    if (state.waitingReap) {
        after.push_back([done = std::move(state.waitingReap), urb] { done(0, urb); });
        state.waitingReap = nullptr;
    } else {
        state.completed.push_back(std::move(urb));
    }
    NotifyReapable();
}

void UsbfsDevice::AnswerIn(FileKey file, std::uint64_t id, Actions& after) {
    InAnswer answer = model_.AnswerIn();
    const int status = answer.error != 0 ? TransferStatus(answer.error) : 0;
    if (answer.delayMs == 0) {
        Complete(file, id, status, answer.bytes.data(), answer.bytes.size(), after);
        return;
    }
    scheduler_.After(answer.delayMs, [this, file, id, status, bytes = std::move(answer.bytes)] {
        Actions later;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (present_) {
                Complete(file, id, status, bytes.data(), bytes.size(), later);
            }
        }
        Run(later);
    });
}

void UsbfsDevice::AnswerWaitingIns(Actions& after) {
    while (!waitingIns_.empty() && model_.HasNews()) {
        const auto [file, id] = waitingIns_.front();
        waitingIns_.erase(waitingIns_.begin());
        AnswerIn(file, id, after);
    }
}

int UsbfsDevice::Submit(FileKey file, Urb urb) {
    std::lock_guard<std::mutex> bind(bindMutex_);
    Actions after;
    bool vanished = false;
    bool restart = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!present_) {
            return -ENODEV;
        }
        File& state = files_[file];
        const std::uint64_t id = nextId_++;
        if (urb.type == USBDEVFS_URB_TYPE_CONTROL) {
            if ((urb.endpoint & 0x7F) != 0) {
                return -EINVAL;
            }
            if (urb.length < kSetupSize || Word(urb.buffer + 6) > urb.length - kSetupSize) {
                return -EINVAL;
            }
            std::vector<std::uint8_t> answer;
            const int status = Control(file, urb, answer);
            if (status != 0 && status != -EPIPE) {
                return status;
            }
            // The data stage's direction is the setup packet's.
            urb.endpoint = urb.buffer[0] & 0x80;
            state.pending.push_back({std::move(urb), id});
            Complete(file, id, status, answer.data(), answer.size(), after);
        } else {
            if (urb.endpoint != kOutEndpoint && urb.endpoint != kInEndpoint) {
                return -ENOENT;
            }
            if (urb.type != USBDEVFS_URB_TYPE_BULK) {
                return -EINVAL;
            }
            const int claim = ClaimLocked(file);
            if (claim != 0) {
                return claim;
            }
            const bool out = urb.endpoint == kOutEndpoint;
            model_.NoteUsbfs(out ? "bulkOutUrbs" : "bulkInUrbs");
            const std::uint8_t* data = urb.buffer;
            const std::size_t length = urb.length;
            state.pending.push_back({std::move(urb), id});
            if (!out) {
                model_.NoteRead();
                if (model_.Config().answers == Answers::kAtOnce || model_.HasNews()) {
                    AnswerIn(file, id, after);
                } else {
                    waitingIns_.emplace_back(file, id);
                }
            } else {
                std::uint32_t unplugAfterMs = 0;
                const ssize_t taken = model_.ReceiveOut(data, length, &unplugAfterMs);
                if (taken == kOutStalled) {
                    if (unplugAfterMs > 0) {
                        scheduler_.After(unplugAfterMs, [this] {
                            if (Unplug() && hooks_.onVanish) {
                                hooks_.onVanish();
                            }
                        });
                    }
                } else if (taken < 0 && model_.Disconnected()) {
                    UnplugLocked(after);
                    vanished = true;
                } else if (taken < 0) {
                    Complete(file, id, TransferStatus(static_cast<int>(taken)), nullptr, 0, after);
                } else {
                    Complete(file, id, 0, nullptr, static_cast<std::size_t>(taken), after);
                }
                AnswerWaitingIns(after);
                restart = present_ && model_.TakeRestart();
            }
        }
    }
    if (restart && hooks_.onRestart) {
        hooks_.onRestart();
    }
    Run(after);
    if (vanished && hooks_.onVanish) {
        hooks_.onVanish();
    }
    return 0;
}

void UsbfsDevice::Reap(FileKey file, bool wait, ReapDone done) {
    Actions after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        File& state = files_[file];
        if (!state.completed.empty()) {
            Urb urb = std::move(state.completed.front());
            state.completed.pop_front();
            NotifyReapable();
            after.push_back([done = std::move(done), urb] { done(0, urb); });
        } else if (!present_ || !wait) {
            const int error = present_ ? -EAGAIN : -ENODEV;
            after.push_back([done = std::move(done), error] { done(error, {}); });
        } else {
            state.waitingReap = std::move(done);
        }
    }
    Run(after);
}

int UsbfsDevice::Discard(FileKey file, std::uint64_t address) {
    Actions after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!present_) {
            return -ENODEV;
        }
        File& state = files_[file];
        const auto pending =
            std::find_if(state.pending.begin(), state.pending.end(),
                         [address](const Pending& p) { return p.urb.address == address; });
        if (pending == state.pending.end()) {
            return -EINVAL;
        }
        const std::uint64_t id = pending->id;
        waitingIns_.erase(
            std::remove(waitingIns_.begin(), waitingIns_.end(), std::make_pair(file, id)),
            waitingIns_.end());
        Complete(file, id, -ECONNRESET, nullptr, 0, after);
    }
    Run(after);
    return 0;
}

void UsbfsDevice::UnplugLocked(Actions& after) {
    present_ = false;
    driver_ = Driver::kNone;
    claimant_ = nullptr;
    waitingIns_.clear();
    for (auto& [key, file] : files_) {
        KillUrbs(file, -ESHUTDOWN);
        if (file.waitingReap && file.completed.empty()) {
            after.push_back([done = std::move(file.waitingReap)] { done(-ENODEV, {}); });
        } else if (file.waitingReap) {
            Urb urb = std::move(file.completed.front());
            file.completed.pop_front();
            after.push_back([done = std::move(file.waitingReap), urb] { done(0, urb); });
        }
        file.waitingReap = nullptr;
        file.claimed = false;
    }
    NotifyReapable();
}

UsbfsDevice::Driver UsbfsDevice::BoundDriver() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return driver_;
}

bool UsbfsDevice::InWaiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !waitingIns_.empty();
}

}  // namespace simulator
