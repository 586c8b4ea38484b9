#pragma once

#include "ferrox/sync/Waitable.h"

#include <thread>

// A recursive mutex that can also be waited for with a time-out: the thread that
// holds it may take it again; each take needs one Unlock.
class FERROX_API TMutex : public TWaitable
{
public:
    TMutex() = default;
    // Takes the mutex, waiting without a limit (not alertable: a lock is not a wait
    // that an interrupt should break).
    void Lock();
    bool TryLock();
    void Unlock();

protected:
    bool TryAcquireLocked() override;

private:
    std::thread::id m_owner;
    unsigned m_depth = 0;
};

// The critical section: a plain recursive lock for short sections.
class FERROX_API TCriticalSection
{
public:
    void Enter() { m_lock.lock(); }
    bool TryEnter() { return m_lock.try_lock(); }
    void Leave() { m_lock.unlock(); }
    // Satisfies BasicLockable, so std::lock_guard and std::scoped_lock work.
    void lock() { Enter(); }
    void unlock() { Leave(); }
    bool try_lock() { return TryEnter(); }

private:
    std::recursive_mutex m_lock;
};

// Holds a TMutex (or anything with Lock/Unlock) for a scope.
template <class L>
class TLockGuard
{
public:
    explicit TLockGuard(L& lock) : m_lock(lock) { m_lock.Lock(); }
    ~TLockGuard() { m_lock.Unlock(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    L& m_lock;
};
