#include "ferrox/sync/Semaphore.h"

TSemaphore::TSemaphore(long initialCount, long maximumCount)
    : m_count(initialCount), m_maximum(maximumCount)
{}

bool TSemaphore::Release(long count, long* previousCount)
{
    std::lock_guard<std::mutex> lock(ObjectLock());
    if (count <= 0 || m_count > m_maximum - count)
        return false;
    if (previousCount)
        *previousCount = m_count;
    m_count += count;
    // One waiter per count: waking every idle pool worker for one job would only
    // send all but one back to sleep. (A woken waiter takes a count before it
    // looks at anything else, so no wake-up is lost.)
    if (count == 1)
        NotifyOneLocked();
    else
        NotifyAllLocked();
    return true;
}

long TSemaphore::Count() const
{
    std::lock_guard<std::mutex> lock(ObjectLock());
    return m_count;
}

bool TSemaphore::TryAcquireLocked()
{
    if (m_count <= 0)
        return false;
    --m_count;
    return true;
}
