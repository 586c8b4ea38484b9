#pragma once

// The workers of an echo or route engine: one long-running pool task per
// target, the running flag they look at, the stop event that ends their sleeps
// at once, and the pool workers reserved for them while any may run.
//
// Threads: Start, Stop and WaitForAll on the engine's controlling thread (the
// GUI thread, or the pool task that destroys a retired engine: see
// diag/CEngineRetirement.h); Running and Sleep on the workers.

#include "diag/CPoolReservation.h"
#include "ferrox/sync/Event.h"
#include "ferrox/threads/ThreadTask.h"

#include <atomic>
#include <functional>
#include <vector>

namespace diag {

class CEchoWorkers final
{
public:
    CEchoWorkers() = default;
    ~CEchoWorkers() { WaitForAll(); }
    CEchoWorkers(const CEchoWorkers&) = delete;
    CEchoWorkers& operator=(const CEchoWorkers&) = delete;

    // Reserves `tasks.size()` pool workers, sets the running flag and queues the
    // tasks (with the priority when it is not normal). A worker of an earlier run
    // that may still be inside its last call is waited for first: two workers
    // must never share a target's buffers.
    void Start(std::vector<SmartPtr<TThreadTask>> tasks, int priority);
    // Clears the running flag and wakes every sleeping worker, and returns at
    // once: a worker inside its echo call or name look-up returns when that
    // ends (the engine makes sure it changes nothing after the stop). Such
    // workers are waited for by the next Start or WaitForAll.
    void Stop();
    // Waits until every worker has returned, then gives the reserved pool
    // workers back.
    void WaitForAll();

    bool Running() const { return m_running.load(); }
    // During a run (between Start and Stop): true when every worker has
    // returned by itself.
    bool AllReturned() const;
    // The worker's pause: ends early (true) when the engine stops.
    bool Sleep(unsigned ms) { return m_stop.Wait(ms, true) == WAIT_OBJECT_0; }

private:
    std::atomic<bool> m_running{false};
    TEvent m_stop{true, false};
    std::vector<SmartPtr<TThreadTask>> m_tasks;   // the running workers
    std::vector<SmartPtr<TThreadTask>> m_stopped; // stopped, maybe still returning
    CPoolReservation m_reservation;
};

} // namespace diag
