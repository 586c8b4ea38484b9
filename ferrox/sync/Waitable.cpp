#include "ferrox/sync/Waitable.h"

#include "ferrox/system/ThreadLocal.h"

#include <chrono>
#include <sched.h>

namespace {

using Clock = std::chrono::steady_clock;

// What a thread waits on while it sleeps: an object that is never signalled, so
// only the time-out or a queued call ends the wait.
class TSleepObject final : public TWaitable
{
protected:
    bool TryAcquireLocked() override { return false; }
};

} // namespace

namespace {
struct AlertTag;
using AlertSlot = TThreadLocal<std::shared_ptr<TThreadAlert>, AlertTag>;
} // namespace

std::shared_ptr<TThreadAlert> TThreadAlert::Current()
{
    std::shared_ptr<TThreadAlert>* slot = AlertSlot::Get();
    if (slot == nullptr) // the thread is past its thread-local destructors
        return std::make_shared<TThreadAlert>();
    if (!*slot)
        *slot = std::make_shared<TThreadAlert>();
    return *slot;
}

void TThreadAlert::QueueCall(std::function<void()> call)
{
    // Lock order: the alert lock, then the waited object's lock. The owner never
    // holds an object lock while it takes its alert lock, and it cannot leave its
    // wait (unregister) while we hold the alert lock, so the object stays alive.
    std::lock_guard<std::mutex> alertLock(m_lock);
    m_calls.push_back(std::move(call));
    m_pending = true;
    if (m_waitingOn) {
        std::lock_guard<std::mutex> objectLock(m_waitingOn->m_lock);
        m_waitingOn->m_changed.notify_all();
    }
    m_resumed.notify_all();
}

bool TThreadAlert::HasCalls() const
{
    return m_pending.load();
}

bool TThreadAlert::RunCalls()
{
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        calls.swap(m_calls);
        m_pending = false;
    }
    for (std::size_t i = 0; i < calls.size(); ++i) {
        try {
            calls[i]();
        } catch (...) {
            // The calls not yet run stay queued for the next wait.
            std::lock_guard<std::mutex> lock(m_lock);
            m_calls.insert(m_calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                           calls.end());
            m_pending = !m_calls.empty();
            throw;
        }
    }
    return !calls.empty();
}

void TThreadAlert::Suspend()
{
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_suspendCount;
}

void TThreadAlert::Resume()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_suspendCount > 0 && --m_suspendCount == 0)
        m_resumed.notify_all();
}

void TThreadAlert::ClearSuspension()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_suspendCount != 0) {
        m_suspendCount = 0;
        m_resumed.notify_all();
    }
}

void TThreadAlert::WaitWhileSuspended()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_resumed.wait(lock, [this] { return m_suspendCount == 0; });
}

void TThreadAlert::Register(TWaitable* waitable)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_waitingOn = waitable;
}

void TThreadAlert::Unregister()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_waitingOn = nullptr;
}

TWaitable::~TWaitable() = default;

unsigned TWaitable::Wait(unsigned ms, bool alertable)
{
    const std::shared_ptr<TThreadAlert>& alert = TThreadAlert::Current();
    alert->WaitWhileSuspended();

    const bool infinite = ms == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : ms);

    if (alertable)
        alert->Register(this);
    struct Unregister
    {
        TThreadAlert* alert;
        bool active;
        ~Unregister()
        {
            if (active)
                alert->Unregister();
        }
    } unregister{alert.get(), alertable};

    bool alerted = false;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            if (TryAcquireLocked())
                return WAIT_OBJECT_0;
            if (alertable && alert->HasCalls()) {
                alerted = true;
                break;
            }
            if (infinite) {
                m_changed.wait(lock);
            } else if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
                if (TryAcquireLocked())
                    return WAIT_OBJECT_0;
                if (alertable && alert->HasCalls()) {
                    alerted = true;
                    break;
                }
                return WAIT_TIMEOUT;
            }
        }
    }
    // The queued calls run without any lock held; one that throws (an interrupt)
    // leaves the wait by that exception.
    if (alerted) {
        unregister.active = false;
        alert->Unregister();
        alert->RunCalls();
        return WAIT_IO_COMPLETION;
    }
    return WAIT_TIMEOUT;
}

unsigned SleepEx(unsigned ms, bool alertable)
{
    TSleepObject sleeper;
    unsigned result = sleeper.Wait(ms, alertable);
    return result == WAIT_IO_COMPLETION ? WAIT_IO_COMPLETION : 0;
}

void Sleep(unsigned ms)
{
    SleepEx(ms, true);
}

void SwitchToThread()
{
    sched_yield();
}
