#pragma once

// The table of live windows behind the handles: what lets other threads post to a
// window, or set its timers, safely while the GUI thread may be destroying it.
// Internal to loop/.
//
// Threads: any; one mutex guards the table and the windows' queues. A window
// removes itself (on the GUI thread) before it dies, under the same mutex under
// which posting threads reach it, so a post either reaches a live window or
// fails.
//
// Posted messages wait in the window's own queue, not as one Qt event each: a
// window takes them a slice of time at a time (CWindow::Drain), so that a
// burst of thousands of messages never holds timers and input back for longer
// than a slice. One Qt event per window, posted by the thread that queues to
// an idle window, asks for a drain; the window goes on by a timer of its own.

#include "loop/WindowTypes.h"

#include <QEvent>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace loop {
class CWindow;
}

namespace loop::detail {

// Posted notifications may carry a validity flag: when it has been cleared by the
// time the message is dispatched, the message is dropped. Asynchronous selection
// uses it so that a closed socket's pending notifications never arrive.
using ValidityFlag = std::shared_ptr<const std::atomic<bool>>;

// One entry of a window's queue: a posted message, a request from another
// thread to bring a timer in line with SetTimer/KillTimer, or a timer's expiry.
// A window takes its entries in the order they were queued.
struct QueuedItem
{
    enum class Kind : std::uint8_t
    {
        Message,
        TimerSync,
        TimerExpiry,
    };
    Kind kind = Kind::Message;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    ValidityFlag validity;
    UINT_PTR timerId = 0;
    std::uint64_t generation = 0; // of the Qt timer that expired
};

// Posted to a window when its queue has entries and no such event is pending:
// the window then takes entries for one delivery slice (CWindow::Drain).
class CDrainEvent final : public QEvent
{
public:
    static QEvent::Type EventType();

    CDrainEvent();
};

class CWindowRegistry final
{
public:
    static CWindowRegistry& Instance();

    HWND Register(CWindow* window);
    void Unregister(HWND handle);
    bool IsAlive(HWND handle) const;

    bool Post(HWND handle, UINT message, WPARAM wParam, LPARAM lParam, ValidityFlag validity);
    // Queues the expiry of the Qt timer started for that generation. GUI thread.
    bool PostExpiry(HWND handle, UINT_PTR id, std::uint64_t generation);

    // The window's side of its queue (GUI thread). A drain has started: the
    // next entry queued asks for another one.
    void DrainStarted(HWND handle);
    // Takes the oldest entry; false when there is none (or no such window).
    // more: whether entries remain behind it.
    bool TakeNext(HWND handle, QueuedItem& item, bool& more);

    bool SetTimer(HWND handle, UINT_PTR id, unsigned milliseconds);
    bool KillTimer(HWND handle, UINT_PTR id);

    // What the program asked for a timer: present or not, and since which call.
    struct TimerWish
    {
        bool exists = false;
        std::uint64_t generation = 0;
        unsigned milliseconds = 0;
    };
    TimerWish Wish(HWND handle, UINT_PTR id) const;
    // Whether an expiry of the Qt timer started for that generation may still be
    // dispatched.
    bool IsCurrent(HWND handle, UINT_PTR id, std::uint64_t generation) const;

private:
    CWindowRegistry() = default;

    struct Entry
    {
        CWindow* window = nullptr;
        std::unordered_map<UINT_PTR, TimerWish> timers;
        std::deque<QueuedItem> queue;
        bool drainPending = false; // a CDrainEvent is queued and has not started
    };

    // Queues an entry for a live window and asks for a drain.
    bool Enqueue(HWND handle, QueuedItem item);
    // On the GUI thread: the window's drain timer runs. On any other: one
    // CDrainEvent is posted, unless one is pending.
    void AskForDrain(Entry& entry);

    // Tells the window to bring its Qt timer in line: directly on the GUI thread
    // (after the lock is released), through its queue from any other thread.
    void RequestTimerSync(std::unique_lock<std::mutex>& lock, Entry& entry, UINT_PTR id);

    mutable std::mutex m_mutex;
    std::unordered_map<std::uintptr_t, Entry> m_windows;
    std::uintptr_t m_nextHandle = 1;
    std::uint64_t m_nextGeneration = 1;
};

} // namespace loop::detail
