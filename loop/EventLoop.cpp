#include "loop/EventLoop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

namespace loop {

namespace {
// How often a waiting loop wakes up to look at the predicate and the clock.
constexpr int kWakeIntervalMs = 5;
} // namespace

bool IsGuiThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    Q_ASSERT_X(IsGuiThread(), "loop::RunUntil", "runs the GUI thread's event loop");
    const QDeadlineTimer deadline(timeout.count(), Qt::PreciseTimer);
    // Bounds each wait for events, so the predicate and the deadline are looked
    // at even when nothing arrives.
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(kWakeIntervalMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void ProcessEventsFor(std::chrono::milliseconds duration)
{
    RunUntil([] { return false; }, duration);
}

} // namespace loop
