#include "app/CKanalikoDoc.h"

#include <QFileInfo>

namespace app {

void CKanalikoDoc::SetFile(const QString& path, bool saved)
{
    const QFileInfo file(path);
    m_name = file.fileName();
    m_path = file.absoluteFilePath();
    m_saved = saved;
    m_untitled = false;
}

void CKanalikoDoc::SetUntitled()
{
    m_name = NewSchemeTitle();
    m_path.clear();
    m_saved = false;
    m_untitled = true;
}

QString CKanalikoDoc::WindowTitle() const
{
    const QString mark = !m_saved && !m_untitled ? QStringLiteral("*") : QString();
    return mark + m_name + QStringLiteral(" - ") + ApplicationTitle();
}

} // namespace app
