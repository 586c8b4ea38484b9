#pragma once

// "Редактор схемы": lists every channel of a scheme and adds, deletes and
// edits channels. Resizable (layouts and a size grip).
//
// For the main window, one call per command:
//
//   // "Редактировать схему": copies of the current groups; "Создать": {}.
//   std::vector<channel::SchemeGroup> current;
//   for (const auto& group : settings.Groups()) current.push_back(*group);
//   if (auto groups = dialogs::CSchemaEditorDlg::Edit(mainWindow, std::move(current)))
//       settings.SetGroups(*groups);   // nullopt: "Отмена" or the window closed
//
// The grid shows one row per channel (group by group, TCP, then UDP, then IP),
// grouped by sender, receiver and protocol, or as a flat list when the toggle
// "Группировать каналы связи" is off. "Добавить" and "Редактировать" (also a
// double click, F2 or Enter on a channel row) open the channel dialog
// (CAddChanelDlg) with every sender and receiver name of the scheme;
// "Удалить" (also the Delete key) removes the selected channel row at once and
// does nothing on a group row. An edited channel keeps its place in the list.
// "Применить" collects the grid into groups (GroupsOfChannels: ordered by
// "sender <-> receiver", lists in row order); "Отмена" leaves the caller's
// groups as they were.
//
// Threads: the GUI thread only.

#include "channel/SchemeGroup.h"
#include "dialogs/ChannelEntry.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <vector>

class QModelIndex;
class QPushButton;
class QToolButton;
class QTreeView;

namespace dialogs {

class CSchemeGridModel;
class IPrompt;

class CSchemaEditorDlg final : public QDialog
{
    Q_OBJECT

public:
    // Runs the editor modally over parent. The groups after "Применить", or
    // nullopt when the user cancelled. The channel dialog's messages are real
    // message boxes over it. The shape the main window's seam takes:
    //   std::function<std::optional<std::vector<channel::SchemeGroup>>(
    //       QWidget*, std::vector<channel::SchemeGroup>)> editor = &CSchemaEditorDlg::Edit;
    static std::optional<std::vector<channel::SchemeGroup>>
    Edit(QWidget* parent, std::vector<channel::SchemeGroup> groups);
    // The same with the channel dialog's messages sent to prompt.
    static std::optional<std::vector<channel::SchemeGroup>>
    EditWithPrompt(IPrompt& prompt, QWidget* parent, std::vector<channel::SchemeGroup> groups);

    explicit CSchemaEditorDlg(std::vector<channel::SchemeGroup> groups, IPrompt* prompt = nullptr,
                              QWidget* parent = nullptr);
    ~CSchemaEditorDlg() override;

    // The groups: as given until "Применить" (or an add or an edit) collects
    // the grid.
    const std::vector<channel::SchemeGroup>& Groups() const { return m_groups; }

    bool IsGrouped() const;
    void SetGrouped(bool grouped);

    // The buttons' commands.
    void AddChannel();
    void DeleteChannel();
    void EditChannel();

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CollectGrid();
    // The channel row of the current index, if it is a channel row.
    std::optional<int> CurrentRow() const;
    void SelectRow(std::optional<int> row);
    // After every model reset: spans, expansion, hidden columns, widths.
    void LayOutGrid();
    void UpdateButtons();
    // Runs the channel dialog with every name of the scheme; the entry on "Применить".
    std::optional<ChannelEntry> RunChannelDialog(const ChannelEntry* preset);

    std::vector<channel::SchemeGroup> m_groups;
    IPrompt* m_prompt;
    CSchemeGridModel* m_model = nullptr;
    QTreeView* m_grid = nullptr;
    QToolButton* m_groupToggle = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_edit = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace dialogs
