#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace simulator {

// What the emulation of one side of a USB device has in common: it is on the bus until it is
// unplugged, and the work it hands back to its callers (completions, the host's hooks) runs after
// its lock is released.
class BusDevice {
public:
    // The device leaves the bus. False when it had left already.
    bool Unplug();
    bool Present() const;

protected:
    using Actions = std::vector<std::function<void()>>;

    BusDevice() = default;
    virtual ~BusDevice() = default;
    BusDevice(const BusDevice&) = delete;
    BusDevice& operator=(const BusDevice&) = delete;

    // Called with mutex_ held, on the way off the bus; what it leaves in after runs without it.
    virtual void UnplugLocked(Actions& after) = 0;
    static void Run(Actions& after);

    mutable std::mutex mutex_;
    bool present_ = true;  // guarded by mutex_
};

}  // namespace simulator
