#include "Halden/windows/win32_thread_wrapper.h"

#include <pthread.h>

#include <stdexcept>

#include "Halden/ForcedUnwind.h"
#include "Halden/windows/FormatErrorText.h"
#include "Halden/windows/MutexGuard.h"
#include "Halden/windows/windows_error.h"
#include "platform/LastError.h"

namespace {

// How long a forced termination waits for the cancelled thread's stack to unwind.
constexpr std::uint32_t kTerminateGraceMs = 1000;
constexpr std::uint32_t kExitCodeTerminated = 0xFFFFFFFF;

std::atomic<std::uint32_t> nextThreadId{1};

}  // namespace

// Shared by the wrapper and the running thread; the mutex guards every field below it.
class ThreadControl {
public:
    ThreadControl(thread_wrapper::EntryRoutine entry, void* argument, bool suspended)
        : entry_(entry), argument_(argument), suspendCount_(suspended ? 1 : 0) {
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&cond_, &attr);
        pthread_condattr_destroy(&attr);
        pthread_mutex_init(&mutex_, nullptr);
    }

    ~ThreadControl() {
        pthread_cond_destroy(&cond_);
        pthread_mutex_destroy(&mutex_);
    }

    ThreadControl(const ThreadControl&) = delete;
    ThreadControl& operator=(const ThreadControl&) = delete;

    static void* Main(void* argument);

    std::uint32_t Resume() {
        MutexGuard guard(&mutex_);
        const std::uint32_t previous = suspendCount_;
        if (suspendCount_ > 0 && --suspendCount_ == 0) {
            pthread_cond_broadcast(&cond_);
        }
        return previous;
    }

    bool WaitFinished(std::uint32_t timeoutMs) {
        MutexGuard guard(&mutex_);
        return guard.WaitFor(&cond_, timeoutMs, [this] { return finished_; });
    }

    void MarkTerminated(std::uint32_t exitCode) {
        MutexGuard guard(&mutex_);
        if (!finished_) {
            terminated_ = true;
            exitCode_ = exitCode;
        }
    }

    bool GetExitCode(std::uint32_t& code) {
        MutexGuard guard(&mutex_);
        if (!finished_) {
            return false;
        }
        code = exitCode_;
        return true;
    }

    pthread_t id_{};

private:
    // Marks the end of the thread, also when a cancellation unwinds its stack.
    class FinishMarker {
    public:
        explicit FinishMarker(ThreadControl& control) : control_(control) {}
        ~FinishMarker() {
            MutexGuard guard(&control_.mutex_);
            if (!control_.terminated_) {
                control_.exitCode_ = exitCode;
            }
            control_.finished_ = true;
            pthread_cond_broadcast(&control_.cond_);
        }
        FinishMarker(const FinishMarker&) = delete;
        FinishMarker& operator=(const FinishMarker&) = delete;

        std::uint32_t exitCode = kExitCodeTerminated;

    private:
        ThreadControl& control_;
    };

    void WaitForGate() {
        MutexGuard guard(&mutex_);
        guard.WaitFor(&cond_, kInfiniteTimeout, [this] { return suspendCount_ == 0; });
    }

    const thread_wrapper::EntryRoutine entry_;
    void* const argument_;
    pthread_mutex_t mutex_;
    pthread_cond_t cond_;
    std::uint32_t suspendCount_;
    bool finished_ = false;
    bool terminated_ = false;
    std::uint32_t exitCode_ = 0;
};

void* ThreadControl::Main(void* argument) {
    auto* slot = static_cast<std::shared_ptr<ThreadControl>*>(argument);
    const std::shared_ptr<ThreadControl> control = std::move(*slot);
    delete slot;
    FinishMarker marker(*control);
    control->WaitForGate();
    marker.exitCode = control->entry_(control->argument_);
    return nullptr;
}

thread_wrapper::thread_wrapper() = default;

thread_wrapper::~thread_wrapper() {
    CloseControl();
}

ThreadControl* thread_wrapper::Create(EntryRoutine entry, void* argument, bool suspended) {
    if (held_.load()) {
        throw std::logic_error(FormatErrorText(__FILE__, __LINE__, "Invalid state"));
    }
    CloseControl();
    control_ = std::make_shared<ThreadControl>(entry, argument, suspended);
    // Held before the thread exists: it may give the handle up before pthread_create returns.
    held_.store(true);
    auto* slot = new std::shared_ptr<ThreadControl>(control_);
    pthread_t id{};
    const int rc = pthread_create(&id, nullptr, &ThreadControl::Main, slot);
    if (rc != 0) {
        delete slot;
        control_.reset();
        held_.store(false);
        platform::SetLastError(static_cast<std::uint32_t>(rc));
        throw windows_error(FormatErrorText(__FILE__, __LINE__, "thread_wrapper::Create failed"));
    }
    control_->id_ = id;
    id_.store(nextThreadId.fetch_add(1));
    return control_.get();
}

std::uint32_t thread_wrapper::Resume() {
    if (!held_.load() || !control_) {
        throw std::logic_error(FormatErrorText(__FILE__, __LINE__, "Invalid state"));
    }
    return control_->Resume();
}

bool thread_wrapper::Wait(std::uint32_t timeoutMs) {
    if (!held_.load() || !control_) {
        throw std::logic_error(FormatErrorText(__FILE__, __LINE__, "Invalid state"));
    }
    if (!control_->WaitFinished(timeoutMs)) {
        return false;
    }
    held_.store(false);
    CloseControl();
    return true;
}

void thread_wrapper::ReleaseFromThread() {
    held_.store(false);
}

void thread_wrapper::Terminate(std::uint32_t exitCode) {
    if (!control_) {
        return;
    }
    control_->MarkTerminated(exitCode);
    pthread_cancel(control_->id_);
    control_->WaitFinished(kTerminateGraceMs);
}

bool thread_wrapper::GetExitCode(std::uint32_t& code) const {
    return control_ && control_->GetExitCode(code);
}

void thread_wrapper::CloseControl() {
    if (control_) {
        pthread_detach(control_->id_);
        control_.reset();
    }
}

thread::thread() : stopEvent_(false, false, nullptr, nullptr) {}

thread::~thread() = default;

ThreadControl* thread::Start(bool suspended) {
    if (IsStarted()) {
        throw std::logic_error(FormatErrorText(__FILE__, __LINE__, "thread already started!"));
    }
    stopEvent_.ResetEvent();
    return wrapper_.Create(&thread::EntryRoutine, this, suspended);
}

std::uint32_t thread::Resume() {
    if (!IsStarted()) {
        throw std::logic_error(FormatErrorText(__FILE__, __LINE__, "thread not started!"));
    }
    return wrapper_.Resume();
}

bool thread::Stop(std::uint32_t timeoutMs) {
    if (!IsStarted()) {
        return true;
    }
    try {
        Resume();
    } catch (...) {
        Halden::RethrowForcedUnwind();
        return IsStarted();
    }
    try {
        stopEvent_.SetEvent();
        if (wrapper_.Wait(timeoutMs)) {
            return true;
        }
    } catch (...) {
        Halden::RethrowForcedUnwind();
        // The thread gave its handle up between the checks: it has ended.
        return !IsStarted();
    }
    if (!IsStarted()) {
        return true;
    }
    wrapper_.Terminate(kExitCodeTerminated);
    return false;
}

unsigned thread::EntryRoutine(void* argument) {
    auto* self = static_cast<thread*>(argument);
    try {
        self->Initialize();
        self->Run();
        self->Finalize();
    } catch (...) {
        Halden::RethrowForcedUnwind();
    }
    // Last touch of the object: once released, the owner may destroy it.
    self->wrapper_.ReleaseFromThread();
    return 0;
}
