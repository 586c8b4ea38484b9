#pragma once

// Support for tests of the event-loop layer: the QCoreApplication (made once per
// test program, on the main thread, before the first test) and a window that
// records what reaches it.

#include "loop/Window.h"

#include <QtGlobal>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A window that records every message and timer expiry, with the thread it ran
// on and whether a handler was entered while another was running.
class CRecordingWindow final : public loop::CWindow
{
public:
    struct Message
    {
        loop::UINT message;
        loop::WPARAM wParam;
        loop::LPARAM lParam;
        std::thread::id thread;
    };

    // Called inside the handler, after the message is recorded.
    std::function<void(const Message&)> onMessage;
    std::function<void(loop::UINT_PTR)> onTimer;

    std::vector<Message> messages;
    std::vector<loop::UINT_PTR> timers;
    std::vector<std::thread::id> timerThreads;
    bool overlapped = false;

    // Messages with this number (and socket, for socket notifications).
    std::vector<Message> With(loop::UINT message) const;
    std::vector<Message> With(loop::UINT message, loop::WPARAM wParam) const;
    int TimerCount(loop::UINT_PTR id) const;

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override;
    void OnTimer(loop::UINT_PTR id) override;

private:
    int m_depth = 0;
};

// CPU time used by the calling thread, in milliseconds.
double ThreadCpuMilliseconds();

// Counts, while it lives, the Qt messages (warnings and the like) whose text
// holds a phrase; others go on to the handler that was there before.
class CQtMessageCounter
{
public:
    explicit CQtMessageCounter(std::string phrase);
    ~CQtMessageCounter();
    CQtMessageCounter(const CQtMessageCounter&) = delete;
    CQtMessageCounter& operator=(const CQtMessageCounter&) = delete;

    int Count() const { return m_count.load(); }
    // The first message counted, for a readable failure.
    std::string First() const;

private:
    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text);

    std::string m_phrase;
    std::atomic<int> m_count{0};
    mutable std::mutex m_lock;
    std::string m_first;
    QtMessageHandler m_previous = nullptr;
};

} // namespace testsupport
