#ifndef LOGSTREAMLOCK_H
#define LOGSTREAMLOCK_H

#include <atomic>
#include <mutex>
#include <thread>

// The log stream's recursive lock.  Its owner is the thread's id, which the
// forking thread keeps in a forked child, so a child can give back what its
// parent's thread held (std::recursive_mutex tracks the kernel thread id,
// which changes across fork).
class LogStreamLock {
public:
    void lock()
    {
        const std::thread::id me = std::this_thread::get_id();
        if (_owner.load(std::memory_order_relaxed) == me) {
            ++_count;
            return;
        }
        _mutex.lock();
        _owner.store(me, std::memory_order_relaxed);
        _count = 1;
    }

    // A thread that does not hold the lock gives nothing back.
    void unlock()
    {
        if (_owner.load(std::memory_order_relaxed) != std::this_thread::get_id())
            return;
        if (--_count > 0)
            return;
        _owner.store(std::thread::id(), std::memory_order_relaxed);
        _mutex.unlock();
    }

private:
    std::mutex _mutex;
    std::atomic<std::thread::id> _owner{std::thread::id()};
    int _count = 0;
};

#endif
