#pragma once

#include <cxxabi.h>

namespace Halden {

// The first statement of every catch (...) that a worker thread can pass through. A forced stop
// (pthread_cancel) unwinds the thread's stack with abi::__forced_unwind; a handler that swallows
// it makes the runtime abort the whole process, so it is thrown on from here. Any other exception
// stays with the handler.
inline void RethrowForcedUnwind() {
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
}

}  // namespace Halden
