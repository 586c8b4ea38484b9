#pragma once

#include "ferrox/FerroxApi.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Wait results, in the system's numbering.
constexpr unsigned INFINITE = 0xFFFFFFFFu;
constexpr unsigned WAIT_OBJECT_0 = 0;
constexpr unsigned WAIT_TIMEOUT = 258;
constexpr unsigned WAIT_IO_COMPLETION = 0xC0;

class TWaitable;

// The alert state of one thread: the queue of asynchronous calls addressed to it
// and its cooperative suspension count. Every ferrox wait and sleep of that
// thread is "alertable": a queued call wakes it, runs on it, and the wait returns
// WAIT_IO_COMPLETION (or leaves by the exception the call threw).
class FERROX_API TThreadAlert
{
public:
    TThreadAlert() = default;
    TThreadAlert(const TThreadAlert&) = delete;
    TThreadAlert& operator=(const TThreadAlert&) = delete;

    // The calling thread's alert state (created on first use).
    static std::shared_ptr<TThreadAlert> Current();

    // Queues a call to run on this thread at its next alertable wait.
    void QueueCall(std::function<void()> call);
    bool HasCalls() const;
    // Runs and removes the queued calls on the calling thread (which must be the
    // owner). Returns whether any ran; an exception of a call propagates.
    bool RunCalls();

    // Cooperative suspension: takes effect at the thread's next ferrox wait.
    void Suspend();
    void Resume();
    // Drops every suspension not yet resumed (a pool worker between two jobs:
    // a suspension belongs to the job it was asked for).
    void ClearSuspension();
    // Blocks the calling (owning) thread while it is suspended.
    void WaitWhileSuspended();

private:
    friend class TWaitable;
    friend unsigned SleepEx(unsigned, bool);
    // The object the owner is blocked on, so a queued call can wake it.
    void Register(TWaitable* waitable);
    void Unregister();

    mutable std::mutex m_lock;
    std::condition_variable m_resumed;
    std::vector<std::function<void()>> m_calls;
    // Readable under a waited object's lock without taking m_lock: the owner
    // must never take its alert lock while it holds an object lock.
    std::atomic<bool> m_pending{false};
    TWaitable* m_waitingOn = nullptr;
    int m_suspendCount = 0;
};

// Base of every object a thread can wait for.
class FERROX_API TWaitable
{
public:
    TWaitable() = default;
    TWaitable(const TWaitable&) = delete;
    TWaitable& operator=(const TWaitable&) = delete;
    virtual ~TWaitable();

    // Waits for the object for ms milliseconds (INFINITE: no limit). Returns
    // WAIT_OBJECT_0 when it was signalled (an auto-reset kind is consumed),
    // WAIT_TIMEOUT, or, when alertable, WAIT_IO_COMPLETION after queued calls ran.
    unsigned Wait(unsigned ms, bool alertable = true);

protected:
    // Called with the object's lock held: take the signal if there is one.
    virtual bool TryAcquireLocked() = 0;
    // Wakes the waiters; call with the lock held.
    void NotifyAllLocked() { m_changed.notify_all(); }
    void NotifyOneLocked() { m_changed.notify_one(); }
    std::mutex& ObjectLock() const { return m_lock; }

private:
    friend class TThreadAlert;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
};

// SleepEx: alertable sleep; returns 0 after the full time or WAIT_IO_COMPLETION
// when queued calls ended it early. Sleep is alertable as well.
FERROX_API unsigned SleepEx(unsigned ms, bool alertable);
FERROX_API void Sleep(unsigned ms);
// Gives the processor to another thread.
FERROX_API void SwitchToThread();
