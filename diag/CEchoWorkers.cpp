#include "diag/CEchoWorkers.h"

#include "ferrox/threads/ThreadPool.h"

#include <algorithm>

namespace diag {

void CEchoWorkers::Start(std::vector<SmartPtr<TThreadTask>> tasks, int priority)
{
    WaitForAll();
    m_stop.Reset();
    m_running = true;
    m_reservation.Reserve(static_cast<int>(tasks.size()));
    for (auto& task : tasks) {
        if (priority != THREAD_PRIORITY_NORMAL)
            task->SetPriority(priority);
        GetSystemThreadPool()->AddTask(task);
        m_tasks.push_back(task);
    }
}

void CEchoWorkers::Stop()
{
    m_running = false;
    m_stop.Set();
    m_stopped.insert(m_stopped.end(), m_tasks.begin(), m_tasks.end());
    m_tasks.clear();
    // Workers that are all back give their pool workers back now; otherwise
    // that waits for the next Start or the engine's end. (A second Stop must
    // not wait either: it finds the first one's workers still returning.)
    if (std::all_of(m_stopped.begin(), m_stopped.end(),
                    [](const SmartPtr<TThreadTask>& task) { return task->WaitForEnd(0); }))
        WaitForAll();
}

void CEchoWorkers::WaitForAll()
{
    for (auto& task : m_stopped)
        task->WaitForEnd(-1);
    m_stopped.clear();
    if (m_tasks.empty())
        m_reservation.Release();
}

bool CEchoWorkers::AllReturned() const
{
    return !m_tasks.empty() &&
           std::all_of(m_tasks.begin(), m_tasks.end(),
                       [](const SmartPtr<TThreadTask>& task) { return task->WaitForEnd(0); });
}

} // namespace diag
