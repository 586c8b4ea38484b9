#pragma once

// The table of live windows behind the handles: what lets other threads post to a
// window, or set its timers, safely while the GUI thread may be destroying it.
// Internal to loop/.
//
// Threads: any; one mutex guards the table. A window removes itself (on the GUI
// thread) before it dies, under the same mutex under which posting threads reach
// it, so a post either reaches a live window or fails.

#include "loop/WindowTypes.h"

#include <QEvent>

#include <atomic>
#include <cstdint>
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

class CMessageEvent final : public QEvent
{
public:
    static QEvent::Type EventType();

    CMessageEvent(UINT message, WPARAM wParam, LPARAM lParam, ValidityFlag validity);

    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    ValidityFlag validity;
};

class CTimerSyncEvent final : public QEvent
{
public:
    static QEvent::Type EventType();

    explicit CTimerSyncEvent(UINT_PTR id);

    UINT_PTR id;
};

class CWindowRegistry final
{
public:
    static CWindowRegistry& Instance();

    HWND Register(CWindow* window);
    void Unregister(HWND handle);
    bool IsAlive(HWND handle) const;

    bool Post(HWND handle, UINT message, WPARAM wParam, LPARAM lParam, ValidityFlag validity);

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
    };

    // Tells the window to bring its Qt timer in line: directly on the GUI thread
    // (after the lock is released), by a posted event from any other thread.
    void RequestTimerSync(std::unique_lock<std::mutex>& lock, Entry& entry, UINT_PTR id);

    mutable std::mutex m_mutex;
    std::unordered_map<std::uintptr_t, Entry> m_windows;
    std::uintptr_t m_nextHandle = 1;
    std::uint64_t m_nextGeneration = 1;
};

} // namespace loop::detail
