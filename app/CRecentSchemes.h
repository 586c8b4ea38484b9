#pragma once

// The recent-scheme list of the "Файл" menu ("Последние схемы"): at most four
// absolute paths, the most recent first, kept in the frame settings.
//
// Threads: the GUI thread only.

#include <QStringList>

namespace app {

class CRecentSchemes final
{
public:
    static constexpr int MaxEntries = 4;

    // Reads the list from the settings.
    void Load();
    void Save() const;

    // Puts the file first (as an absolute path), dropping an older entry for it
    // and whatever falls off the end.
    void Add(const QString& path);
    void Remove(const QString& path);
    const QStringList& Paths() const { return m_paths; }

private:
    QStringList m_paths;
};

} // namespace app
