#pragma once

// Window receivers and the posted messages and timers that drive them: the
// program's stand-in for window handles, PostMessage, SetTimer and KillTimer.
//
// Threading contract
// - A CWindow is created, used and destroyed on the GUI thread (the thread of the
//   QCoreApplication). Its handlers run there, one at a time, from the event loop.
// - PostToWindow, SetTimer, KillTimer and IsWindow may be called from any thread,
//   also while the window is being destroyed; they never wait for the GUI thread.
//   On a dead handle they do nothing and return false.
// - Messages posted to one window arrive in the order they were posted (across
//   all posting threads, the order in which the posting calls took place).
//   A handler that runs a nested event loop receives further messages inside it,
//   as a Windows modal loop does.
// - Messages and timer expiries wait in the window's queue and are handled a
//   slice of time (kDeliverySlice) at a time: between two slices the event
//   loop gets to timers, input and repainting, however many messages wait.
//   A timer has at most one expiry waiting, as on Windows.
// - After KillTimer (or a restarting SetTimer) returns, no expiry of the old timer
//   is dispatched any more, not even one that was already due. An expiry whose
//   handler had started before the call runs to its end.
// - Handlers must not let exceptions escape into the event loop; what escapes is
//   handed to OnHandlerException.

#include "loop/WindowTypes.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <exception>
#include <unordered_map>

class QTimerEvent;

namespace loop {

namespace detail {
class CWindowRegistry;
struct QueuedItem;
} // namespace detail

class CWindow : public QObject
{
    Q_OBJECT

public:
    // GUI thread only. The handle is valid from here until the destructor starts.
    explicit CWindow(QObject* parent = nullptr);
    ~CWindow() override;

    CWindow(const CWindow&) = delete;
    CWindow& operator=(const CWindow&) = delete;

    HWND Handle() const noexcept { return m_handle; }

    // How long one turn of the event loop hands this window queued entries
    // before it lets the rest of the loop in.
    static constexpr std::chrono::milliseconds kDeliverySlice{5};

protected:
    // A posted message. The default ignores it.
    virtual void OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // A timer of this window expired. The default ignores it.
    virtual void OnTimer(UINT_PTR id);
    // A handler let an exception escape. The default writes it to the Qt log
    // (qCritical); the application shows its error dialog instead.
    virtual void OnHandlerException(std::exception_ptr error);

    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) final;

private:
    friend class detail::CWindowRegistry;

    // Brings the Qt timer of this id in line with what SetTimer/KillTimer asked
    // for. GUI thread only.
    void SyncTimer(UINT_PTR id);
    // Handles queued entries for one delivery slice.
    void Drain();
    // Starts the drain timer, unless it runs: the queue has entries. GUI thread.
    void KeepDraining();
    // Handles one entry. The window may be gone when it returns.
    void Deliver(detail::QueuedItem& item);

    struct RunningTimer
    {
        int qtTimerId;
        std::uint64_t generation;
        bool expiryQueued = false;
    };

    HWND m_handle;
    int m_drainTimer = 0; // Qt's id of the zero timer that goes on draining, or 0
    std::unordered_map<UINT_PTR, RunningTimer> m_timers; // by our id
    std::unordered_map<int, UINT_PTR> m_timerIds;        // Qt's id -> our id
};

// Posts (never sends) a message to a window; false when the window no longer
// exists. Any thread.
bool PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts the timer with that id, or restarts it with a new interval; it repeats
// every `milliseconds` (at least 10, as on Windows) until KillTimer. False when
// the window no longer exists. Any thread.
bool SetTimer(HWND window, UINT_PTR id, unsigned milliseconds);

// Stops the timer; false when the window or the timer does not exist. Any thread.
bool KillTimer(HWND window, UINT_PTR id);

// Whether the handle names a live window. Any thread.
bool IsWindow(HWND window);

} // namespace loop
