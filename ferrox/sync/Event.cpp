#include "ferrox/sync/Event.h"

#include <map>
#include <mutex>

TEvent::TEvent(bool manualReset, bool initialState)
    : m_manualReset(manualReset), m_signalled(initialState)
{}

void TEvent::Set()
{
    std::lock_guard<std::mutex> lock(ObjectLock());
    m_signalled = true;
    if (m_manualReset)
        NotifyAllLocked();
    else
        NotifyOneLocked(); // one waiter takes the signal
}

void TEvent::Reset()
{
    std::lock_guard<std::mutex> lock(ObjectLock());
    m_signalled = false;
}

bool TEvent::IsSet() const
{
    std::lock_guard<std::mutex> lock(ObjectLock());
    return m_signalled;
}

bool TEvent::TryAcquireLocked()
{
    if (!m_signalled)
        return false;
    if (!m_manualReset)
        m_signalled = false;
    return true;
}

std::shared_ptr<TEvent> OpenNamedEvent(const std::string& name, bool manualReset, bool initialState)
{
    static std::mutex lock;
    static std::map<std::string, std::weak_ptr<TEvent>> events;
    std::lock_guard<std::mutex> guard(lock);
    if (auto existing = events[name].lock())
        return existing;
    auto created = std::make_shared<TEvent>(manualReset, initialState);
    events[name] = created;
    return created;
}
