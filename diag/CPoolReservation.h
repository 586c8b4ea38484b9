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

    // Waits (about two seconds at most) until every task has been taken by a
    // worker. The pool counts a worker as idle until just after it has taken a
    // job, so a job added in that moment can be left in the queue with no worker
    // started for it; while a task waits, the pool is asked to look again.
    void EnsureStarted(const std::vector<SmartPtr<TThreadTask>>& tasks);

private:
    SmartPtr<TThreadPool> m_pool;
    int m_reserved = 0;
};

} // namespace diag
