#include "simulator/Scheduler.h"

namespace simulator {

Scheduler::Scheduler() : thread_([this] { Loop(); }) {}

Scheduler::~Scheduler() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Scheduler::After(std::uint32_t milliseconds, std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.emplace(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds),
                       std::move(task));
    }
    wake_.notify_all();
}

void Scheduler::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (tasks_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto first = tasks_.begin();
        if (std::chrono::steady_clock::now() < first->first) {
            wake_.wait_until(lock, first->first);
            continue;
        }
        std::function<void()> task = std::move(first->second);
        tasks_.erase(first);
        lock.unlock();
        task();
        lock.lock();
    }
}

}  // namespace simulator
