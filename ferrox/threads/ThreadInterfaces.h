#pragma once

#include "ferrox/FerroxApi.h"
#include "ferrox/threads/SmartPtr.h"

class IThreadContext;

// Thread priorities in the system's numbering (below normal is -1, lowest -2).
// They map onto nice values; a priority the process may not set is ignored.
constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// One piece of work, executed by a pool worker.
class FERROX_API IThreadJob : public virtual SmartPtrObj
{
public:
    virtual void Run(SmartPtr<IThreadContext> context) = 0;
};

// A job with a life the caller can watch and steer.
class FERROX_API IThreadTask : public IThreadJob
{
public:
    virtual bool IsStarted() = 0;
    virtual bool IsFinished() = 0;
    // -1 = no limit. True when the event came; false on time-out or when a queued
    // asynchronous call ended the wait.
    virtual bool WaitForStart(int ms) = 0;
    virtual bool WaitForFinish(int ms) = 0;
    virtual void Cancel() = 0;
    virtual void Suspend() = 0;
    virtual void Resume() = 0;
    virtual void SetPriority(int priority) = 0;
    virtual bool IsException() = 0;
    // Throws a new EGeneric with a copy of the captured values. Only after
    // IsException() returned true.
    virtual void RethrowException() = 0;
    virtual bool IsRunning() = 0;
};

// The pool interface: a process-wide queue of jobs served by worker threads.
class FERROX_API IThreadPool : public virtual SmartPtrObj
{
public:
    // Queues the job; true when the pool has room for every queued job at once
    // (MaxTotalThreads >= queue length). Throws "Thread pool overflowed" when full.
    virtual bool AddTask(SmartPtr<IThreadJob> job) = 0;
    virtual void Shutdown() = 0;
    virtual void SetLimits(int maxTotalThreads, int minIdleThreads, int priority) = 0;
    virtual bool WaitForIdle(int ms) = 0;
    virtual void ClearQueue() = 0;
};

// How a worker asks its pool for work and tells it what happened.
class FERROX_API IThreadOwner : public virtual SmartPtrObj
{
public:
    // Null tells the worker to end.
    virtual SmartPtr<IThreadJob> GetNextJob() = 0;
    virtual void ThreadExited(SmartPtr<IThreadContext> context) = 0;
    virtual void JobFinished(SmartPtr<IThreadJob> job) = 0;
};

// A worker thread as its jobs and its pool see it.
class FERROX_API IThreadContext : public virtual SmartPtrObj
{
public:
    virtual void Interrupt() = 0;
    virtual void Restart() = 0;
    virtual void Suspend() = 0;
    virtual void Resume() = 0;
    virtual void SetPriority(int priority) = 0;
    virtual void Start() = 0;
};
