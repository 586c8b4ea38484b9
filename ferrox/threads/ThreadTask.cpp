#include "ferrox/threads/ThreadTask.h"

#include "ferrox/threads/ThreadPool.h"

namespace {
unsigned wait_time(int ms)
{
    return ms < 0 ? INFINITE : static_cast<unsigned>(ms);
}
} // namespace

TThreadTask::TThreadTask() = default;

TThreadTask::~TThreadTask()
{
    delete m_exception.exchange(nullptr);
}

bool TThreadTask::IsStarted()
{
    return m_started.Wait(0, true) == WAIT_OBJECT_0;
}

bool TThreadTask::IsFinished()
{
    return m_finished.Wait(0, true) == WAIT_OBJECT_0;
}

bool TThreadTask::WaitForStart(int ms)
{
    return m_started.Wait(wait_time(ms), true) == WAIT_OBJECT_0;
}

bool TThreadTask::WaitForFinish(int ms)
{
    return m_finished.Wait(wait_time(ms), true) == WAIT_OBJECT_0;
}

bool TThreadTask::IsRunning()
{
    return IsStarted() && !IsFinished();
}

SmartPtr<IThreadContext> TThreadTask::TakeContext()
{
    std::lock_guard<std::mutex> lock(m_contextLock);
    SmartPtr<IThreadContext> context = m_context;
    m_context.reset();
    return context;
}

void TThreadTask::SetContext(SmartPtr<IThreadContext> context)
{
    std::lock_guard<std::mutex> lock(m_contextLock);
    m_context = context;
}

namespace {
thread_local TThreadTask* t_running = nullptr;
} // namespace

TThreadTask* TThreadTask::Current()
{
    return t_running;
}

TThreadTask* TThreadTask::ExchangeRunning(TThreadTask* task)
{
    TThreadTask* const outer = t_running;
    t_running = task;
    return outer;
}

bool TThreadTask::WaitForEnd(int ms)
{
    return m_ended.Wait(wait_time(ms), true) == WAIT_OBJECT_0;
}

void TThreadTask::Cancel()
{
    int expected = Queued;
    if (m_state.compare_exchange_strong(expected, Ended)) {
        // Not taken by a worker yet: it never will run.
        m_finished.Set();
        m_ended.Set();
        return;
    }
    SmartPtr<IThreadContext> context;
    if (IsRunning()) {
        std::lock_guard<std::mutex> lock(m_contextLock);
        context = m_context;
    }
    if (context) {
        // Only this task's run is interrupted, never a job the worker took after it.
        if (auto* worker = dynamic_cast<TThreadContext*>(context.get()))
            worker->InterruptJob(this);
        else
            context->Interrupt();
        try {
            context->Start(); // the pool gets a worker in place of the interrupted one
        } catch (...) {
        }
    }
    m_finished.Set();
    TakeContext();
}

void TThreadTask::Suspend()
{
    if (!IsRunning())
        return;
    std::lock_guard<std::mutex> lock(m_contextLock);
    if (m_context)
        m_context->Suspend();
}

void TThreadTask::Resume()
{
    if (!IsRunning())
        return;
    std::lock_guard<std::mutex> lock(m_contextLock);
    if (m_context)
        m_context->Resume();
}

void TThreadTask::SetPriority(int priority)
{
    std::lock_guard<std::mutex> lock(m_contextLock);
    if (m_context && !m_finished.IsSet())
        m_context->SetPriority(priority);
    else if (!m_started.IsSet())
        m_requestedPriority = priority; // queued: the worker takes it when the task starts
}

void TThreadTask::ApplyRequestedPriority()
{
    int priority = m_requestedPriority.exchange(NoPriority);
    if (priority == NoPriority)
        return;
    std::lock_guard<std::mutex> lock(m_contextLock);
    if (m_context)
        m_context->SetPriority(priority);
}

bool TThreadTask::IsException()
{
    return m_exception.load() != nullptr;
}

void TThreadTask::RethrowException()
{
    EGeneric* captured = m_exception.load();
    if (captured == nullptr)
        throw EGeneric({"Text", "No exception was captured by the task"});
    throw EGeneric(*captured);
}

void TThreadTask::TaskStarted()
{
    m_started.Set();
}

void TThreadTask::TaskFinished()
{
    m_finished.Set();
    TakeContext();
}
