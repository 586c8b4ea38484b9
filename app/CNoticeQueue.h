#pragma once

// The user notices that arrive outside a command: the application logic's
// failures (core::IUserNotifier: an error in a socket notification, a damaged
// options file) and the frame's own reports from posted work. Each is shown
// through the prompt, one at a time: a notice that arrives while another is up
// waits in the queue, and the queue is drained by a queued call from the
// event loop, never from inside the code that raised the notice, so boxes are
// never stacked from nested event loops.
//
// Threads: Post, ShowError and ShowMessage from any thread (they only queue);
// the boxes are shown on the GUI thread, which must own this object.

#include "core/IUserNotifier.h"

#include <QObject>
#include <QString>

#include <deque>
#include <mutex>

namespace dialogs {
class IPrompt;
}

namespace app {

class CNoticeQueue final : public QObject, public core::IUserNotifier
{
public:
    explicit CNoticeQueue(dialogs::IPrompt& prompt, QObject* parent = nullptr);

    // core::IUserNotifier (UTF-8 texts).
    void ShowError(const std::string& operation, const std::string& technicalInfo,
                   const std::string& errorText) override;
    void ShowMessage(const std::string& text, bool isError) override;

    void PostError(const QString& operation, const QString& technicalInfo, const QString& errorText);
    void PostMessage(const QString& text, bool isError);

    // Notices waiting, and whether one is on screen (GUI thread).
    std::size_t Pending() const;
    bool Showing() const { return m_showing; }

private:
    struct Notice
    {
        bool isErrorDialog;
        bool isError;
        QString operation; // the message box's text for a message
        QString technicalInfo;
        QString errorText;
    };

    void Enqueue(Notice notice);
    void Drain();

    dialogs::IPrompt& m_prompt;
    mutable std::mutex m_lock;
    std::deque<Notice> m_queue;
    bool m_drainScheduled = false;
    bool m_showing = false; // GUI thread
};

} // namespace app
