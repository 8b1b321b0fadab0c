#include "Halden/windows/win32_thread_utils.h"

#include <pthread.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "Halden/windows/FormatErrorText.h"
#include "Halden/windows/MutexGuard.h"
#include "Halden/windows/windows_error.h"
#include "platform/LastError.h"

namespace {

class EventHandle : public SyncHandle {
public:
    EventHandle(bool initialState, bool manualReset)
        : signalled_(initialState), manualReset_(manualReset) {}

    ~EventHandle() override {
        if (initialised_) {
            pthread_cond_destroy(&cond_);
            pthread_mutex_destroy(&mutex_);
        }
    }

    // Returns 0 or the error code of the failed call.
    int Init() {
        pthread_condattr_t attr;
        int rc = pthread_condattr_init(&attr);
        if (rc != 0) {
            return rc;
        }
        rc = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        if (rc == 0) {
            rc = pthread_cond_init(&cond_, &attr);
        }
        pthread_condattr_destroy(&attr);
        if (rc != 0) {
            return rc;
        }
        rc = pthread_mutex_init(&mutex_, nullptr);
        if (rc != 0) {
            pthread_cond_destroy(&cond_);
            return rc;
        }
        initialised_ = true;
        return 0;
    }

    bool Wait(std::uint32_t timeoutMs) override {
        MutexGuard guard(&mutex_);
        if (!guard.WaitFor(&cond_, timeoutMs, [this] { return signalled_; })) {
            return false;
        }
        if (!manualReset_) {
            signalled_ = false;
        }
        return true;
    }

    int Set() {
        MutexGuard guard(&mutex_);
        signalled_ = true;
        return manualReset_ ? pthread_cond_broadcast(&cond_) : pthread_cond_signal(&cond_);
    }

    void Reset() {
        MutexGuard guard(&mutex_);
        signalled_ = false;
    }

private:
    pthread_mutex_t mutex_;
    pthread_cond_t cond_;
    bool initialised_ = false;
    bool signalled_;
    const bool manualReset_;
};

[[noreturn]] void ThrowInvalidState(int line) {
    throw std::logic_error(FormatErrorText(__FILE__, line, "Invalid state"));
}

}  // namespace

SyncHandle::~SyncHandle() = default;

BaseSyncObject::BaseSyncObject() = default;

BaseSyncObject::~BaseSyncObject() {
    delete handle_;
}

bool BaseSyncObject::Wait(std::uint32_t timeoutMs) {
    if (handle_ == nullptr) {
        ThrowInvalidState(__LINE__);
    }
    return handle_->Wait(timeoutMs);
}

Event::Event(bool initialState, bool manualReset, const wchar_t* /*name*/,
             const void* /*securityAttributes*/) {
    auto* handle = new (std::nothrow) EventHandle(initialState, manualReset);
    const int rc = handle == nullptr ? ENOMEM : handle->Init();
    if (rc != 0) {
        delete handle;
        platform::SetLastError(static_cast<std::uint32_t>(rc));
        throw windows_error(
            FormatErrorText(__FILE__, __LINE__, "Event::Event: Can't create the event"));
    }
    handle_ = handle;
}

Event::~Event() = default;

bool Event::SetEvent() {
    if (handle_ == nullptr) {
        ThrowInvalidState(__LINE__);
    }
    const int rc = static_cast<EventHandle*>(handle_)->Set();
    if (rc != 0) {
        platform::SetLastError(static_cast<std::uint32_t>(rc));
        throw windows_error(
            FormatErrorText(__FILE__, __LINE__, "Event::SetEvent: Can't set the event"));
    }
    return true;
}

bool Event::ResetEvent() {
    if (handle_ == nullptr) {
        ThrowInvalidState(__LINE__);
    }
    static_cast<EventHandle*>(handle_)->Reset();
    return true;
}

bool Event::Release() {
    return true;
}
