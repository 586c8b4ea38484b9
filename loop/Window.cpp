#include "loop/Window.h"

#include "loop/EventLoop.h"
#include "loop/ThreadAnnotations.h"
#include "loop/WindowRegistry.h"

#include <QTimerEvent>
#include <QtGlobal>

namespace loop {

using detail::CMessageEvent;
using detail::CTimerSyncEvent;
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
    if (event->type() == CMessageEvent::EventType()) {
        auto* message = static_cast<CMessageEvent*>(event);
        if (message->validity && !message->validity->load(std::memory_order_acquire))
            return true; // a notification of a watch that has ended since it was posted
        try {
            OnMessage(message->message, message->wParam, message->lParam);
        } catch (...) {
            OnHandlerException(std::current_exception());
        }
        return true;
    }
    if (event->type() == CTimerSyncEvent::EventType()) {
        SyncTimer(static_cast<CTimerSyncEvent*>(event)->id);
        return true;
    }
    return QObject::event(event);
}

void CWindow::timerEvent(QTimerEvent* event)
{
    auto ids = m_timerIds.find(event->timerId());
    if (ids == m_timerIds.end())
        return;
    const UINT_PTR id = ids->second;
    const std::uint64_t generation = m_timers.at(id).generation;
    // Killed or restarted by another thread since Qt started this timer: the
    // sync that follows stops it; this expiry must not be seen.
    if (!CWindowRegistry::Instance().IsCurrent(m_handle, id, generation))
        return;
    try {
        OnTimer(id);
    } catch (...) {
        OnHandlerException(std::current_exception());
    }
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
