#include "simulator/BusDevice.h"

namespace simulator {

bool BusDevice::Unplug() {
    Actions after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!present_) {
            return false;
        }
        UnplugLocked(after);
    }
    Run(after);
    return true;
}

bool BusDevice::Present() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return present_;
}

void BusDevice::Run(Actions& after) {
    for (auto& action : after) {
        action();
    }
}

}  // namespace simulator
