#include "panes/CQtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>

namespace panes {

bool CQtClipboard::Open()
{
    m_clipboard = nullptr;
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (application == nullptr || QThread::currentThread() != application->thread())
        return false;
    m_clipboard = QGuiApplication::clipboard();
    return m_clipboard != nullptr;
}

bool CQtClipboard::Empty()
{
    if (m_clipboard == nullptr)
        return false;
    m_clipboard->clear();
    return m_clipboard->text().isEmpty();
}

bool CQtClipboard::SetText(const QString& text)
{
    if (m_clipboard == nullptr)
        return false;
    m_clipboard->setText(text);
    return m_clipboard->text() == text;
}

} // namespace panes
