#pragma once

#include <linux/ioctl.h>

// Requests that the open shim (liborvane-usblp-shim.so) makes on an emulated usblp node, so that
// the emulation can refuse an open as the driver does (EBUSY, ENODEV) and learn of a close before
// the descriptor is gone. The real driver does not know them.
namespace simulator {

// arg: the open's flags. 0, or fails with the errno the open must fail with.
constexpr unsigned long kShimOpenRequest = _IO('P', 0x60);
constexpr unsigned long kShimCloseRequest = _IO('P', 0x61);
constexpr const char kShimLibrary[] = "liborvane-usblp-shim.so";

}  // namespace simulator
