#include "simulator/UsblpDriver.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace simulator {

namespace {

// usblp's bulk transfer sizes and its device-ID request.
constexpr std::size_t kWriteTransferSize = 8192;
constexpr std::size_t kReadTransferSize = 1024;
constexpr std::size_t kDeviceIdRequest = 1023;

}  // namespace

UsblpDriver::UsblpDriver(PrinterModel& model, Scheduler& scheduler, std::function<void()> onVanish,
                         std::function<void()> onRestart)
    : model_(model),
      scheduler_(scheduler),
      onVanish_(std::move(onVanish)),
      onRestart_(std::move(onRestart)) {}

UsblpDriver::~UsblpDriver() = default;

void UsblpDriver::Connect(ClientKey client) {
    Actions after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ClientState& state = clients_[client];
        if (!present_) {
            state.error = -ENODEV;
        } else if (user_ != nullptr || model_.Held()) {
            state.error = -EBUSY;
        } else {
            user_ = client;
            model_.NoteOpen();
            readBuffer_.clear();
            readCount_ = 0;
            SubmitIn(after);
        }
    }
    Run(after);
}

int UsblpDriver::OpenResult(ClientKey client, int flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = clients_.find(client);
    if (found == clients_.end()) {
        return -EBADF;
    }
    found->second.nonBlocking = (flags & O_NONBLOCK) != 0;
    return found->second.error;
}

void UsblpDriver::Release(ClientKey client) {
    Actions after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (clients_.erase(client) == 0 || user_ != client) {
            return;
        }
        user_ = nullptr;
        ++generation_;
        inQueued_ = inComplete_ = waitingForNews_ = false;
        readBuffer_.clear();
        if (readPending_) {
            readPending_ = false;
            after.push_back([done = std::move(pendingRead_.done)] { done(-EBADF); });
        }
        if (writePending_) {
            writePending_ = false;
            after.push_back([done = std::move(pendingWrite_)] { done(-EBADF); });
        }
    }
    Run(after);
}

int UsblpDriver::Refusal(ClientKey client) const {
    const auto found = clients_.find(client);
    if (found != clients_.end() && found->second.error != 0) {
        return found->second.error;
    }
    if (!present_) {
        return -ENODEV;
    }
    return client == user_ ? 0 : -EBADF;
}

void UsblpDriver::SubmitIn(Actions& after) {
    inQueued_ = true;
    inComplete_ = false;
    if (model_.Config().answers == Answers::kAtOnce || model_.HasNews()) {
        AnswerIn(after);
    } else {
        waitingForNews_ = true;
    }
}

void UsblpDriver::AnswerIn(Actions& after) {
    waitingForNews_ = false;
    InAnswer answer = model_.AnswerIn();
    if (answer.bytes.size() > kReadTransferSize) {
        answer.bytes.resize(kReadTransferSize);
    }
    if (answer.delayMs == 0) {
        CompleteIn(answer, after);
        return;
    }
    const std::uint64_t generation = generation_;
    scheduler_.After(answer.delayMs, [this, generation, answer] {
        Actions later;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation != generation_ || !present_) {
                return;
            }
            CompleteIn(answer, later);
        }
        Run(later);
    });
}

void UsblpDriver::CompleteIn(const InAnswer& answer, Actions& after) {
    inQueued_ = false;
    inComplete_ = true;
    readError_ = answer.error;
    readBuffer_ = answer.bytes;
    readCount_ = 0;
    if (readPending_) {
        readPending_ = false;
        ServeRead(std::move(pendingRead_), after);
    }
}

void UsblpDriver::ServeRead(PendingRead read, Actions& after) {
    if (readError_ != 0) {
        SubmitIn(after);
        after.push_back([done = std::move(read.done)] { done(-EIO); });
        return;
    }
    const std::size_t count = std::min(read.size, readBuffer_.size() - readCount_);
    if (count > 0) {
        std::memcpy(read.buffer, readBuffer_.data() + readCount_, count);
    }
    readCount_ += count;
    if (readCount_ == readBuffer_.size()) {
        SubmitIn(after);
    }
    after.push_back([done = std::move(read.done), count] { done(static_cast<ssize_t>(count)); });
}

void UsblpDriver::Read(ClientKey client, std::uint8_t* buffer, std::size_t size, Completion done) {
    Actions after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int refusal = Refusal(client);
        if (refusal == 0) {
            model_.NoteRead();
        }
        if (refusal != 0 || readPending_) {
            after.push_back(
                [done = std::move(done), refusal] { done(refusal != 0 ? refusal : -EBUSY); });
        } else if (!inComplete_) {
            if (clients_[client].nonBlocking) {
                after.push_back([done = std::move(done)] { done(-EAGAIN); });
            } else {
                readPending_ = true;
                pendingRead_ = {buffer, size, std::move(done)};
            }
        } else {
            ServeRead({buffer, size, std::move(done)}, after);
        }
    }
    Run(after);
}

void UsblpDriver::Write(ClientKey client, const std::uint8_t* data, std::size_t size,
                        Completion done) {
    Actions after;
    bool vanished = false;
    bool restart = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int refusal = Refusal(client);
        if (refusal != 0 || writePending_) {
            after.push_back(
                [done = std::move(done), refusal] { done(refusal != 0 ? refusal : -EBUSY); });
        } else {
            ssize_t written = 0;
            ssize_t result = 0;
            bool stalled = false;
            do {
                const std::size_t chunk =
                    std::min(size - static_cast<std::size_t>(written), kWriteTransferSize);
                std::uint32_t unplugAfterMs = 0;
                const ssize_t taken = model_.ReceiveOut(data + written, chunk, &unplugAfterMs);
                if (taken == kOutStalled) {
                    stalled = true;
                    writePending_ = true;
                    pendingWrite_ = std::move(done);
                    pendingWritten_ = written;
                    if (unplugAfterMs > 0) {
                        scheduler_.After(unplugAfterMs, [this] {
                            if (Unplug() && onVanish_) {
                                onVanish_();
                            }
                        });
                    }
                    break;
                }
                if (taken < 0) {
                    if (model_.Disconnected()) {
                        UnplugLocked(after);
                        vanished = true;
                        result = written > 0 ? written : -ENODEV;
                    } else {
                        result = written > 0 ? written : -EIO;
                    }
                    break;
                }
                written += taken;
                result = written;
                if (static_cast<std::size_t>(taken) < chunk) {
                    break;
                }
            } while (static_cast<std::size_t>(written) < size);
            if (!stalled) {
                after.push_back([done = std::move(done), result] { done(result); });
            }
            if (waitingForNews_ && model_.HasNews()) {
                AnswerIn(after);
            }
            restart = present_ && model_.TakeRestart();
        }
    }
    // A printer that restarts has left the bus by the time the writer learns that EndCommand
    // went out, so that nothing can find it still there with the firmware it is restarting to.
    if (restart && onRestart_) {
        onRestart_();
    }
    Run(after);
    if (vanished && onVanish_) {
        onVanish_();
    }
}

int UsblpDriver::DeviceId(ClientKey client, std::uint8_t* buffer, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int refusal = Refusal(client);
    if (refusal != 0) {
        return refusal;
    }
    std::vector<std::uint8_t> answer;
    if (model_.AnswerDeviceId(kDeviceIdRequest, answer) < 0) {
        deviceId_[0] = deviceId_[1] = 0;
        return -EIO;
    }
    std::copy(answer.begin(), answer.end(), deviceId_.begin());
    std::size_t length = static_cast<std::size_t>(deviceId_[0]) << 8 | deviceId_[1];
    length = std::clamp<std::size_t>(length, 2, kDeviceIdRequest);
    deviceId_[length] = 0;
    const std::size_t copied = std::min(length, size);
    if (copied > 0 && buffer == nullptr) {
        return -EFAULT;
    }
    std::copy_n(deviceId_.begin(), copied, buffer);
    return 0;
}

void UsblpDriver::UnplugLocked(Actions& after) {
    present_ = false;
    ++generation_;
    inQueued_ = inComplete_ = waitingForNews_ = false;
    if (readPending_) {
        readPending_ = false;
        after.push_back([done = std::move(pendingRead_.done)] { done(-ENODEV); });
    }
    if (writePending_) {
        writePending_ = false;
        const ssize_t written = pendingWritten_;
        after.push_back(
            [done = std::move(pendingWrite_), written] { done(written > 0 ? written : -ENODEV); });
    }
}

bool UsblpDriver::ReadWaiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readPending_;
}

}  // namespace simulator
