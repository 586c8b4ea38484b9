#pragma once

#include "ferrox/exceptions/EGeneric.h"
#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/sync/Event.h"
#include "ferrox/threads/ThreadInterfaces.h"

#include <atomic>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

// A task: a job with a started and a finished event, an attached worker context
// while it runs, and the EGeneric its function raised, if any. Created, it waits
// in the queue; running, started is set; finished, finished is set (started may
// be unset when it was cancelled before it ran). A task runs at most once.
class FERROX_API TThreadTask : public IThreadTask
{
public:
    TThreadTask();
    ~TThreadTask() override;

    bool IsStarted() override;
    bool IsFinished() override;
    bool WaitForStart(int ms) override;
    bool WaitForFinish(int ms) override;
    // Running: interrupts the worker (EThreadInterrupt at its next wait) and lets
    // the pool replace it. In every case the task counts as finished at once, and
    // a task cancelled before it started never runs.
    void Cancel() override;
    void Suspend() override;
    void Resume() override;
    void SetPriority(int priority) override;
    bool IsException() override;
    void RethrowException() override;
    bool IsRunning() override;

    // True once the task's function has returned, or once it is certain never to
    // run (cancelled before it started). Unlike the finished event, which Cancel
    // sets at once, this tells an owner that no code of the task still uses it.
    bool WaitForEnd(int ms);

    // The task whose function runs on the calling thread, or null: lets a task
    // that waits for others leave itself out.
    static TThreadTask* Current();

protected:
    virtual void TaskStarted();
    virtual void TaskFinished();

    // Steps 1-5 of every task's Run: skip when already finished, attach the
    // context, signal started, call `body`, capture an EGeneric, signal finished.
    template <class F>
    void RunBody(SmartPtr<IThreadContext> context, F&& body);

private:
    // Makes `task` the calling thread's running task; returns the one before.
    static TThreadTask* ExchangeRunning(TThreadTask* task);

    SmartPtr<IThreadContext> TakeContext();
    void SetContext(SmartPtr<IThreadContext> context);

    void ApplyRequestedPriority();

    enum : int
    {
        Queued = 0,
        Running = 1,
        Ended = 2,
    };
    // Queued -> Running when a worker takes the task, Queued -> Ended when it is
    // cancelled first: whichever happens first wins, so a cancelled task never runs.
    std::atomic<int> m_state{Queued};
    TEvent m_ended{true, false};

    std::mutex m_contextLock; // guards m_context against Cancel racing the worker
    SmartPtr<IThreadContext> m_context;
    // A priority asked for before the task started; applied when it starts.
    std::atomic<int> m_requestedPriority{NoPriority};
    static constexpr int NoPriority = 0x7fffffff;
    TEvent m_started{true, false};
    TEvent m_finished{true, false};
    std::atomic<EGeneric*> m_exception{nullptr};
};

template <class F>
void TThreadTask::RunBody(SmartPtr<IThreadContext> context, F&& body)
{
    int expected = Queued;
    if (IsFinished() || !m_state.compare_exchange_strong(expected, Running))
        return;
    SetContext(context);
    ApplyRequestedPriority();
    TaskStarted();
    struct FinishGuard
    {
        TThreadTask* task;
        TThreadTask* outer;
        ~FinishGuard()
        {
            ExchangeRunning(outer);
            task->TaskFinished();
            task->m_state = Ended;
            task->m_ended.Set();
        }
    } guard{this, ExchangeRunning(this)};
    try {
        body();
    } catch (const EGeneric& e) {
        EGeneric* copy = new EGeneric(e);
        if (EGeneric* old = m_exception.exchange(copy))
            delete old;
    }
}

// Runs obj->method() on a pool worker.
template <class C, class M = void (C::*)()>
class TThreadTask_MemberCall0 final : public TThreadTask
{
public:
    TThreadTask_MemberCall0(C* object, M method) : m_object(object), m_method(method) {}
    void Run(SmartPtr<IThreadContext> context) override
    {
        RunBody(context, [this] { (m_object->*m_method)(); });
    }
    std::string GetDescription() const override { return SymGetFullNameFromMember(m_method); }

private:
    C* m_object;
    M m_method;
};

// Runs obj->method(a1, a2) with copies of the arguments.
template <class C, class M, class A1, class A2>
class TThreadTask_MemberCall2 final : public TThreadTask
{
public:
    TThreadTask_MemberCall2(C* object, M method, A1 a1, A2 a2)
        : m_object(object), m_method(method), m_a1(std::move(a1)), m_a2(std::move(a2))
    {}
    void Run(SmartPtr<IThreadContext> context) override
    {
        RunBody(context, [this] { (m_object->*m_method)(m_a1, m_a2); });
    }
    std::string GetDescription() const override { return SymGetFullNameFromMember(m_method); }

private:
    C* m_object;
    M m_method;
    std::decay_t<A1> m_a1;
    std::decay_t<A2> m_a2;
};

// Runs obj->method(a1, a2, a3) with copies of the arguments.
template <class C, class M, class A1, class A2, class A3>
class TThreadTask_MemberCall3 final : public TThreadTask
{
public:
    TThreadTask_MemberCall3(C* object, M method, A1 a1, A2 a2, A3 a3)
        : m_object(object), m_method(method), m_a1(std::move(a1)), m_a2(std::move(a2)),
          m_a3(std::move(a3))
    {}
    void Run(SmartPtr<IThreadContext> context) override
    {
        RunBody(context, [this] { (m_object->*m_method)(m_a1, m_a2, m_a3); });
    }
    std::string GetDescription() const override { return SymGetFullNameFromMember(m_method); }

private:
    C* m_object;
    M m_method;
    std::decay_t<A1> m_a1;
    std::decay_t<A2> m_a2;
    std::decay_t<A3> m_a3;
};

// Convenience constructors that deduce the template arguments.
template <class C>
SmartPtr<TThreadTask> MakeMemberTask(C* object, void (C::*method)())
{
    return SmartPtr<TThreadTask>(new TThreadTask_MemberCall0<C>(object, method));
}
template <class C, class P1, class P2, class A1, class A2>
SmartPtr<TThreadTask> MakeMemberTask(C* object, void (C::*method)(P1, P2), A1&& a1, A2&& a2)
{
    using T = TThreadTask_MemberCall2<C, void (C::*)(P1, P2), std::decay_t<P1>, std::decay_t<P2>>;
    return SmartPtr<TThreadTask>(new T(object, method, std::forward<A1>(a1), std::forward<A2>(a2)));
}
template <class C, class P1, class P2, class P3, class A1, class A2, class A3>
SmartPtr<TThreadTask> MakeMemberTask(C* object, void (C::*method)(P1, P2, P3), A1&& a1, A2&& a2,
                                     A3&& a3)
{
    using T = TThreadTask_MemberCall3<C, void (C::*)(P1, P2, P3), std::decay_t<P1>,
                                      std::decay_t<P2>, std::decay_t<P3>>;
    return SmartPtr<TThreadTask>(
        new T(object, method, std::forward<A1>(a1), std::forward<A2>(a2), std::forward<A3>(a3)));
}
