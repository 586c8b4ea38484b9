#include "loop/Window.h"

#include "loop/EventLoop.h"
#include "loop/ThreadAnnotations.h"
#include "loop/WindowRegistry.h"

#include <QPointer>
#include <QTimerEvent>
#include <QtGlobal>

namespace loop {

using detail::CWindowRegistry;

CWindow::CWindow(QObject* parent) : QObject(parent)
{
    Q_ASSERT_X(IsGuiThread(), "CWindow", "windows live on the GUI thread");
    m_handle = CWindowRegistry::Instance().Register(this);
}

CWindow::~CWindow()
{
    // First of all: from here on no thread can post to this window or touch its
    // timers. Events already queued are discarded by QObject's destructor.
    CWindowRegistry::Instance().Unregister(m_handle);
    for (const auto& [id, timer] : m_timers)
        killTimer(timer.qtTimerId);
}

void CWindow::OnMessage(UINT, WPARAM, LPARAM) {}

void CWindow::OnTimer(UINT_PTR) {}

void CWindow::OnHandlerException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        qCritical("unhandled exception in a window handler: %s", e.what());
    } catch (...) {
        qCritical("unhandled exception in a window handler");
    }
}

bool CWindow::event(QEvent* event)
{
    detail::AnnotateAfterDelivery();
    if (event->type() == detail::CDrainEvent::EventType()) {
        Drain();
        return true;
    }
    return QObject::event(event);
}

void CWindow::Drain()
{
    CWindowRegistry& registry = CWindowRegistry::Instance();
    registry.DrainStarted(m_handle);
    const HWND handle = m_handle;
    const QPointer<CWindow> alive(this);
    const auto until = std::chrono::steady_clock::now() + kDeliverySlice;
    detail::QueuedItem item;
    bool more = false;
    while (registry.TakeNext(handle, item, more)) {
        // While entries remain, the drain timer runs: it hands them over after
        // this slice, after the loop's other timers and input, and inside a
        // nested event loop that a handler may run. A timer rather than a
        // posted event: the GUI thread then never posts to itself here.
        if (more)
            KeepDraining();
        Deliver(item);
        item = detail::QueuedItem{};
        if (!alive)
            return; // a handler destroyed the window
        if (std::chrono::steady_clock::now() >= until)
            return;
    }
    if (m_drainTimer != 0) {
        killTimer(m_drainTimer);
        m_drainTimer = 0;
    }
}

void CWindow::KeepDraining()
{
    if (m_drainTimer == 0)
        m_drainTimer = startTimer(0);
}

void CWindow::Deliver(detail::QueuedItem& item)
{
    using Kind = detail::QueuedItem::Kind;
    switch (item.kind) {
    case Kind::Message:
        if (item.validity && !item.validity->load(std::memory_order_acquire))
            return; // a notification of a watch that has ended since it was posted
        try {
            OnMessage(item.message, item.wParam, item.lParam);
        } catch (...) {
            OnHandlerException(std::current_exception());
        }
        return;
    case Kind::TimerSync: SyncTimer(item.timerId); return;
    case Kind::TimerExpiry: {
        auto running = m_timers.find(item.timerId);
        if (running != m_timers.end() && running->second.generation == item.generation)
            running->second.expiryQueued = false;
        // Killed or restarted since it expired: not to be seen.
        if (!CWindowRegistry::Instance().IsCurrent(m_handle, item.timerId, item.generation))
            return;
        try {
            OnTimer(item.timerId);
        } catch (...) {
            OnHandlerException(std::current_exception());
        }
        return;
    }
    }
}

void CWindow::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_drainTimer) {
        // Qt does not fire a timer again inside its own handler: a handler's
        // nested event loop gets the rest of the queue from a new one.
        killTimer(m_drainTimer);
        m_drainTimer = 0;
        Drain();
        return;
    }
    auto ids = m_timerIds.find(event->timerId());
    if (ids == m_timerIds.end())
        return;
    const UINT_PTR id = ids->second;
    RunningTimer& timer = m_timers.at(id);
    // One expiry waits at a time; one killed or restarted by another thread
    // since Qt started this timer is never seen (the sync that follows stops it).
    if (timer.expiryQueued ||
        !CWindowRegistry::Instance().IsCurrent(m_handle, id, timer.generation))
        return;
    timer.expiryQueued = CWindowRegistry::Instance().PostExpiry(m_handle, id, timer.generation);
}

void CWindow::SyncTimer(UINT_PTR id)
{
    const CWindowRegistry::TimerWish wish = CWindowRegistry::Instance().Wish(m_handle, id);
    auto running = m_timers.find(id);
    if (running != m_timers.end() &&
        (!wish.exists || running->second.generation != wish.generation)) {
        killTimer(running->second.qtTimerId);
        m_timerIds.erase(running->second.qtTimerId);
        m_timers.erase(running);
        running = m_timers.end();
    }
    if (wish.exists && running == m_timers.end()) {
        const int qtTimerId = startTimer(static_cast<int>(wish.milliseconds), Qt::PreciseTimer);
        if (qtTimerId != 0) {
            m_timers[id] = RunningTimer{qtTimerId, wish.generation};
            m_timerIds[qtTimerId] = id;
        }
    }
}

} // namespace loop
