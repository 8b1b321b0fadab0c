#pragma once

#include <cstdint>

// Timeout value meaning "wait without limit" for every Wait of the thread layer.
constexpr std::uint32_t kInfiniteTimeout = 0xFFFFFFFF;

// The waitable operating-system object behind a BaseSyncObject.
class SyncHandle {
public:
    virtual ~SyncHandle();
    // True when the object was signalled within timeoutMs.
    virtual bool Wait(std::uint32_t timeoutMs) = 0;
};

// Owns one waitable handle (0 when none); destruction closes it. Misuse throws std::logic_error
// with a FormatErrorText message.
class BaseSyncObject {
public:
    BaseSyncObject(const BaseSyncObject&) = delete;
    BaseSyncObject& operator=(const BaseSyncObject&) = delete;
    virtual ~BaseSyncObject();

    // True exactly when the object was signalled within timeoutMs (kInfiniteTimeout: no limit).
    virtual bool Wait(std::uint32_t timeoutMs);
    virtual bool Release() = 0;

    SyncHandle* GetHandle() const { return handle_; }

protected:
    BaseSyncObject();
    SyncHandle* handle_ = nullptr;
};

// A manual- or auto-reset event. An auto-reset event lets exactly one successful wait through per
// SetEvent. Waiting is a thread cancellation point, so a forcibly terminated worker can be blocked
// here. Names and security attributes have no meaning on this platform and are ignored.
class Event : public BaseSyncObject {
public:
    Event(bool initialState, bool manualReset, const wchar_t* name = nullptr,
          const void* securityAttributes = nullptr);
    ~Event() override;

    bool SetEvent();
    bool ResetEvent();
    bool Release() override;
};
