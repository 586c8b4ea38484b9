#pragma once

// The scheme file commands of the main window: New, Open, Save, Save As, the
// recent schemes of the "Файл" menu, the scheme editor's result, and the save
// question that guards every command (and the close) that would drop unsaved
// edits. Owns the document (what the title says) and the recent list.
//
// Threads: the GUI thread only.

#include "app/CKanalikoDoc.h"
#include "app/CRecentSchemes.h"
#include "app/FrameDialogs.h"

#include <QList>
#include <QString>

#include <vector>

class QAction;
class QMenu;

namespace dialogs {
class IPrompt;
}

namespace app {

class CMainFrame;

class CSchemeCommands final
{
public:
    // The recent entries go into the menu between section and end.
    CSchemeCommands(CMainFrame& frame, dialogs::IPrompt& prompt, const FrameDialogs& dialogs,
                    QMenu* menu, QAction* section, QAction* end);

    void New();
    void Open();
    void Save();
    void SaveAs();
    void OpenRecent(const QString& path);
    // Reads the scheme, restarts the servers, empties the client grid, clears
    // the filter, names the document after the file. A file that does not load
    // is reported ("Ошибка при загрузке файла"), named unsaved, and dropped from
    // the recent list.
    void OpenScheme(const QString& path);
    // "Редактировать схему".
    void Edit();
    // "Схема изменена. Сохранить изменения в файле?" when the scheme is not
    // saved; true when the caller may go on (No, or Yes and saved).
    bool AskToSaveChanges();

    CKanalikoDoc& Document() { return m_doc; }
    const CKanalikoDoc& Document() const { return m_doc; }
    void SetDocument(const CKanalikoDoc& document);
    const CRecentSchemes& Recent() const { return m_recent; }
    void LoadRecent();

private:
    void ApplyGroups(const std::vector<channel::SchemeGroup>& groups);
    std::vector<channel::SchemeGroup> CopyGroups() const;
    void UpdateRecentMenu();
    // The title and the command states after a change.
    void Refresh();
    // Runs one step; an EGeneric is reported with the operation text.
    template <class F>
    void Guarded(const QString& operation, F&& step);

    CMainFrame& m_frame;
    dialogs::IPrompt& m_prompt;
    const FrameDialogs& m_dialogs;
    QMenu* m_menu;
    QAction* m_section;
    QAction* m_end;
    QList<QAction*> m_recentActions;
    CKanalikoDoc m_doc;
    CRecentSchemes m_recent;
};

} // namespace app
