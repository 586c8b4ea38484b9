#pragma once

#include "ferrox/sync/Event.h"
#include "ferrox/sync/Semaphore.h"
#include "ferrox/threads/ThreadClass.h"
#include "ferrox/threads/ThreadInterfaces.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

class TThreadContext;

// The pool: a queue of jobs served by worker threads that are created on demand,
// up to MaxTotalThreads, and leave after 10 seconds without work (while more than
// MinIdleThreads are idle).
//
// Locks: the worker-list lock guards the workers, MaxTotalThreads, MinIdleThreads
// and Idle; the queue lock guards the queue and RunningJobs. The pool never calls
// into a worker while it holds either.
class FERROX_API TThreadPool : public IThreadPool, public IThreadOwner
{
public:
    TThreadPool(int maxTotalThreads, int minIdleThreads, int priority, int capacity);
    ~TThreadPool() override;

    bool AddTask(SmartPtr<IThreadJob> job) override;
    void Shutdown() override;
    void SetLimits(int maxTotalThreads, int minIdleThreads, int priority) override;
    bool WaitForIdle(int ms) override;
    void ClearQueue() override;

    SmartPtr<IThreadJob> GetNextJob() override;
    void ThreadExited(SmartPtr<IThreadContext> context) override;
    void JobFinished(SmartPtr<IThreadJob> job) override;

    // "Thread Pool 0x.. RunningJobs=.. Threads=.. Queue=.. Idle=.. MaxTotalThreads=..
    // MinIdleThreads=.."
    std::string GetDescription() const override;

    // A worker that did not stop when interrupted is left to finish on its own:
    // it no longer counts, and a fresh worker takes its place when work waits.
    void ReplaceWorker(SmartPtr<IThreadContext> context);

    // Long-running work (a worker per echo target, say) reserves workers of its
    // own: the limit grows by n for as long as the reservation lasts, so that
    // such work never takes the workers the rest of the program relies on.
    void ReserveWorkers(int n);
    void ReleaseWorkers(int n);
    int MaxTotalThreads() const;

    int ThreadCount() const;
    int IdleCount() const;
    int QueueLength() const;
    int RunningJobs() const { return m_runningJobs.load(); }

    // How long an idle worker waits for work before it may leave, in ms.
    static constexpr unsigned IdleTimeout = 10000;

protected:
    virtual bool TryEnqueue(SmartPtr<IThreadJob> job);
    virtual SmartPtr<IThreadJob> PopJob();
    // Idle < queue length and thread count < MaxTotalThreads (worker-list lock held).
    virtual bool MoreThreadsNeeded() const;
    // MinIdleThreads < Idle (worker-list lock held).
    virtual bool TooManyIdleThreads() const;
    // Thread count > MaxTotalThreads (worker-list lock held).
    virtual bool TooManyThreads() const;
    // Creates a context, appends it to the list and starts it (worker-list lock held;
    // the thread itself is started after the lock is released by the caller).
    virtual SmartPtr<IThreadContext> StartWorkerLocked();

private:
    void StartWorkers(std::vector<SmartPtr<IThreadContext>>& started);

    int m_maxTotalThreads;
    int m_minIdleThreads;
    int m_idle = 0;
    mutable std::mutex m_workersLock;
    std::vector<SmartPtr<IThreadContext>> m_workers;
    mutable std::mutex m_queueLock;
    std::deque<SmartPtr<IThreadJob>> m_queue;
    TSemaphore m_jobs;
    SmartPtr<IThreadContext> m_lastExited;
    int m_priority;
    const int m_capacity;
    TEvent m_idleEvent{true, true};
    std::atomic<int> m_runningJobs{0};
};

// A pool worker: a thread that asks its owner for jobs until it gets none.
//
// Between two jobs a worker sheds what a job left on it: a suspension that was
// never resumed, and the priority the job's task asked for. The thread is
// started by the spawner (ThreadSpawner.h), so it begins at the process's
// normal priority plus the pool's (its home priority). When it cannot return
// to its home priority after a job (without CAP_SYS_NICE a raised nice value
// cannot be lowered again) it leaves, and the pool starts a fresh worker when
// work waits: a task never runs at a priority another task asked for.
class FERROX_API TThreadContext : public IThreadContext, public TThreadClass
{
public:
    explicit TThreadContext(SmartPtr<IThreadOwner> owner);
    // The priority the worker runs at between jobs (the pool's); before Start.
    void SetHomePriority(int priority) { m_homePriority = priority; }
    // Waits 2000 ms for the thread, then interrupts it (5000 ms more).
    ~TThreadContext() override;

    void Interrupt() override;
    void Restart() override;
    void Suspend() override;
    void Resume() override;
    void SetPriority(int priority) override;
    void Start() override;

    // Interrupts only while `job` is the job this worker runs.
    void InterruptJob(const IThreadJob* job);
    const IThreadJob* CurrentJob() const { return m_currentJob.load(); }

    // How long Interrupt waits for the worker to end, in ms.
    static constexpr unsigned StopTime = 5000;

protected:
    void Body() override;
    void DynamicThreadEntry() override;
    std::thread LaunchThread(std::function<void()> entry) override;

private:
    void Interrupt(const IThreadJob* onlyFor);
    // On the worker, after a job: no suspension, the home priority again. False
    // when the priority could not be restored.
    bool ShedJobState();

    SmartPtr<IThreadOwner> m_owner;
    std::atomic<const IThreadJob*> m_currentJob{nullptr};
    std::atomic<bool> m_retire{false};
    std::mutex m_startLock;
    std::atomic<int> m_homePriority{THREAD_PRIORITY_NORMAL};
    int m_homeNice = 0; // the worker's own
};

// The process-wide pool, created on first use (safe when several threads ask
// first at once) and shut down when the library unloads.
FERROX_API SmartPtr<IThreadPool> GetSystemThreadPool();
// MaxTotalThreads 50, MinIdleThreads 0, priority 0, capacity 1000000 unless given.
FERROX_API SmartPtr<IThreadPool> CreateNewThreadPool();
FERROX_API SmartPtr<IThreadPool> CreateNewThreadPool(int maxTotalThreads, int minIdleThreads);
FERROX_API SmartPtr<IThreadPool> CreateNewThreadPool(int maxTotalThreads, int minIdleThreads,
                                                     int priority);
FERROX_API SmartPtr<IThreadPool> CreateNewThreadPool(int maxTotalThreads, int minIdleThreads,
                                                     int priority, int capacity);
FERROX_API SmartPtr<IThreadContext> CreateNewThreadContext(SmartPtr<IThreadOwner> owner);
