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

void CPoolReservation::Release()
{
    if (m_pool && m_reserved > 0)
        m_pool->ReleaseWorkers(m_reserved);
    m_reserved = 0;
    m_pool.reset();
}

} // namespace diag
