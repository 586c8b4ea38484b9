#include "panes/CEventBar.h"

#include "core/CAppLogic.h"
#include "dialogs/CFilterDlg.h"
#include "events/FilterCriteria.h"
#include "ferrox/debug/DebugStream.h"
#include "panes/CEventGrid.h"
#include "panes/CEventHeader.h"
#include "panes/CEventsModel.h"

#include <QAction>
#include <QGuiApplication>
#include <QIcon>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

// See CEventsModel.cpp: a static library's resources are registered by hand.
static void RegisterEventBarResources()
{
    Q_INIT_RESOURCE(event_bar);
}

namespace panes {

namespace {

const char* const kSaveText = "Сохранить данные в файл";
const char* const kFilterText = "Фильтровать";
const char* const kRemoveFilterText = "Убрать фильтр";
const char* const kAutoScrollText = "Автопрокрутка";

QAction* MakeAction(QToolBar* bar, const char* text, const char* image)
{
    QAction* action = bar->addAction(QIcon(QStringLiteral(":/panes/events/") +
                                           QString::fromLatin1(image)),
                                     QString::fromUtf8(text));
    action->setToolTip(QString::fromUtf8(text));
    // Tool bar buttons take no focus by default; these must be reachable by Tab.
    if (QWidget* button = bar->widgetForAction(action)) {
        button->setFocusPolicy(Qt::TabFocus);
        button->setAccessibleName(QString::fromUtf8(text));
    }
    return action;
}

} // namespace

CEventBar::CEventBar(core::CAppLogic& logic, dialogs::IPrompt& prompt, QWidget* parent)
    : QWidget(parent), m_logic(logic), m_prompt(prompt),
      m_model(new CEventsModel(logic.Events(), this)), m_grid(new CEventGrid(this)),
      m_toolBar(new QToolBar(this))
{
    RegisterEventBarResources();
    setObjectName(QStringLiteral("eventBar"));
    setWindowTitle(QStringLiteral("События"));
    setAccessibleName(QStringLiteral("События"));
    setContextMenuPolicy(Qt::PreventContextMenu);

    m_toolBar->setObjectName(QStringLiteral("eventBarToolBar"));
    m_toolBar->setAccessibleName(QStringLiteral("Команды журнала событий"));
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_save = MakeAction(m_toolBar, kSaveText, "event_save.png");
    m_toolBar->addSeparator();
    m_filter = MakeAction(m_toolBar, kFilterText, "event_filter.png");
    m_filter->setCheckable(true);
    m_removeFilter = MakeAction(m_toolBar, kRemoveFilterText, "event_filter_remove.png");
    m_toolBar->addSeparator();
    m_autoScrollAction = MakeAction(m_toolBar, kAutoScrollText, "event_autoscroll.png");
    m_autoScrollAction->setCheckable(true);

    connect(m_save, &QAction::triggered, this, &CEventBar::SaveToFile);
    connect(m_filter, &QAction::triggered, this, [this] {
        // Pressed stands for "filtered", not for "was clicked".
        m_filter->setChecked(IsFiltered());
        OpenFilterDialog();
    });
    connect(m_removeFilter, &QAction::triggered, this, &CEventBar::RemoveFilter);
    connect(m_autoScrollAction, &QAction::triggered, this, &CEventBar::SetAutoScroll);

    m_grid->setModel(m_model);
    connect(m_grid->Header(), &CEventHeader::sortRequested, this, &CEventBar::OnSortRequested);
    connect(m_model, &CEventsModel::rowsSynced, this, &CEventBar::OnRowsSynced);
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_selectedBeforeReset = SelectedSequence(); });
    connect(m_model, &CEventsModel::redrawRequested, m_grid->viewport(),
            qOverload<>(&QWidget::update));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_grid, 1);
    setFocusProxy(m_grid);

    m_logic.SetEventsPane(m_model->NoticeWindow());
    m_grid->Header()->SetSortMarks(m_logic.Events().SortState().Keys());
    RefreshRows();
    UpdateCommandStates();
}

CEventBar::~CEventBar()
{
    // The export's temporary file goes with it; the dialog is closed unused.
    delete m_export.data();
    delete m_filterDialog.data();
    // The view before its model.
    delete m_grid;
}

loop::HWND CEventBar::EventsWindow() const
{
    return m_model->NoticeWindow();
}

dialogs::CFilterDlg* CEventBar::FilterDialog() const
{
    return qobject_cast<dialogs::CFilterDlg*>(m_filterDialog.data());
}

bool CEventBar::IsFiltered() const
{
    return m_logic.Events().IsFilterActive();
}

void CEventBar::UpdateCommandStates()
{
    const bool filtered = IsFiltered();
    m_filter->setChecked(filtered);
    m_removeFilter->setEnabled(filtered);
    m_autoScrollAction->setChecked(m_autoScroll);
    if (filtered != m_filtered) {
        m_filtered = filtered;
        emit filteredChanged(filtered);
    }
}

void CEventBar::SetRowsChangedHandler(std::function<void()> handler)
{
    m_rowsChanged = std::move(handler);
}

void CEventBar::RefreshRows()
{
    m_model->SyncWithStore();
}

void CEventBar::SelectRow(int row)
{
    // The row was looked up in the store just now; the model may not have
    // taken the store's notice for it yet.
    m_model->SyncWithStore();
    m_grid->SelectRow(row);
}

void CEventBar::FilterChanged()
{
    if (m_filterDialog && !IsFiltered())
        m_filterDialog->close(); // its criteria would apply to a filter removed meanwhile
    const std::optional<std::uint32_t> selected = SelectedSequence();
    m_model->DropCache();
    ShowReplacedRows(selected);
    UpdateCommandStates();
}

std::optional<std::uint32_t> CEventBar::SelectedSequence() const
{
    const int row = m_grid->SelectedRow();
    if (row < 0)
        return std::nullopt;
    const std::optional<events::Event> event = m_model->EventAtRow(row);
    if (!event)
        return std::nullopt;
    return event->sequence;
}

bool CEventBar::SelectEventBySequence(std::uint32_t sequence)
{
    const int row = m_model->RowOfSequence(sequence);
    if (row < 0)
        return false;
    m_grid->SelectRow(row);
    return true;
}

void CEventBar::OnRowsSynced(bool reset)
{
    if (reset && m_selectedBeforeReset)
        SelectEventBySequence(*m_selectedBeforeReset);
    m_selectedBeforeReset.reset();
    // Rows appended keep the selection on its row position (the model inserts
    // them behind the others); the last one comes into view.
    if (m_autoScroll)
        m_grid->scrollToBottom();
    // Replaced rows: a filter may have come or gone from outside the pane.
    if (reset)
        UpdateCommandStates();
    if (m_rowsChanged)
        m_rowsChanged();
}

void CEventBar::ShowReplacedRows(std::optional<std::uint32_t> selected)
{
    m_model->SyncWithStore();
    m_grid->Header()->SetSortMarks(m_logic.Events().SortState().Keys());
    if (selected && !SelectEventBySequence(*selected))
        m_grid->clearSelection();
    if (m_autoScroll)
        m_grid->scrollToBottom();
    m_grid->viewport()->update();
}

void CEventBar::OnSortRequested(int column, bool addKey)
{
    if (m_autoScroll)
        return;
    const std::optional<std::uint32_t> selected = SelectedSequence();
    // Clicking a sort column again turns its direction; a new one starts ascending.
    const std::vector<events::SortKey>& keys = m_logic.Events().SortState().Keys();
    auto found = std::find_if(keys.begin(), keys.end(),
                              [column](const events::SortKey& key) { return key.column == column; });
    const bool ascending = found == keys.end() || !found->ascending;
    // A million rows take a moment to sort.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_logic.SortEvents(column, ascending, addKey);
    QGuiApplication::restoreOverrideCursor();
    ShowReplacedRows(selected);
}

void CEventBar::SetAutoScroll(bool on)
{
    m_autoScroll = on;
    m_grid->Header()->SetSortOnClick(!on);
    if (m_logic.Events().SortState().IsSorting()) {
        const std::optional<std::uint32_t> selected = SelectedSequence();
        m_logic.Events().ResetSort();
        ShowReplacedRows(selected);
    }
    m_grid->Header()->SetSortMarks({});
    if (on)
        m_grid->scrollToBottom();
    UpdateCommandStates();
    emit autoScrollChanged(on);
}

void CEventBar::OpenFilterDialog()
{
    if (m_filterDialog) {
        m_filterDialog->raise();
        m_filterDialog->activateWindow();
        return;
    }
    std::vector<channel::SchemeGroup> groups;
    for (const auto& group : m_logic.Settings().Groups())
        groups.push_back(*group);
    auto* dialog = new dialogs::CFilterDlg(m_logic.Events().Filter().Criteria(), m_logic.Senders(),
                                           m_logic.Receivers(), std::move(groups), window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] { ApplyFilter(dialog->Criteria()); });
    m_filterDialog = dialog;
    // Modal without a nested event loop: the rows keep coming while it is open.
    dialog->show();
}

void CEventBar::ApplyFilter(const events::FilterCriteria& criteria)
{
    const std::optional<std::uint32_t> selected = SelectedSequence();
    m_logic.ApplyFilter(criteria);
    ShowReplacedRows(selected);
    UpdateCommandStates();
}

void CEventBar::RemoveFilter()
{
    if (!IsFiltered())
        return;
    m_logic.ClearFilter();
    FilterChanged();
}

void CEventBar::SaveToFile()
{
    if (m_export)
        return; // one export at a time; its progress dialog is up
    QString path = m_prompt.SaveFileName(QString::fromUtf8(kSaveText),
                                         QStringLiteral("Файлы с отчётами (*.csv)"), QString());
    if (path.isEmpty())
        return;
    if (!path.contains(QStringLiteral(".csv")))
        path += QStringLiteral(".csv");
    auto* job = new CEventExport(m_logic.Events(), path, window());
    job->setParent(this);
    m_export = job;
    connect(job, &CEventExport::finished, this, &CEventBar::OnExportFinished);
    job->Start();
}

void CEventBar::OnExportFinished(CEventExport::Result result)
{
    CEventExport* job = m_export.data();
    if (result == CEventExport::Result::Failed) {
        const unsigned code = job ? static_cast<unsigned>(job->ErrorCode()) : 0U;
        Error.printf("Error with saving file. code=%u\n", code);
        m_prompt.Tell(QStringLiteral("Не удалось сохранить файл"), dialogs::PromptIcon::Error);
    }
    m_export = nullptr;
    if (job)
        job->deleteLater();
    emit exportFinished(result);
}

} // namespace panes
