#pragma once

// The document: what the window title says about the scheme in memory. It holds
// the scheme's display name, its file (an absolute path, or none) and the saved
// flag (true when the scheme equals its file), and builds the title from them:
// "[*]<name> - Проверка каналов связи". The "*" marks a scheme that differs
// from the file it is named after; a new scheme ("Новая схема") has no file yet
// and carries no mark, though it is unsaved.
//
// Threads: the GUI thread only.

#include <QString>

namespace app {

class CKanalikoDoc final
{
public:
    static QString ApplicationTitle() { return QStringLiteral("Проверка каналов связи"); }
    static QString NewSchemeTitle() { return QStringLiteral("Новая схема"); }

    // A scheme named after a file (absolute or relative path; the name is its
    // file-name part).
    void SetFile(const QString& path, bool saved);
    // A new scheme without a file.
    void SetUntitled();
    void SetSaved(bool saved) { m_saved = saved; }

    bool IsSaved() const { return m_saved; }
    bool IsUntitled() const { return m_untitled; }
    QString Name() const { return m_name; }
    QString FilePath() const { return m_path; }
    QString WindowTitle() const;

private:
    QString m_name = NewSchemeTitle();
    QString m_path;
    bool m_saved = true;
    bool m_untitled = true;
};

} // namespace app
