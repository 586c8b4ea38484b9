#include "ferrox/threads/ThreadPool.h"

#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/threads/ThreadSpawner.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

// ---- TThreadPool ----

TThreadPool::TThreadPool(int maxTotalThreads, int minIdleThreads, int priority, int capacity)
    : m_maxTotalThreads(maxTotalThreads), m_minIdleThreads(minIdleThreads),
      m_jobs(0, capacity > 0 ? capacity : 1), m_priority(priority), m_capacity(capacity)
{
    // The spawner is born here, at the priority of the thread that makes the
    // first pool, before any worker could start it from a lowered thread.
    (void)TThreadSpawner::Instance();
}

TThreadPool::~TThreadPool() = default;

bool TThreadPool::TryEnqueue(SmartPtr<IThreadJob> job)
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    if (static_cast<int>(m_queue.size()) >= m_capacity)
        return false;
    if (m_runningJobs.fetch_add(1) + 1 == 1)
        m_idleEvent.Reset();
    m_queue.push_back(job);
    m_jobs.Release(1);
    return true;
}

SmartPtr<IThreadJob> TThreadPool::PopJob()
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    if (m_queue.empty())
        return SmartPtr<IThreadJob>();
    SmartPtr<IThreadJob> job = m_queue.front();
    m_queue.pop_front();
    return job;
}

int TThreadPool::QueueLength() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return static_cast<int>(m_queue.size());
}

int TThreadPool::ThreadCount() const
{
    std::lock_guard<std::mutex> lock(m_workersLock);
    return static_cast<int>(m_workers.size());
}

int TThreadPool::IdleCount() const
{
    std::lock_guard<std::mutex> lock(m_workersLock);
    return m_idle;
}

bool TThreadPool::MoreThreadsNeeded() const
{
    return m_idle < QueueLength() && static_cast<int>(m_workers.size()) < m_maxTotalThreads;
}

bool TThreadPool::TooManyIdleThreads() const
{
    return m_minIdleThreads < m_idle;
}

bool TThreadPool::TooManyThreads() const
{
    return static_cast<int>(m_workers.size()) > m_maxTotalThreads;
}

SmartPtr<IThreadContext> TThreadPool::StartWorkerLocked()
{
    // The worker takes the pool's priority itself, as its home priority, before
    // it asks for its first job.
    auto* worker = new TThreadContext(SmartPtr<IThreadOwner>(this));
    SmartPtr<IThreadContext> context(worker);
    worker->SetHomePriority(m_priority);
    m_workers.push_back(context);
    context->Start();
    return context;
}

bool TThreadPool::AddTask(SmartPtr<IThreadJob> job)
{
    if (!job)
        return true;
    if (!TryEnqueue(job)) {
        int queued = QueueLength();
        int threads = ThreadCount();
        throw EGeneric({"Text", "Thread pool overflowed"}, {"JobQueueSize", queued},
                       {"ThreadsSize", threads});
    }
    std::lock_guard<std::mutex> lock(m_workersLock);
    if (MoreThreadsNeeded())
        StartWorkerLocked(); // at most one worker per added job
    return m_maxTotalThreads >= QueueLength();
}

SmartPtr<IThreadJob> TThreadPool::GetNextJob()
{
    {
        std::lock_guard<std::mutex> lock(m_workersLock);
        if (TooManyThreads())
            return SmartPtr<IThreadJob>();
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_workersLock);
            ++m_idle;
        }
        // Idle stays true to what waits, also when an interrupt leaves the wait.
        struct IdleGuard
        {
            TThreadPool* pool;
            bool counted = true;
            void leave()
            {
                if (counted) {
                    std::lock_guard<std::mutex> lock(pool->m_workersLock);
                    --pool->m_idle;
                    counted = false;
                }
            }
            ~IdleGuard() { leave(); }
        } idle{this};

        unsigned result = m_jobs.Wait(IdleTimeout, true);
        if (result == WAIT_OBJECT_0) {
            // No longer idle before the job leaves the queue: an AddTask in between
            // must see this worker as busy, or it starts no worker for its job.
            idle.leave();
            SmartPtr<IThreadJob> job = PopJob();
            if (job)
                return job;
            continue;
        }
        if (result == WAIT_TIMEOUT) {
            std::lock_guard<std::mutex> lock(m_workersLock);
            if (TooManyIdleThreads() || TooManyThreads()) {
                --m_idle;
                idle.counted = false;
                return SmartPtr<IThreadJob>();
            }
        }
    }
}

void TThreadPool::JobFinished(SmartPtr<IThreadJob> job)
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_runningJobs.fetch_sub(1) - 1 == 0)
            m_idleEvent.Set();
    }
    job.reset(); // the job's last reference may run arbitrary code: no lock held
}

void TThreadPool::ThreadExited(SmartPtr<IThreadContext> context)
{
    SmartPtr<IThreadContext> previous;
    {
        std::lock_guard<std::mutex> lock(m_workersLock);
        auto it = std::find_if(
            m_workers.begin(), m_workers.end(),
            [&](const SmartPtr<IThreadContext>& w) { return w.get() == context.get(); });
        if (it != m_workers.end())
            m_workers.erase(it);
        previous = m_lastExited;
        m_lastExited = context;
        // Work may be waiting for the worker that left (its job was cancelled, or
        // it ended through an exception): replace it.
        if (MoreThreadsNeeded())
            StartWorkerLocked();
    }
    // `previous` is released here, outside the lock.
}

void TThreadPool::ReplaceWorker(SmartPtr<IThreadContext> context)
{
    std::lock_guard<std::mutex> lock(m_workersLock);
    auto it =
        std::find_if(m_workers.begin(), m_workers.end(),
                     [&](const SmartPtr<IThreadContext>& w) { return w.get() == context.get(); });
    if (it != m_workers.end())
        m_workers.erase(it);
    if (MoreThreadsNeeded())
        StartWorkerLocked();
}

void TThreadPool::SetLimits(int maxTotalThreads, int minIdleThreads, int priority)
{
    std::lock_guard<std::mutex> lock(m_workersLock);
    m_maxTotalThreads = maxTotalThreads;
    m_minIdleThreads = minIdleThreads;
    m_priority = priority;
    while (MoreThreadsNeeded())
        StartWorkerLocked();
}

void TThreadPool::ReserveWorkers(int n)
{
    std::lock_guard<std::mutex> lock(m_workersLock);
    m_maxTotalThreads += n;
    while (MoreThreadsNeeded())
        StartWorkerLocked();
}

void TThreadPool::ReleaseWorkers(int n)
{
    // Workers above the limit leave when they next look for work.
    std::lock_guard<std::mutex> lock(m_workersLock);
    m_maxTotalThreads = m_maxTotalThreads > n ? m_maxTotalThreads - n : 0;
}

int TThreadPool::MaxTotalThreads() const
{
    std::lock_guard<std::mutex> lock(m_workersLock);
    return m_maxTotalThreads;
}

bool TThreadPool::WaitForIdle(int ms)
{
    return m_idleEvent.Wait(ms < 0 ? INFINITE : static_cast<unsigned>(ms), true) == WAIT_OBJECT_0;
}

void TThreadPool::ClearQueue()
{
    std::deque<SmartPtr<IThreadJob>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        while (m_jobs.Wait(0, false) == WAIT_OBJECT_0) {
        }
        if (m_runningJobs.fetch_sub(static_cast<int>(m_queue.size())) -
                static_cast<int>(m_queue.size()) ==
            0)
            m_idleEvent.Set();
        dropped.swap(m_queue);
    }
}

void TThreadPool::Shutdown()
{
    std::vector<SmartPtr<IThreadContext>> workers;
    {
        std::lock_guard<std::mutex> lock(m_workersLock);
        m_maxTotalThreads = 0;
        m_minIdleThreads = 0;
    }
    ClearQueue();
    {
        std::lock_guard<std::mutex> lock(m_workersLock);
        workers = m_workers;
    }
    for (auto& worker : workers)
        worker->Interrupt();
    ClearQueue();
    SmartPtr<IThreadContext> last;
    {
        std::lock_guard<std::mutex> lock(m_workersLock);
        m_workers.clear();
        last = m_lastExited;
        m_lastExited.reset();
    }
}

std::string TThreadPool::GetDescription() const
{
    int threads, idle, maxThreads, minIdle;
    {
        std::lock_guard<std::mutex> lock(m_workersLock);
        threads = static_cast<int>(m_workers.size());
        idle = m_idle;
        maxThreads = m_maxTotalThreads;
        minIdle = m_minIdleThreads;
    }
    char text[256];
    std::snprintf(text, sizeof(text),
                  "Thread Pool 0x%lx RunningJobs=%d Threads=%d Queue=%d Idle=%d MaxTotalThreads=%d "
                  "MinIdleThreads=%d",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this)),
                  m_runningJobs.load(), threads, QueueLength(), idle, maxThreads, minIdle);
    return text;
}

// ---- TThreadContext ----

TThreadContext::TThreadContext(SmartPtr<IThreadOwner> owner) : m_owner(owner) {}

TThreadContext::~TThreadContext()
{
    // The worker keeps its context alive while it runs, so by now it has left its
    // body (or this is its own thread dropping the last reference).
    if (IsStarted() && !HasEnded() && StopThread(2000) == false)
        InterruptThread(0, StopTime);
}

void TThreadContext::DynamicThreadEntry()
{
    // The thread keeps its own context alive until it has left the body and
    // reset its state: the pool may drop its last reference (a later worker's
    // exit replaces the kept "last worker") while this one is still finishing.
    SmartPtr<IThreadContext> keepAlive(this);
    const int home = m_homePriority.load();
    if (home != THREAD_PRIORITY_NORMAL)
        SetCurrentNice(NiceFor(home)); // a priority the process may not set is ignored
    m_homeNice = CurrentNice();
    TThreadClass::DynamicThreadEntry();
}

std::thread TThreadContext::LaunchThread(std::function<void()> entry)
{
    return TThreadSpawner::Instance().Spawn(std::move(entry));
}

bool TThreadContext::ShedJobState()
{
    TThreadAlert::Current()->ClearSuspension();
    return SetCurrentNice(m_homeNice);
}

void TThreadContext::Body()
{
    SmartPtr<IThreadContext> self(this);
    // Whatever ends the loop (no more work, an interrupt, an escaping exception),
    // the pool hears of it, so its thread count stays true.
    struct ExitGuard
    {
        TThreadContext* context;
        SmartPtr<IThreadContext> self;
        ~ExitGuard()
        {
            try {
                context->m_owner->ThreadExited(self);
            } catch (...) {
            }
        }
    } exitGuard{this, self};

    while (!m_retire.load()) {
        SmartPtr<IThreadJob> job = m_owner->GetNextJob();
        if (!job)
            break;
        m_currentJob = job.get();
        struct JobGuard
        {
            TThreadContext* context;
            SmartPtr<IThreadJob>& job;
            ~JobGuard()
            {
                context->m_currentJob = nullptr;
                // Clean before the pool hears that the job is done.
                if (!context->ShedJobState())
                    context->m_retire = true;
                try {
                    context->m_owner->JobFinished(job);
                } catch (...) {
                }
            }
        } jobGuard{this, job};
        job->Run(self);
    }
}

void TThreadContext::Interrupt()
{
    Interrupt(nullptr);
}

void TThreadContext::InterruptJob(const IThreadJob* job)
{
    if (m_currentJob.load() == job)
        Interrupt(job);
}

void TThreadContext::Interrupt(const IThreadJob* onlyFor)
{
    // The worker leaves after its current job; a fresh one takes its place.
    m_retire = true;
    if (onlyFor == nullptr) {
        InterruptThread(0, StopTime);
        return;
    }
    // As InterruptThread, but the call only fires while the same job still runs.
    InterruptIf([this, onlyFor] { return m_currentJob.load() == onlyFor; }, 0, StopTime);
}

void TThreadContext::Restart()
{
    Interrupt();
    Start();
}

void TThreadContext::Suspend()
{
    SuspendThread();
}

void TThreadContext::Resume()
{
    ResumeThread();
}

void TThreadContext::SetPriority(int priority)
{
    SetThreadPriority(priority);
}

void TThreadContext::Start()
{
    std::lock_guard<std::mutex> lock(m_startLock);
    if (!IsStarted()) {
        StartThread();
        return;
    }
    if (HasEnded())
        return; // it left cleanly and told the pool, which replaces workers on demand
    // Still running after an interrupt: it is left to finish on its own and no
    // longer counts as one of the pool's workers.
    if (auto* pool = dynamic_cast<TThreadPool*>(m_owner.get()))
        pool->ReplaceWorker(SmartPtr<IThreadContext>(this));
}

// ---- factories ----

SmartPtr<IThreadPool> CreateNewThreadPool()
{
    return CreateNewThreadPool(50, 0, 0, 1000000);
}

SmartPtr<IThreadPool> CreateNewThreadPool(int maxTotalThreads, int minIdleThreads)
{
    return CreateNewThreadPool(maxTotalThreads, minIdleThreads, 0, 1000000);
}

SmartPtr<IThreadPool> CreateNewThreadPool(int maxTotalThreads, int minIdleThreads, int priority)
{
    return CreateNewThreadPool(maxTotalThreads, minIdleThreads, priority, 1000000);
}

SmartPtr<IThreadPool> CreateNewThreadPool(int maxTotalThreads, int minIdleThreads, int priority,
                                          int capacity)
{
    return SmartPtr<IThreadPool>(
        new TThreadPool(maxTotalThreads, minIdleThreads, priority, capacity));
}

SmartPtr<IThreadContext> CreateNewThreadContext(SmartPtr<IThreadOwner> owner)
{
    return SmartPtr<IThreadContext>(new TThreadContext(owner));
}

namespace {

// Owns the process-wide pool: created on first use (a function-local static is
// initialised once even when two threads ask first at once) and shut down when
// the library unloads.
struct TSystemPoolHolder
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool();
    ~TSystemPoolHolder()
    {
        try {
            pool->Shutdown();
        } catch (...) {
        }
        pool.reset();
    }
};

} // namespace

SmartPtr<IThreadPool> GetSystemThreadPool()
{
    static TSystemPoolHolder holder;
    return holder.pool;
}
