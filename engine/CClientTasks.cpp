#include "engine/CClientTasks.h"

#include "ferrox/threads/ThreadPool.h"

#include <algorithm>

namespace engine {

bool CClientTasks::Start(platform::SOCKET socket, TaskPtr task)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closing)
        return false;
    task->SetPriority(THREAD_PRIORITY_BELOW_NORMAL);
    GetSystemThreadPool()->AddTask(task);
    auto it = m_tasks.find(socket);
    if (it != m_tasks.end())
        Retire(socket, it->second);
    m_tasks[socket] = task;
    return true;
}

bool CClientTasks::StartUnlisted(TaskPtr task)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closing)
        return false;
    task->SetPriority(THREAD_PRIORITY_BELOW_NORMAL);
    GetSystemThreadPool()->AddTask(task);
    Retire(platform::INVALID_SOCKET, task);
    return true;
}

bool CClientTasks::Has(platform::SOCKET socket) const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_tasks.count(socket) != 0;
}

void CClientTasks::WaitAndRemove(platform::SOCKET socket, int ms)
{
    TaskPtr task;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        auto it = m_tasks.find(socket);
        if (it == m_tasks.end())
            return;
        task = it->second;
    }
    task->WaitForFinish(ms);
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto it = m_tasks.find(socket);
    if (it != m_tasks.end() && it->second == task) {
        Retire(socket, task);
        m_tasks.erase(it);
    }
}

void CClientTasks::Rekey(platform::SOCKET from, platform::SOCKET to)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto it = m_tasks.find(from);
    if (it == m_tasks.end() || from == to)
        return;
    TaskPtr task = it->second;
    m_tasks.erase(it);
    auto existing = m_tasks.find(to);
    if (existing != m_tasks.end())
        Retire(to, existing->second);
    m_tasks[to] = task;
}

bool CClientTasks::Closing() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_closing;
}

void CClientTasks::Retire(platform::SOCKET socket, TaskPtr task)
{
    // Keep a task until its function has returned; drop the ones that have.
    m_retired.erase(std::remove_if(m_retired.begin(), m_retired.end(),
                                   [](const auto& entry) { return entry.second->WaitForEnd(0); }),
                    m_retired.end());
    if (!task->WaitForEnd(0))
        m_retired.emplace_back(socket, task);
}

void CClientTasks::WaitForRetired(platform::SOCKET socket)
{
    std::vector<TaskPtr> waiting;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        // Never the calling task itself: a reconnect that was retired while
        // it waited in the queue would wait for its own end for ever.
        for (const auto& [s, task] : m_retired) {
            if (s == socket && task.get() != TThreadTask::Current())
                waiting.push_back(task);
        }
    }
    // One still in the queue is superseded by the caller and never runs (the
    // caller, itself on a worker, must not wait for a worker that may never
    // come free); one that runs is bounded: a probe's send and receive each end
    // within TimeOut.
    for (auto& task : waiting) {
        if (!task->IsStarted())
            task->Cancel();
        task->WaitForEnd(-1);
    }
}

void CClientTasks::Shutdown(int waitMs)
{
    std::vector<TaskPtr> listed;
    std::vector<TaskPtr> retired;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_closing = true;
        for (auto& [socket, task] : m_tasks)
            listed.push_back(task);
        m_tasks.clear();
        // The retired tasks stay listed as retired until they have ended: a
        // reconnect that is still running waits for them before it closes its
        // old socket (WaitForRetired).
        for (auto& [socket, task] : m_retired)
            retired.push_back(task);
    }
    // No lock from here: a task that is still running may want it. A negative
    // wait (from a hand-edited delay) would be no limit at all: it is none.
    const int boundedWaitMs = std::clamp(waitMs, 0, MaxShutdownWaitMs);
    for (auto& task : listed) {
        task->WaitForFinish(boundedWaitMs);
        task->Cancel();
    }
    for (auto& task : retired)
        task->Cancel();
    for (auto& task : listed)
        task->WaitForEnd(-1);
    for (auto& task : retired)
        task->WaitForEnd(-1);
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_retired.clear();
}

} // namespace engine
