#pragma once

#include <pthread.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "Halden/windows/win32_thread_utils.h"

// Internal to the thread layer. Holds a pthread mutex for its scope and unlocks it also while a
// cancellation unwinds through pthread_cond_wait (which re-acquires the mutex before the unwind
// starts). The layer keeps pthread primitives rather than std::mutex because waiting must stay a
// cancellation point that forced termination can unwind from.
class MutexGuard {
public:
    explicit MutexGuard(pthread_mutex_t* mutex) : mutex_(mutex) { pthread_mutex_lock(mutex_); }
    ~MutexGuard() { pthread_mutex_unlock(mutex_); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

    // Waits on cond, which must have been made with CLOCK_MONOTONIC, until ready() holds or
    // timeoutMs has passed (kInfiniteTimeout: no limit); returns ready().
    template <typename Ready>
    bool WaitFor(pthread_cond_t* cond, std::uint32_t timeoutMs, Ready ready) {
        if (timeoutMs == kInfiniteTimeout) {
            while (!ready()) {
                pthread_cond_wait(cond, mutex_);
            }
            return true;
        }
        const timespec deadline = DeadlineAfter(timeoutMs);
        while (!ready()) {
            if (pthread_cond_timedwait(cond, mutex_, &deadline) == ETIMEDOUT) {
                break;
            }
        }
        return ready();
    }

private:
    static timespec DeadlineAfter(std::uint32_t timeoutMs) {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += timeoutMs / 1000;
        deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        return deadline;
    }

    pthread_mutex_t* mutex_;
};
