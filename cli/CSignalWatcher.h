#pragma once

// Turns SIGINT and SIGTERM into a call on the GUI thread: the handler only
// writes a byte to a pipe (all a signal handler may safely do), and a socket
// notifier on the pipe's other end calls back from the event loop. A second
// signal does not wait for the event loop (which may be waiting for the first
// stop to complete): the handler ends the process at once, with the status
// 128 + signal.
//
// Threads: construct and destroy on the GUI thread.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace cli {

class CSignalWatcher final : public QObject
{
public:
    explicit CSignalWatcher(std::function<void(int signal)> onSignal);
    ~CSignalWatcher() override;
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;

private:
    void Drain();

    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace cli
