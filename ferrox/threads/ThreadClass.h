#pragma once

#include "ferrox/FerroxApi.h"
#include "ferrox/sync/Event.h"
#include "ferrox/sync/Waitable.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <thread>

// A thread with an interrupt state machine: 0 idle, 1 running its body, 2 an
// interrupt was requested. An interrupt that arrives while the body runs is
// delivered as EThreadInterrupt at the thread's next ferrox wait.
class FERROX_API TThreadClass
{
public:
    enum : int
    {
        StateIdle = 0,
        StateRunning = 1,
        StateInterrupted = 2,
    };

    TThreadClass();
    TThreadClass(const TThreadClass&) = delete;
    TThreadClass& operator=(const TThreadClass&) = delete;
    // Waits 1000 ms for the thread; one still running is left to finish on its own.
    virtual ~TThreadClass();

    // The body, run on the thread.
    virtual void Body() = 0;
    virtual void StartThread();
    // Waits up to ms for the thread to end; false when it still runs (there is no
    // forced termination on this platform: it is left to finish on its own).
    virtual bool StopThread(unsigned ms);
    virtual void SuspendThread();
    virtual void ResumeThread();
    // Priorities are relative to the nice value the thread started with (its
    // normal priority): below normal is 5 nicer, lowest 10.
    virtual void SetThreadPriority(int priority);
    // Requests an interrupt, waits `wait` ms for the thread to end, then allows
    // `stop` ms more (StopThread).
    virtual void InterruptThread(unsigned wait, unsigned stop);
    virtual std::string GetCurrentStack();
    // Called on the thread after an exception other than EThreadInterrupt escaped
    // the body. Does nothing by default.
    virtual void OnException();

    bool IsStarted() const { return m_started.load(); }
    // True once the thread has ended (or was never started).
    bool HasEnded() const;
    int InterruptState() const { return m_state.load(); }
    pid_t ThreadId() const { return m_tid.load(); }

protected:
    virtual void DynamicThreadEntry();
    // Makes the std::thread that runs `entry`; by default the calling thread
    // creates it (and the new thread inherits its nice value).
    virtual std::thread LaunchThread(std::function<void()> entry);
    // The nice value of the priority for this thread (started: its normal nice
    // value is known).
    int NiceFor(int priority) const;
    // The calling thread's nice value, and a change of it; true when the thread
    // has that value afterwards (raising a priority needs CAP_SYS_NICE or room
    // in RLIMIT_NICE).
    static int CurrentNice();
    static bool SetCurrentNice(int nice);
    // InterruptThread, but the queued call only interrupts while `stillWanted()`
    // holds on the thread at the moment it runs.
    void InterruptIf(std::function<bool()> stillWanted, unsigned wait, unsigned stop);

private:
    static void StaticThreadEntry(TThreadClass* self, std::shared_ptr<TEvent> ended);

    std::atomic<int> m_state{StateIdle};
    std::atomic<bool> m_started{false};
    std::atomic<pid_t> m_tid{0};
    std::atomic<int> m_normalNice{0}; // the nice value the thread started with
    std::shared_ptr<TThreadAlert> m_alert; // the thread's alert state, set once it runs
    std::shared_ptr<TEvent> m_ended;       // manual-reset, set when the thread leaves
    std::shared_ptr<TEvent> m_alertReady;  // set once m_alert is published
    std::thread m_thread;
};

// Process-wide hook run at the start of every TThreadClass thread (optional).
using thread_start_hook = void (*)();
FERROX_API void SetThreadStartHook(thread_start_hook hook);
