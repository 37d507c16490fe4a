#pragma once

#include <absl/synchronization/mutex.h>

// The thread sanitizer cannot see the lock operations of a prebuilt Abseil: in a sanitized
// build, each acquisition and release of an absl::Mutex is also announced to it, so that it
// sees the ordering the mutex provides instead of reporting races on what it guards.
#if defined(__SANITIZE_THREAD__)
#define POLVANE_TSAN_ENABLED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define POLVANE_TSAN_ENABLED 1
#endif
#endif

#ifdef POLVANE_TSAN_ENABLED
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace orvex {
namespace detail {

inline void announce_acquire([[maybe_unused]] absl::Mutex* mutex) {
#ifdef POLVANE_TSAN_ENABLED
    __tsan_acquire(mutex);
#endif
}

inline void announce_release([[maybe_unused]] absl::Mutex* mutex) {
#ifdef POLVANE_TSAN_ENABLED
    __tsan_release(mutex);
#endif
}

/// Holds an absl::Mutex as a reader for its scope.
class ReaderLock {
public:
    explicit ReaderLock(absl::Mutex* mutex) : mutex_(mutex) {
        mutex_->ReaderLock();
        announce_acquire(mutex_);
    }

    ~ReaderLock() {
        announce_release(mutex_);
        mutex_->ReaderUnlock();
    }

    ReaderLock(const ReaderLock&) = delete;
    ReaderLock& operator=(const ReaderLock&) = delete;

private:
    absl::Mutex* mutex_;
};

/// Holds an absl::Mutex as a writer for its scope.
class WriterLock {
public:
    explicit WriterLock(absl::Mutex* mutex) : mutex_(mutex) {
        mutex_->WriterLock();
        announce_acquire(mutex_);
    }

    ~WriterLock() {
        announce_release(mutex_);
        mutex_->WriterUnlock();
    }

    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

private:
    absl::Mutex* mutex_;
};

}  // namespace detail
}  // namespace orvex
