#include "app/CSchemeCommands.h"

#include "app/CMainFrame.h"
#include "core/CAppLogic.h"
#include "dialogs/ErrorReport.h"
#include "dialogs/IPrompt.h"
#include "ferrox/exceptions/EGeneric.h"

#include <QAction>
#include <QMenu>

namespace app {

namespace {

const QString kSchemeFilter = QStringLiteral("Файлы схем (*.xml)");
const QString kSaveQuestion = QStringLiteral("Схема изменена. Сохранить изменения в файле?");
const QString kLoadFailed = QStringLiteral("Ошибка при загрузке файла");
const QString kSaveFailed = QStringLiteral("Не удалось сохранить файл");
const QString kEditScheme = QStringLiteral("Редактировать схему");
const QString kNewScheme = QStringLiteral("Создать");

// A menu entry for a recent scheme: the number and the path, shortened in the
// middle when it is long.
QString RecentEntryText(int number, const QString& path)
{
    constexpr int kLongest = 60;
    QString shown = path;
    if (shown.size() > kLongest)
        shown = shown.left(kLongest / 3) + QStringLiteral("…") + shown.right(kLongest * 2 / 3);
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return QStringLiteral("&%1 %2").arg(number).arg(shown);
}

} // namespace

CSchemeCommands::CSchemeCommands(CMainFrame& frame, dialogs::IPrompt& prompt,
                                 const FrameDialogs& dialogs, QMenu* menu, QAction* section,
                                 QAction* end)
    : m_frame(frame), m_prompt(prompt), m_dialogs(dialogs), m_menu(menu), m_section(section),
      m_end(end)
{
    UpdateRecentMenu();
}

template <class F>
void CSchemeCommands::Guarded(const QString& operation, F&& step)
{
    try {
        step();
    } catch (const EGeneric& e) {
        dialogs::ReportException(m_prompt, operation, e);
    }
}

void CSchemeCommands::Refresh()
{
    m_frame.setWindowTitle(m_doc.WindowTitle());
    m_frame.UpdateCommands();
}

void CSchemeCommands::SetDocument(const CKanalikoDoc& document)
{
    m_doc = document;
    Refresh();
}

void CSchemeCommands::LoadRecent()
{
    m_recent.Load();
    UpdateRecentMenu();
}

std::vector<channel::SchemeGroup> CSchemeCommands::CopyGroups() const
{
    std::vector<channel::SchemeGroup> groups;
    if (core::CAppLogic* logic = m_frame.AttachedLogic()) {
        for (const auto& group : logic->Settings().Groups())
            groups.push_back(*group);
    }
    return groups;
}

void CSchemeCommands::ApplyGroups(const std::vector<channel::SchemeGroup>& groups)
{
    m_frame.AttachedLogic()->Settings().SetGroups(groups);
    m_doc.SetSaved(false);
    m_frame.RestartServers();
    m_frame.ClearClientGrid();
    m_frame.SetFilterShown(false);
}

void CSchemeCommands::Edit()
{
    if (!m_dialogs.schemeEditor || !m_frame.AttachedLogic())
        return;
    const auto edited = m_dialogs.schemeEditor(&m_frame, CopyGroups());
    if (!edited)
        return;
    Guarded(kEditScheme, [&] { ApplyGroups(*edited); });
    Refresh();
}

bool CSchemeCommands::AskToSaveChanges()
{
    if (m_doc.IsSaved() || !m_frame.AttachedLogic())
        return true;
    switch (m_prompt.Ask(kSaveQuestion, true)) {
    case dialogs::PromptAnswer::Cancel: return false;
    case dialogs::PromptAnswer::No: return true;
    case dialogs::PromptAnswer::Yes: break;
    }
    Save();
    return m_doc.IsSaved();
}

void CSchemeCommands::New()
{
    core::CAppLogic* logic = m_frame.AttachedLogic();
    if (!m_dialogs.schemeEditor || !logic)
        return;
    // Unsaved edits are not dropped without asking.
    if (!AskToSaveChanges())
        return;
    const auto edited = m_dialogs.schemeEditor(&m_frame, {});
    if (!edited)
        return;
    Guarded(kNewScheme, [&] {
        logic->Settings().SetSchemePath("");
        ApplyGroups(*edited);
    });
    m_doc.SetUntitled();
    Refresh();
}

void CSchemeCommands::Open()
{
    if (!m_frame.AttachedLogic() || !AskToSaveChanges())
        return;
    const QString path = m_prompt.OpenFileName(QStringLiteral("Открыть"), kSchemeFilter);
    if (!path.isEmpty())
        OpenScheme(path);
}

void CSchemeCommands::OpenRecent(const QString& path)
{
    if (!m_frame.AttachedLogic() || !AskToSaveChanges())
        return;
    OpenScheme(path);
}

void CSchemeCommands::OpenScheme(const QString& path)
{
    core::CAppLogic* logic = m_frame.AttachedLogic();
    if (!logic)
        return;
    bool loaded = false;
    Guarded(kLoadFailed, [&] {
        logic->Settings().ReadScheme(path.toStdString());
        loaded = true;
    });
    // Whatever was read replaced the scheme: the servers follow it in any case.
    Guarded(kLoadFailed, [this] {
        m_frame.RestartServers();
        m_frame.ClearClientGrid();
        m_frame.SetFilterShown(false);
    });
    // A file that did not load is not what memory holds now: named, but unsaved,
    // and not offered again as a recent scheme.
    m_doc.SetFile(path, loaded);
    if (loaded)
        m_recent.Add(path);
    else
        m_recent.Remove(path);
    UpdateRecentMenu();
    Refresh();
}

void CSchemeCommands::Save()
{
    core::CAppLogic* logic = m_frame.AttachedLogic();
    if (!logic)
        return;
    const std::string path = logic->Settings().SchemePath();
    if (path.empty()) {
        SaveAs();
        return;
    }
    Guarded(kSaveFailed, [&] {
        if (logic->Settings().WriteScheme(path))
            m_doc.SetSaved(true);
        else
            m_prompt.Tell(kSaveFailed, dialogs::PromptIcon::Error);
    });
    Refresh();
}

void CSchemeCommands::SaveAs()
{
    core::CAppLogic* logic = m_frame.AttachedLogic();
    if (!logic)
        return;
    const QString suggested = m_doc.IsUntitled() ? QString() : m_doc.FilePath();
    QString path = m_prompt.SaveFileName(QStringLiteral("Сохранить как"), kSchemeFilter, suggested);
    if (path.isEmpty())
        return;
    if (!path.contains(QStringLiteral(".xml")))
        path += QStringLiteral(".xml");
    bool written = false;
    Guarded(kSaveFailed, [&] {
        written = logic->Settings().WriteScheme(path.toStdString());
        if (!written)
            m_prompt.Tell(kSaveFailed, dialogs::PromptIcon::Error);
    });
    // The scheme is now bound to that path whatever happened; only a written
    // file counts as saved and as a recent scheme.
    if (written || logic->Settings().SchemePath() == path.toStdString()) {
        m_doc.SetFile(path, written);
        if (written) {
            m_recent.Add(path);
            UpdateRecentMenu();
        }
    }
    Refresh();
}

void CSchemeCommands::UpdateRecentMenu()
{
    for (QAction* action : m_recentActions) {
        m_menu->removeAction(action);
        action->deleteLater();
    }
    m_recentActions.clear();
    const QStringList& paths = m_recent.Paths();
    for (int i = 0; i < paths.size(); ++i) {
        auto* action = new QAction(RecentEntryText(i + 1, paths[i]), m_menu);
        action->setObjectName(QStringLiteral("RecentScheme%1").arg(i + 1));
        action->setData(paths[i]);
        action->setToolTip(paths[i]);
        const QString path = paths[i];
        QObject::connect(action, &QAction::triggered, &m_frame, [this, path] { OpenRecent(path); });
        m_menu->insertAction(m_end, action);
        m_recentActions.push_back(action);
    }
    m_section->setVisible(!paths.isEmpty());
}

} // namespace app
