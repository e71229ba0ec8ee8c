// The port's locks, as Clang's thread-safety analysis knows them: what each
// lock guards is written beside the field (GUARDED_BY) and what a function
// needs held beside it (REQUIRES), and a clang build with -Wthread-safety
// (make thread-safety) checks every access. Other compilers see plain locks.
#pragma once

#include <chrono>
#include <condition_variable>
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

// A lock that can also be waited for until a deadline. Made of a mutex and
// a condition variable rather than std::timed_mutex: its timed wait on the
// steady clock is pthread_mutex_clocklock, which ThreadSanitizer does not
// see, so every release after a timed lock would read as an unlock of a
// lock not held.
class CAPABILITY("mutex") PortMutex {
public:
    void lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS {
        std::unique_lock<std::mutex> guard(state_);
        released_.wait(guard, [this] { return !held_; });
        held_ = true;
    }
    void unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS {
        {
            const std::lock_guard<std::mutex> guard(state_);
            held_ = false;
        }
        released_.notify_one();
    }
    bool try_lock_until(std::chrono::steady_clock::time_point deadline) TRY_ACQUIRE(true) NO_THREAD_SAFETY_ANALYSIS {
        std::unique_lock<std::mutex> guard(state_);
        if (!released_.wait_until(guard, deadline, [this] { return !held_; })) return false;
        held_ = true;
        return true;
    }

private:
    std::mutex state_;
    std::condition_variable released_;
    bool held_ = false;
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
