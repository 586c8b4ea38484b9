#include "panes/CPaneClipboard.h"

#include "ferrox/debug/DebugStream.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>

namespace panes {

namespace {

// One line each: the stream also goes to the error log.
void ReportError(const char* text)
{
    if (Error.GetEnabled())
        Error.printf("%s\n", text);
}

} // namespace

bool CPaneClipboard::Open()
{
    // QClipboard belongs to the GUI thread; a QCoreApplication has none.
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return application != nullptr && QThread::currentThread() == application->thread() &&
           QGuiApplication::clipboard() != nullptr;
}

bool CPaneClipboard::Empty()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    return clipboard->text().isEmpty();
}

void CPaneClipboard::SetText(const QString& text)
{
    m_text = text;
    QGuiApplication::clipboard()->setText(text);
}

bool CPaneClipboard::Close()
{
    return QGuiApplication::clipboard()->text() == m_text;
}

IPaneClipboard& CPaneClipboard::System()
{
    static CPaneClipboard clipboard;
    return clipboard;
}

bool CPaneClipboard::Copy(IPaneClipboard& clipboard, const QString& text)
{
    if (!clipboard.Open()) {
        ReportError("Open clipboard error.");
        return false;
    }
    if (!clipboard.Empty()) {
        ReportError("Empty clipboard error.");
        clipboard.Close();
        return false;
    }
    clipboard.SetText(text);
    if (!clipboard.Close()) {
        ReportError("Close clipboard error.");
        return false;
    }
    return true;
}

} // namespace panes
