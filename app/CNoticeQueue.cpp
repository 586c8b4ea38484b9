#include "app/CNoticeQueue.h"

#include "dialogs/IPrompt.h"

#include <QMetaObject>

namespace app {

CNoticeQueue::CNoticeQueue(dialogs::IPrompt& prompt, QObject* parent)
    : QObject(parent), m_prompt(prompt)
{}

void CNoticeQueue::ShowError(const std::string& operation, const std::string& technicalInfo,
                             const std::string& errorText)
{
    PostError(QString::fromStdString(operation), QString::fromStdString(technicalInfo),
              QString::fromStdString(errorText));
}

void CNoticeQueue::ShowMessage(const std::string& text, bool isError)
{
    PostMessage(QString::fromStdString(text), isError);
}

void CNoticeQueue::PostError(const QString& operation, const QString& technicalInfo,
                             const QString& errorText)
{
    Enqueue(Notice{true, true, operation, technicalInfo, errorText});
}

void CNoticeQueue::PostMessage(const QString& text, bool isError)
{
    Enqueue(Notice{false, isError, text, {}, {}});
}

std::size_t CNoticeQueue::Pending() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_queue.size();
}

void CNoticeQueue::Enqueue(Notice notice)
{
    bool schedule = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_queue.push_back(std::move(notice));
        // One drain at a time: a drain that is running (a box is up) picks the
        // new notice up when the box closes.
        if (!m_drainScheduled) {
            m_drainScheduled = true;
            schedule = true;
        }
    }
    if (schedule)
        QMetaObject::invokeMethod(this, &CNoticeQueue::Drain, Qt::QueuedConnection);
}

void CNoticeQueue::Drain()
{
    for (;;) {
        Notice notice;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_queue.empty()) {
                m_drainScheduled = false;
                return;
            }
            notice = std::move(m_queue.front());
            m_queue.pop_front();
        }
        m_showing = true;
        if (notice.isErrorDialog)
            m_prompt.ShowError(notice.operation, notice.technicalInfo, notice.errorText);
        else
            m_prompt.Tell(notice.operation, notice.isError ? dialogs::PromptIcon::Error
                                                           : dialogs::PromptIcon::Information);
        m_showing = false;
    }
}

} // namespace app
