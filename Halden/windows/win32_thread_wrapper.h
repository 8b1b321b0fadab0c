#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "Halden/windows/win32_thread_utils.h"

// The operating-system thread behind a thread_wrapper; opaque outside the wrapper.
class ThreadControl;

// Owns one thread. The handle counts as held from Create until either the thread gives it up
// (ReleaseFromThread) or a Wait sees the thread end; whichever comes first releases it, and the
// operating-system resources are closed once, by the controlling side. Create, Resume, Wait,
// Terminate and destruction belong to the controlling thread; HasThread may be asked anywhere.
// Misuse throws std::logic_error, failed system calls windows_error.
class thread_wrapper {
public:
    using EntryRoutine = unsigned (*)(void* argument);

    thread_wrapper();
    thread_wrapper(const thread_wrapper&) = delete;
    thread_wrapper& operator=(const thread_wrapper&) = delete;
    // Closes a held handle; neither waits for nor stops the thread.
    virtual ~thread_wrapper();

    // Starts entry(argument); a suspended thread waits until Resume brings its count to 0.
    ThreadControl* Create(EntryRoutine entry, void* argument, bool suspended);
    // The previous suspend count.
    std::uint32_t Resume();
    // True when the thread ended within timeoutMs; the handle is then released.
    bool Wait(std::uint32_t timeoutMs);
    bool HasThread() const { return held_.load(); }
    std::uint32_t GetId() const { return id_.load(); }

    // Called on the thread itself, as its last use of the wrapper: gives the handle up.
    void ReleaseFromThread();
    // Forced termination: cancels the thread (its stack unwinds at the next cancellation point)
    // and gives the unwind a bounded time to finish. The handle stays held.
    void Terminate(std::uint32_t exitCode);
    // The exit code of an ended thread; false while it runs or when no thread was created.
    bool GetExitCode(std::uint32_t& code) const;

private:
    void CloseControl();

    std::atomic<std::uint32_t> id_{0};
    std::atomic<bool> held_{false};
    std::shared_ptr<ThreadControl> control_;
};

// A worker: a stop event plus a thread that runs Initialize, Run and Finalize. An exception from
// a step ends the steps and is swallowed; a forced stop unwinds through them. Owners call Stop
// before destroying a started worker.
class thread {
public:
    thread();
    thread(const thread&) = delete;
    thread& operator=(const thread&) = delete;
    virtual ~thread();

    virtual void Initialize() = 0;
    virtual void Run() = 0;
    virtual void Finalize() = 0;

    ThreadControl* Start(bool suspended = false);
    std::uint32_t Resume();
    // Turns false by itself once the steps have finished.
    bool IsStarted() const { return wrapper_.HasThread(); }
    // Signals the stop event and waits up to timeoutMs; a thread still running then is terminated
    // (exit code 0xFFFFFFFF), false is returned and IsStarted stays true. Never throws, though a
    // forced stop of the calling thread unwinds through it.
    bool Stop(std::uint32_t timeoutMs);
    bool GetExitCode(std::uint32_t& code) const { return wrapper_.GetExitCode(code); }

protected:
    // Auto-reset, reset by Start, set by Stop.
    Event& GetStopEvent() { return stopEvent_; }

private:
    static unsigned EntryRoutine(void* argument);

    Event stopEvent_;
    thread_wrapper wrapper_;
};
