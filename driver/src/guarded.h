// Guarded<T>: a value that is reachable only through an Access, which holds the value's mutex
// for as long as it lives. Breaking the locking rule then does not compile.
#pragma once

#include <condition_variable>
#include <mutex>
#include <utility>

namespace chirolink {

template <typename T>
class Guarded {
public:
    template <typename... Args>
    explicit Guarded(Args&&... args) : value_(std::forward<Args>(args)...) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    /// The value, with the mutex held until the Access goes.
    class Access {
    public:
        T* operator->() const { return value_; }
        T& operator*() const { return *value_; }
        /// Waits on `condition` with the mutex released meanwhile, until `ready()` holds or
        /// `timeout` passes; whether it holds.
        template <typename Duration, typename Ready>
        bool waitFor(std::condition_variable& condition, Duration timeout, Ready ready) {
            return condition.wait_for(lock_, timeout, ready);
        }
        template <typename Ready>
        void wait(std::condition_variable& condition, Ready ready) {
            condition.wait(lock_, ready);
        }

    private:
        friend class Guarded;
        Access(std::mutex& mutex, T& value) : lock_(mutex), value_(&value) {}
        std::unique_lock<std::mutex> lock_;
        T* value_;
    };

    Access lock() { return Access(mutex_, value_); }
    /// Read-only access; still under the lock.
    class ConstAccess {
    public:
        const T* operator->() const { return value_; }
        const T& operator*() const { return *value_; }

    private:
        friend class Guarded;
        ConstAccess(std::mutex& mutex, const T& value) : lock_(mutex), value_(&value) {}
        std::unique_lock<std::mutex> lock_;
        const T* value_;
    };
    ConstAccess lock() const { return ConstAccess(mutex_, value_); }

    /// For fork(): the mutex held across the fork by the thread that forks, and given back in
    /// the parent and the child. Nothing else takes the mutex by hand.
    void holdForFork() { mutex_.lock(); }
    void releaseAfterFork() { mutex_.unlock(); }
    /// The value, while holdForFork holds the mutex: for the forking thread and the child.
    T& valueHeldForFork() { return value_; }

private:
    mutable std::mutex mutex_;
    T value_;
};

}  // namespace chirolink
