#include "ferrox/threads/ThreadClass.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EStructuredException.h"
#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/threads/ThreadInterfaces.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/resource.h>

namespace {

std::atomic<thread_start_hook> g_startHook{nullptr};

// Windows priorities onto nice values: below normal runs nicer. A priority is
// relative to the normal one, as the priority class of a Windows process is:
// here the nice value the thread started with. Idle and time-critical are the
// two ends of the range.
int nice_for(int priority, int normal)
{
    if (priority <= THREAD_PRIORITY_IDLE)
        return 19;
    if (priority >= THREAD_PRIORITY_TIME_CRITICAL)
        return -20;
    int nice = normal - priority * 5;
    return nice < -20 ? -20 : (nice > 19 ? 19 : nice);
}

} // namespace

void SetThreadStartHook(thread_start_hook hook)
{
    g_startHook = hook;
}

TThreadClass::TThreadClass()
    : m_ended(std::make_shared<TEvent>(true, true)),
      m_alertReady(std::make_shared<TEvent>(true, false))
{}

TThreadClass::~TThreadClass()
{
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id()) {
        m_thread.detach(); // the last reference died on the thread itself
        return;
    }
    if (m_ended->Wait(1000, false) == WAIT_OBJECT_0)
        m_thread.join();
    else
        m_thread.detach(); // no forced termination here: it finishes on its own
}

bool TThreadClass::HasEnded() const
{
    return m_ended->IsSet();
}

void TThreadClass::StartThread()
{
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id() || !m_ended->IsSet())
            m_thread.detach();
        else
            m_thread.join();
    }
    m_ended = std::make_shared<TEvent>(true, false);
    m_alertReady = std::make_shared<TEvent>(true, false);
    m_alert.reset();
    m_tid = 0;
    int expected = StateInterrupted;
    m_state.compare_exchange_strong(expected, StateIdle); // a new run starts clean
    m_started = true;
    try {
        m_thread = LaunchThread([this, ended = m_ended] { StaticThreadEntry(this, ended); });
    } catch (const std::system_error& e) {
        m_ended->Set();
        ThrowSystemException(e.code().value());
    }
}

void TThreadClass::StaticThreadEntry(TThreadClass* self, std::shared_ptr<TEvent> ended)
{
    redirect_structured_exceptions translate;
    if (thread_start_hook hook = g_startHook.load())
        hook();
    self->m_normalNice = CurrentNice();
    self->m_tid = current_thread_id();
    self->m_alert = TThreadAlert::Current();
    self->m_alertReady->Set();
    self->DynamicThreadEntry();
    // `self` may be gone now (the body dropped the last reference); only the
    // shared event is touched.
    ended->Set();
}

void TThreadClass::DynamicThreadEntry()
{
    int expected = StateIdle;
    if (!m_state.compare_exchange_strong(expected, StateRunning))
        return; // an interrupt came before the body started
    try {
        Body();
    } catch (const EThreadInterrupt&) {
        // ends quietly
    } catch (const std::exception& e) {
        if (Debug.GetEnabled()) {
            const char* text = e.what();
            TDebugStreamSession session(Debug);
            session << "(!) Thread runaway with exception " << type_display_name(typeid(e)) << ":";
            if (text && std::strchr(text, '\n'))
                session << "\n";
            session << text << "\n";
        }
        OnException();
    } catch (...) {
        if (Debug.GetEnabled())
            TDebugStreamSession(Debug) << "(!) Thread runaway with unknown exception\n";
        OnException();
    }
    expected = StateRunning;
    m_state.compare_exchange_strong(expected, StateIdle);
    expected = StateInterrupted;
    m_state.compare_exchange_strong(expected, StateIdle);
}

bool TThreadClass::StopThread(unsigned ms)
{
    if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id())
        return false;
    return m_ended->Wait(ms, false) == WAIT_OBJECT_0;
}

void TThreadClass::SuspendThread()
{
    if (m_alertReady->Wait(0, false) == WAIT_OBJECT_0 && m_alert)
        m_alert->Suspend();
}

void TThreadClass::ResumeThread()
{
    if (m_alertReady->Wait(0, false) == WAIT_OBJECT_0 && m_alert)
        m_alert->Resume();
}

void TThreadClass::SetThreadPriority(int priority)
{
    pid_t tid = m_tid.load();
    if (tid == 0 || HasEnded())
        return;
    // A priority the process may not set (raising needs privilege) is ignored.
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceFor(priority));
}

std::thread TThreadClass::LaunchThread(std::function<void()> entry)
{
    return std::thread(std::move(entry));
}

int TThreadClass::NiceFor(int priority) const
{
    return nice_for(priority, m_normalNice.load());
}

int TThreadClass::CurrentNice()
{
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0); // Linux: the calling thread
    return errno == 0 ? nice : 0;
}

bool TThreadClass::SetCurrentNice(int nice)
{
    if (CurrentNice() == nice)
        return true;
    return setpriority(PRIO_PROCESS, 0, nice) == 0 && CurrentNice() == nice;
}

void TThreadClass::InterruptThread(unsigned wait, unsigned stop)
{
    InterruptIf(nullptr, wait, stop);
}

void TThreadClass::InterruptIf(std::function<bool()> stillWanted, unsigned wait, unsigned stop)
{
    if (HasEnded())
        return;
    int expected = StateIdle;
    if (!stillWanted && m_state.compare_exchange_strong(expected, StateInterrupted)) {
        // not running its body yet: it will not start
    } else if (m_state.load() == StateRunning &&
               m_alertReady->Wait(INFINITE, false) == WAIT_OBJECT_0 && m_alert) {
        m_alert->QueueCall([this, stillWanted] {
            if (stillWanted && !stillWanted())
                return;
            if (m_state.load() == StateRunning)
                throw EThreadInterrupt();
            m_state = StateInterrupted;
        });
    }
    if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id())
        return; // interrupting oneself: the next wait delivers it
    if (m_ended->Wait(wait, false) != WAIT_OBJECT_0)
        StopThread(stop);
}

std::string TThreadClass::GetCurrentStack()
{
    // Another thread's stack cannot be walked here; the thread's own can.
    if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id())
        return EGeneric::BuildStack(nullptr);
    return std::string();
}

void TThreadClass::OnException() {}
