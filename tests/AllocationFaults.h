#pragma once

// Replaces operator new for one test program so that a test can make one allocation fail.
// Include it in exactly one file of the program. ThreadSanitizer's runtime brings its own
// operator new, so under it there are no allocation faults (REFLASHER_NO_ALLOCATION_FAULTS).

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define REFLASHER_NO_ALLOCATION_FAULTS
#endif
#endif

#ifndef REFLASHER_NO_ALLOCATION_FAULTS

namespace allocation_faults {

// The next allocation of this size fails with std::bad_alloc; 0 when none is to fail (also once
// it has). With onThread set, only an allocation on that thread; otherwise only one on another
// thread than the test program's first.
inline std::atomic<std::size_t> size{0};
inline std::atomic<bool> onTestThread{false};
inline const std::thread::id testThread = std::this_thread::get_id();

inline void FailNext(std::size_t bytes, bool onThisThread) {
    onTestThread = onThisThread;
    size = bytes;
}

}  // namespace allocation_faults

void* operator new(std::size_t size) {
    std::size_t expected = size;
    const bool here = std::this_thread::get_id() == allocation_faults::testThread;
    if (here == allocation_faults::onTestThread.load() &&
        allocation_faults::size.compare_exchange_strong(expected, 0)) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
// Not inlined, so that the compiler does not take free() for a mismatch of new.
[[gnu::noinline]] void operator delete(void* memory) noexcept {
    std::free(memory);
}
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

#endif
