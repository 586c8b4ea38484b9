#pragma once

// Workers of the process-wide pool reserved for long-running tasks.
//
// Each echo or route target runs one worker for as long as the engine runs. On
// the pool's shared limit (50 by default) such workers would take the threads
// that the channel check, the event filter and every client task rely on, and
// targets beyond the limit would wait in the queue unprobed. So an engine raises
// the limit by its number of targets while its workers may run, and gives the
// workers back once every one of them has returned.
//
// Threads: the owning engine's controlling (GUI) thread.

#include "ferrox/threads/ThreadPool.h"
#include "ferrox/threads/ThreadTask.h"

#include <vector>

namespace diag {

class CPoolReservation final
{
public:
    CPoolReservation() = default;
    ~CPoolReservation() { Release(); }
    CPoolReservation(const CPoolReservation&) = delete;
    CPoolReservation& operator=(const CPoolReservation&) = delete;

    // Adds n workers to the system pool's limit (on top of any held already).
    void Reserve(int n);
    // Gives every reserved worker back; idle workers above the limit then leave.
    void Release();
    int Reserved() const { return m_reserved; }

private:
    SmartPtr<TThreadPool> m_pool;
    int m_reserved = 0;
};

} // namespace diag
