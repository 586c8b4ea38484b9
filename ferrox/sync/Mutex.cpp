#include "ferrox/sync/Mutex.h"

void TMutex::Lock()
{
    Wait(INFINITE, false);
}

bool TMutex::TryLock()
{
    return Wait(0, false) == WAIT_OBJECT_0;
}

void TMutex::Unlock()
{
    std::lock_guard<std::mutex> lock(ObjectLock());
    if (m_depth == 0 || m_owner != std::this_thread::get_id())
        return; // not ours: releasing someone else's mutex is refused, as the system does
    if (--m_depth == 0) {
        m_owner = std::thread::id();
        NotifyAllLocked();
    }
}

bool TMutex::TryAcquireLocked()
{
    const std::thread::id self = std::this_thread::get_id();
    if (m_depth == 0) {
        m_owner = self;
        m_depth = 1;
        return true;
    }
    if (m_owner == self) {
        ++m_depth;
        return true;
    }
    return false;
}
