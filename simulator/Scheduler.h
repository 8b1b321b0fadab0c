#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace simulator {

// Runs tasks after a delay on one thread of its own, in the order of their due times. The
// printer's timed behaviour (a stalled status answer, a restart, an unplug after a stall) runs
// here, so that no handler of the emulation has to sleep.
//
// Thread-safe. Tasks run without the scheduler's lock held; a task may schedule further tasks.
// Destruction drops the tasks not yet due and joins the thread.
class Scheduler {
public:
    Scheduler();
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    void After(std::uint32_t milliseconds, std::function<void()> task);

private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace simulator
