#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/MessageTarget.h"

namespace platform {

struct Message {
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// A MessageTarget that queues messages in posting order for a thread that takes them.
class MessageQueue : public MessageTarget {
public:
    void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // Blocks until a message is there.
    Message Take();
    // False when no message arrived within timeout.
    bool Take(Message& out, std::chrono::milliseconds timeout);
    bool TryTake(Message& out);
    std::size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Message> messages_;
};

}  // namespace platform
