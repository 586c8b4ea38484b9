#pragma once

// The events pane ("События"): a toolbar and the grid of the event log. The
// frame puts it into its dock "События"; everything else the pane does itself.
//
// Seam for the frame
// - Construct it with the logic and the prompt; it registers its model's
//   receiver (EventsWindow()) as the logic's events pane
//   (CAppLogic::SetEventsPane), so the frame need not set that window; if it
//   does, it must pass EventsWindow(). Its window title is "События".
// - It is the frame's panes::IEventsPane (the factory's eventsPane).
// - SelectEventBySequence(sequence): select an event and bring it into view,
//   found by its sequence number (not by its index, which a purge, a sort or a
//   filter changes).
// - RefreshRows(): read the store's rows now; after CAppLogic::PurgeEvents the
//   store's notice does it a moment later anyway.
// - SaveToFile, OpenFilterDialog, RemoveFilter, SetAutoScroll: the four
//   toolbar commands, for a ribbon or a menu that offers them too;
//   filteredChanged and autoScrollChanged tell it the states.
//
// Commands
// - "Сохранить данные в файл": a save dialog (filter "Файлы с отчётами
//   (*.csv)"), ".csv" appended when the name does not contain it, then the CSV
//   export in slices with a progress dialog (CEventExport). A file that cannot
//   be written: "Error with saving file. code=<errno>" to the Error stream and
//   the box "Не удалось сохранить файл".
// - "Фильтровать" (pressed while the logic's filter is in force, whoever applied
//   it; "Убрать фильтр" likewise enabled): the filter
//   dialog, modal, on the GUI thread, preloaded with the criteria in force;
//   "Применить" applies its criteria.
// - "Убрать фильтр" (enabled only while filtered): removes the filter.
// - "Автопрокрутка": while on, the last row stays in view and header clicks do
//   not sort. Switching it either way drops the sort (back to arrival order)
//   and its marks.
// - Header: a click sorts by the column (again: the other direction), Ctrl+click
//   adds the column as a further key; the selected event stays selected. A
//   double click on a divider fits the column (CEventGrid::FitColumn).
//
// Threads: the GUI thread only.

#include "dialogs/IPrompt.h"
#include "loop/WindowTypes.h"
#include "panes/CEventExport.h"
#include "panes/IEventsPane.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QAction;
class QToolBar;

namespace core {
class CAppLogic;
}
namespace dialogs {
class CFilterDlg;
}
namespace events {
struct FilterCriteria;
}

namespace panes {

class CEventGrid;
class CEventsModel;

class CEventBar final : public QWidget, public IEventsPane
{
    Q_OBJECT

public:
    CEventBar(core::CAppLogic& logic, dialogs::IPrompt& prompt, QWidget* parent = nullptr);
    ~CEventBar() override;

    // IEventsPane: the frame's calls.
    QWidget* Widget() override { return this; }
    void SetRowsChangedHandler(std::function<void()> handler) override;
    void RefreshRows() override;
    void SelectRow(int row) override;
    void FilterChanged() override;

    // The receiver of the store's messages (WM_EVENT_ADDED, WM_EVENTS_FILTERED,
    // WM_EVENTS_REDRAW), already registered with the logic.
    loop::HWND EventsWindow() const;
    // False when no row shows that event (filtered out, purged, unknown).
    bool SelectEventBySequence(std::uint32_t sequence);
    // The sequence number of the selected event, none without a selection.
    std::optional<std::uint32_t> SelectedSequence() const;

    void SaveToFile();
    void OpenFilterDialog();
    // Applies criteria as "Применить" of the filter dialog does.
    void ApplyFilter(const events::FilterCriteria& criteria);
    void RemoveFilter();
    void SetAutoScroll(bool on);
    bool IsAutoScroll() const { return m_autoScroll; }
    // Whether the log is filtered: the logic's filter is in force, whoever
    // applied it (this pane, another pane's context menu).
    bool IsFiltered() const;

    CEventGrid* Grid() const { return m_grid; }
    CEventsModel* Model() const { return m_model; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QAction* SaveAction() const { return m_save; }
    QAction* FilterAction() const { return m_filter; }
    QAction* RemoveFilterAction() const { return m_removeFilter; }
    QAction* AutoScrollAction() const { return m_autoScrollAction; }
    // The open filter dialog, or null.
    dialogs::CFilterDlg* FilterDialog() const;
    // The running export, or null.
    CEventExport* Export() const { return m_export; }

signals:
    void filteredChanged(bool filtered);
    void autoScrollChanged(bool on);
    // An export has ended.
    void exportFinished(panes::CEventExport::Result result);

private:
    void OnSortRequested(int column, bool addKey);
    void OnRowsSynced(bool reset);
    void OnExportFinished(CEventExport::Result result);
    void UpdateCommandStates();
    // After the rows were replaced: read them, mark the sort, select the event again.
    void ShowReplacedRows(std::optional<std::uint32_t> selected);

    core::CAppLogic& m_logic;
    dialogs::IPrompt& m_prompt;
    CEventsModel* m_model;
    CEventGrid* m_grid;
    QToolBar* m_toolBar;
    QAction* m_save;
    QAction* m_filter;
    QAction* m_removeFilter;
    QAction* m_autoScrollAction;
    QPointer<QWidget> m_filterDialog;
    QPointer<CEventExport> m_export;
    bool m_autoScroll = false;
    bool m_filtered = false; // as last shown by the commands and filteredChanged
    std::function<void()> m_rowsChanged;
    // The event selected before a reset of the model, to select it again after.
    std::optional<std::uint32_t> m_selectedBeforeReset;
};

} // namespace panes
