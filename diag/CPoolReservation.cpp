#include "diag/CPoolReservation.h"

namespace diag {

void CPoolReservation::Reserve(int n)
{
    if (n <= 0)
        return;
    if (!m_pool)
        m_pool = GetSystemThreadPool().cast<TThreadPool>();
    if (!m_pool)
        return; // a pool of another kind: nothing to reserve on
    m_pool->ReserveWorkers(n);
    m_reserved += n;
}

void CPoolReservation::EnsureStarted(const std::vector<SmartPtr<TThreadTask>>& tasks)
{
    if (!m_pool)
        return;
    // A worker takes a task within milliseconds; only a task still waiting after
    // 100 ms is a stranded one, and only then is the pool asked to look again
    // (asking early would start workers that find nothing to do).
    int nudges = 0;
    for (const auto& task : tasks)
        while (!task->WaitForStart(100) && nudges++ < 20)
            m_pool->ReserveWorkers(0); // starts a worker for every job still waiting
}

void CPoolReservation::Release()
{
    if (m_pool && m_reserved > 0)
        m_pool->ReleaseWorkers(m_reserved);
    m_reserved = 0;
    m_pool.reset();
}

} // namespace diag
