#include "loop/WindowRegistry.h"

#include "loop/EventLoop.h"
#include "loop/ThreadAnnotations.h"
#include "loop/Window.h"

#include <QCoreApplication>

#include <algorithm>
#include <climits>

namespace loop::detail {

namespace {

// Windows raises shorter intervals to USER_TIMER_MINIMUM.
constexpr unsigned kMinTimerMs = 10;
constexpr unsigned kMaxTimerMs = INT_MAX;

HWND ToHandle(std::uintptr_t value)
{
    return reinterpret_cast<HWND>(value);
}

std::uintptr_t FromHandle(HWND handle)
{
    return reinterpret_cast<std::uintptr_t>(handle);
}

} // namespace

QEvent::Type CDrainEvent::EventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CDrainEvent::CDrainEvent() : QEvent(EventType()) {}

CWindowRegistry& CWindowRegistry::Instance()
{
    // Never destroyed: pool threads may still post while static objects go away.
    static CWindowRegistry* registry = new CWindowRegistry;
    return *registry;
}

HWND CWindowRegistry::Register(CWindow* window)
{
    std::lock_guard lock(m_mutex);
    const std::uintptr_t value = m_nextHandle++;
    m_windows[value].window = window;
    return ToHandle(value);
}

void CWindowRegistry::Unregister(HWND handle)
{
    std::lock_guard lock(m_mutex);
    m_windows.erase(FromHandle(handle));
}

bool CWindowRegistry::IsAlive(HWND handle) const
{
    std::lock_guard lock(m_mutex);
    return m_windows.count(FromHandle(handle)) != 0;
}

bool CWindowRegistry::Post(HWND handle, UINT message, WPARAM wParam, LPARAM lParam,
                           ValidityFlag validity)
{
    QueuedItem item;
    item.message = message;
    item.wParam = wParam;
    item.lParam = lParam;
    item.validity = std::move(validity);
    return Enqueue(handle, std::move(item));
}

bool CWindowRegistry::PostExpiry(HWND handle, UINT_PTR id, std::uint64_t generation)
{
    QueuedItem item;
    item.kind = QueuedItem::Kind::TimerExpiry;
    item.timerId = id;
    item.generation = generation;
    return Enqueue(handle, std::move(item));
}

bool CWindowRegistry::Enqueue(HWND handle, QueuedItem item)
{
    std::lock_guard lock(m_mutex);
    auto it = m_windows.find(FromHandle(handle));
    if (it == m_windows.end())
        return false;
    it->second.queue.push_back(std::move(item));
    AskForDrain(it->second);
    return true;
}

void CWindowRegistry::AskForDrain(Entry& entry)
{
    if (IsGuiThread()) {
        // The window lives on this thread, and its own timer hands the queue
        // over: the GUI thread never posts to itself for it.
        entry.window->KeepDraining();
        return;
    }
    if (entry.drainPending)
        return;
    entry.drainPending = true;
    // Posted under the lock: the window cannot finish unregistering (and so
    // cannot be deleted) while the event is being queued to it.
    // Made before the hand-over is annotated: the GUI thread reads it.
    auto* event = new CDrainEvent;
    AnnotateBeforePost();
    QCoreApplication::postEvent(entry.window, event);
}

void CWindowRegistry::DrainStarted(HWND handle)
{
    std::lock_guard lock(m_mutex);
    auto it = m_windows.find(FromHandle(handle));
    if (it != m_windows.end())
        it->second.drainPending = false;
}

bool CWindowRegistry::TakeNext(HWND handle, QueuedItem& item, bool& more)
{
    std::lock_guard lock(m_mutex);
    auto it = m_windows.find(FromHandle(handle));
    more = false;
    if (it == m_windows.end() || it->second.queue.empty())
        return false;
    item = std::move(it->second.queue.front());
    it->second.queue.pop_front();
    more = !it->second.queue.empty();
    return true;
}

void CWindowRegistry::RequestTimerSync(std::unique_lock<std::mutex>& lock, Entry& entry,
                                       UINT_PTR id)
{
    CWindow* window = entry.window;
    if (IsGuiThread()) {
        // The window lives on this thread, so it cannot go away meanwhile.
        lock.unlock();
        window->SyncTimer(id);
    } else {
        QueuedItem item;
        item.kind = QueuedItem::Kind::TimerSync;
        item.timerId = id;
        entry.queue.push_back(std::move(item));
        AskForDrain(entry);
    }
}

bool CWindowRegistry::SetTimer(HWND handle, UINT_PTR id, unsigned milliseconds)
{
    std::unique_lock lock(m_mutex);
    auto it = m_windows.find(FromHandle(handle));
    if (it == m_windows.end())
        return false;
    TimerWish& wish = it->second.timers[id];
    wish.exists = true;
    wish.generation = m_nextGeneration++;
    wish.milliseconds = std::clamp(milliseconds, kMinTimerMs, kMaxTimerMs);
    RequestTimerSync(lock, it->second, id);
    return true;
}

bool CWindowRegistry::KillTimer(HWND handle, UINT_PTR id)
{
    std::unique_lock lock(m_mutex);
    auto it = m_windows.find(FromHandle(handle));
    if (it == m_windows.end())
        return false;
    if (it->second.timers.erase(id) == 0)
        return false;
    // From here IsCurrent is false for every expiry of this timer: none is
    // dispatched, whatever Qt still has queued.
    RequestTimerSync(lock, it->second, id);
    return true;
}

CWindowRegistry::TimerWish CWindowRegistry::Wish(HWND handle, UINT_PTR id) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_windows.find(FromHandle(handle));
    if (it == m_windows.end())
        return {};
    auto timer = it->second.timers.find(id);
    return timer == it->second.timers.end() ? TimerWish{} : timer->second;
}

bool CWindowRegistry::IsCurrent(HWND handle, UINT_PTR id, std::uint64_t generation) const
{
    const TimerWish wish = Wish(handle, id);
    return wish.exists && wish.generation == generation;
}

} // namespace loop::detail

namespace loop {

bool PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return detail::CWindowRegistry::Instance().Post(window, message, wParam, lParam, nullptr);
}

bool SetTimer(HWND window, UINT_PTR id, unsigned milliseconds)
{
    return detail::CWindowRegistry::Instance().SetTimer(window, id, milliseconds);
}

bool KillTimer(HWND window, UINT_PTR id)
{
    return detail::CWindowRegistry::Instance().KillTimer(window, id);
}

bool IsWindow(HWND window)
{
    return detail::CWindowRegistry::Instance().IsAlive(window);
}

} // namespace loop
