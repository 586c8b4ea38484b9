#include "app/CRecentSchemes.h"

#include "app/FrameSettings.h"

#include <QFileInfo>

namespace app {

namespace {
const QString kKey = QStringLiteral("RecentSchemes");
}

void CRecentSchemes::Load()
{
    m_paths.clear();
    const QStringList stored = OpenFrameSettings()->value(kKey).toStringList();
    for (const QString& path : stored) {
        if (!path.isEmpty() && QFileInfo(path).isAbsolute() && !m_paths.contains(path) &&
            m_paths.size() < MaxEntries)
            m_paths.push_back(path);
    }
}

void CRecentSchemes::Save() const
{
    OpenFrameSettings()->setValue(kKey, m_paths);
}

void CRecentSchemes::Add(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    m_paths.removeAll(absolute);
    m_paths.push_front(absolute);
    while (m_paths.size() > MaxEntries)
        m_paths.pop_back();
    Save();
}

void CRecentSchemes::Remove(const QString& path)
{
    if (m_paths.removeAll(QFileInfo(path).absoluteFilePath()) > 0)
        Save();
}

} // namespace app
