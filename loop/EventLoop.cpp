#include "loop/EventLoop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace loop {

namespace {
// A predicate may turn true on another thread without anything being posted
// here; the loop then looks at it again after a backstop pause that starts
// short and doubles at each expiry, up to the longest. A waiting loop with
// nothing to do so wakes four times a second at most, and each wake-up costs
// the same whatever the number of sockets.
constexpr int kFirstBackstopMs = 5;
constexpr int kLongestBackstopMs = 250;
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
    // Wakes the loop when the time is up, even when nothing arrives.
    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    end.start(static_cast<int>(std::min<std::int64_t>(timeout.count(), INT_MAX)));
    QTimer backstop;
    backstop.setSingleShot(true);
    int backstopMs = kFirstBackstopMs;
    QObject::connect(&backstop, &QTimer::timeout, [&backstop, &backstopMs] {
        backstopMs = std::min(backstopMs * 2, kLongestBackstopMs);
        backstop.start(backstopMs);
    });
    backstop.start(backstopMs);
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
