#pragma once

// The pool tasks a client runs on its sockets: at most one listed per socket,
// plus the ones that were dropped from the list while still running. The list
// is the client's task lock.
//
// Its end (Shutdown) is what lets a client be destroyed safely: it refuses new
// tasks from then on, gives each listed task a bounded wait, cancels it, and
// then waits until every task's function has really returned, so no task ever
// touches a destroyed client.

#include "ferrox/threads/ThreadTask.h"
#include "platform/Sockets.h"

#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace engine {

class CClientTasks
{
public:
    using TaskPtr = SmartPtr<TThreadTask>;

    // Queues the task on the system pool with below-normal priority and lists it
    // under the socket. False (and nothing queued) once the client is closing.
    bool Start(platform::SOCKET socket, TaskPtr task);
    // Queues a task that belongs to no socket's entry (nothing waits for it by
    // socket), but that Shutdown still cancels and waits for.
    bool StartUnlisted(TaskPtr task);
    bool Has(platform::SOCKET socket) const;
    // Waits up to ms (-1: no limit) for the socket's listed task to finish, then
    // removes it from the list. The wait happens without the lock.
    void WaitAndRemove(platform::SOCKET socket, int ms);
    // A replaced socket keeps its running task under the new socket.
    void Rekey(platform::SOCKET from, platform::SOCKET to);
    // Waits until every task that was dropped from the socket's entry has
    // returned: a socket is closed only when no earlier task still uses it.
    // Tasks still queued are cancelled (they never run); the calling task is
    // left out.
    void WaitForRetired(platform::SOCKET socket);
    bool Closing() const;

    // Refuses new tasks; waits up to waitMs (taken within 0 .. MaxShutdownWaitMs)
    // for each listed task to finish, cancels it, and waits for every task,
    // listed or not, to end. A cancelled task leaves its ferrox waits and
    // sleeps at once, and its socket calls end within the client's time-out, so
    // the whole shutdown is bounded.
    void Shutdown(int waitMs);

    // The longest wait for a listed task: the options dialog's longest delay
    // between attempts (600 s).
    static constexpr int MaxShutdownWaitMs = 600 * 1000;

private:
    void Retire(platform::SOCKET socket, TaskPtr task);

    mutable std::recursive_mutex m_lock;
    std::map<platform::SOCKET, TaskPtr> m_tasks;
    // Dropped from the list, maybe still running, with the socket they work on.
    std::vector<std::pair<platform::SOCKET, TaskPtr>> m_retired;
    bool m_closing = false;
};

} // namespace engine
