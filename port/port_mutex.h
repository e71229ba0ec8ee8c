// The port's locks, as Clang's thread-safety analysis knows them: what each
// lock guards is written beside the field (GUARDED_BY) and what a function
// needs held beside it (REQUIRES), and a clang build with -Wthread-safety
// (make thread-safety) checks every access. Other compilers see plain locks.
#pragma once

#include <chrono>
#include <mutex>

#if defined(__clang__)
#define KESTROVA_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define KESTROVA_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) KESTROVA_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY KESTROVA_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) KESTROVA_THREAD_ATTRIBUTE(guarded_by(x))
#define REQUIRES(...) KESTROVA_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) KESTROVA_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KESTROVA_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KESTROVA_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) KESTROVA_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS KESTROVA_THREAD_ATTRIBUTE(no_thread_safety_analysis)

namespace kestrova {

// A lock that can also be waited for until a deadline.
class CAPABILITY("mutex") PortMutex {
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock_until(std::chrono::steady_clock::time_point deadline) TRY_ACQUIRE(true) {
        return mutex_.try_lock_until(deadline);
    }

private:
    std::timed_mutex mutex_;
};

// Holds a PortMutex for its scope.
class SCOPED_CAPABILITY PortMutexLock {
public:
    explicit PortMutexLock(PortMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~PortMutexLock() RELEASE() { mutex_.unlock(); }
    PortMutexLock(const PortMutexLock&) = delete;
    PortMutexLock& operator=(const PortMutexLock&) = delete;

private:
    PortMutex& mutex_;
};

}  // namespace kestrova
