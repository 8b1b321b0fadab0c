#include "platform/MessageQueue.h"

namespace platform {

void MessageQueue::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(Message{message, wParam, lParam});
    }
    arrived_.notify_all();
}

Message MessageQueue::Take() {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait(lock, [this] { return !messages_.empty(); });
    const Message message = messages_.front();
    messages_.pop_front();
    return message;
}

bool MessageQueue::Take(Message& out, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !messages_.empty(); })) {
        return false;
    }
    out = messages_.front();
    messages_.pop_front();
    return true;
}

bool MessageQueue::TryTake(Message& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (messages_.empty()) {
        return false;
    }
    out = messages_.front();
    messages_.pop_front();
    return true;
}

std::size_t MessageQueue::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
}

}  // namespace platform
