#pragma once

#include <cstdint>

namespace platform {

// Where workers post their window messages (what a window handle is on Windows). Post must be
// safe to call from any thread and must not block for long; the message is handled later on
// the receiver's own thread.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

}  // namespace platform
