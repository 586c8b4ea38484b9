#include "panes/CServerBar.h"

#include "core/CAppLogic.h"
#include "panes/CPaneTreeView.h"
#include "panes/CPaneClipboard.h"
#include "panes/CServerReportModel.h"
#include "panes/ChannelPaneArtwork.h"
#include "panes/IPaneHost.h"
#include "panes/PaneToolBar.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QThread>
#include <QToolBar>
#include <QVBoxLayout>

namespace panes {

namespace {

constexpr int kFilterCommand = 32901; // of the menu resource

} // namespace

CServerBar::CServerBar(IPaneHost& host, QWidget* parent)
    : QWidget(parent), m_host(host), m_model(new CServerReportModel(this)),
      m_report(new CPaneTreeView(this)), m_toolBar(MakePaneToolBar(this)),
      m_clipboard(&CPaneClipboard::System())
{
    setObjectName(QStringLiteral("CServerBar"));
    setAccessibleName(QStringLiteral("Открытые порты"));

    m_group = AddPaneCommand(m_toolBar, PaneCommandIcon(QStringLiteral("group")),
                             QStringLiteral("Группировать значения по отправителю и получателю"),
                             QStringLiteral("groupAction"));
    m_group->setCheckable(true);
    m_group->setChecked(m_model->IsGrouped());
    connect(m_group, &QAction::toggled, this, &CServerBar::SetGrouped);
    m_copy = AddPaneCommand(m_toolBar, PaneCommandIcon(QStringLiteral("copy")),
                            QStringLiteral("Скопировать значения в буфер обмена"),
                            QStringLiteral("copyAction"));
    m_copy->setShortcut(QKeySequence::Copy);
    m_copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(m_copy);
    connect(m_copy, &QAction::triggered, this, [this] { Copy(); });
    m_restart =
        AddPaneCommand(m_toolBar, PaneCommandIcon(QStringLiteral("restart")),
                       QStringLiteral("Перезапустить сервер"), QStringLiteral("restartAction"));
    connect(m_restart, &QAction::triggered, this, &CServerBar::Restart);

    m_report->setObjectName(QStringLiteral("CServerReport"));
    m_report->setAccessibleName(QStringLiteral("Открытые порты"));
    m_report->setModel(m_model);
    QHeaderView* header = m_report->header();
    header->setSectionsClickable(false);
    // The report is sorted by protocol; the header says so.
    header->setSortIndicator(1, Qt::AscendingOrder);
    header->setSortIndicatorShown(true);
    // The last shown column takes the rest of the width, so that a group
    // row's text (spanning the columns) is not cut short.
    header->setStretchLastSection(true);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_report->setColumnHidden(CServerReportModel::IdColumn, true);
    connect(m_report, &CPaneTreeView::contextMenuAt, this, &CServerBar::OpenContextMenu);
    connect(m_report, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { SelectLatestEvent(index); });

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("FilterSettings"));
    m_menu->setAccessibleName(QStringLiteral("FilterSettings"));
    m_filter = m_menu->addAction(QStringLiteral("Отфильтровать события"));
    m_filter->setObjectName(QStringLiteral("filterEventsAction"));
    m_filter->setData(kFilterCommand);
    connect(m_filter, &QAction::triggered, this, &CServerBar::FilterEvents);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_report, 1);
    setFocusProxy(m_report);
    ShowShape();
}

CServerBar::~CServerBar() = default;

void CServerBar::OnServerRowChanged(int row)
{
    Q_ASSERT(QThread::currentThread() == thread()); // posted to, never called from a pool
    const std::optional<core::ServerRow> logicRow = m_host.Logic().ServerRowAt(row);
    if (!logicRow)
        return;
    std::optional<std::uint32_t> sequence;
    if (logicRow->eventIndex >= 0) {
        const std::optional<events::Event> event = m_host.Logic().GetEvent(logicRow->eventIndex);
        if (event && core::CServerRows::IsEventOfRow(*event, *logicRow))
            sequence = event->sequence;
    }
    m_model->Apply(*logicRow, sequence);
}

void CServerBar::Refill()
{
    m_menuGroup.clear();
    core::CAppLogic& logic = m_host.Logic();
    m_model->Fill(logic.Settings().Groups());
    // What was reported before this fill (the messages that tell it may have
    // gone to the rows that were removed).
    const std::vector<core::ServerRow> rows = logic.ServerRows();
    for (int i = 0; i < static_cast<int>(rows.size()); ++i)
        OnServerRowChanged(i);
    ShowShape();
}

void CServerBar::SetGrouped(bool grouped)
{
    m_model->SetGrouped(grouped);
    if (m_group->isChecked() != grouped)
        m_group->setChecked(grouped);
    ShowShape();
}

bool CServerBar::IsGrouped() const
{
    return m_model->IsGrouped();
}

void CServerBar::ShowShape()
{
    const bool grouped = m_model->IsGrouped();
    // The pair column is shown when it is not used for grouping.
    m_report->setColumnHidden(CServerReportModel::PairColumn, grouped);
    m_report->setRootIsDecorated(grouped);
    // A group row's text runs across the columns and does not widen "Статус".
    for (int group = 0; grouped && group < m_model->rowCount(); ++group)
        m_report->setFirstColumnSpanned(group, QModelIndex(), true);
    m_report->expandAll();
}

QString CServerBar::CopyText() const
{
    return QString::fromStdWString(m_model->Rows().CopyText(
        m_model->IsGrouped(), !m_report->isColumnHidden(CServerReportModel::PairColumn), L"\r\n",
        [this](int group) { return m_report->isExpanded(m_model->index(group, 0)); }));
}

bool CServerBar::Copy()
{
    return CPaneClipboard::Copy(*m_clipboard, CopyText());
}

void CServerBar::SetClipboard(IPaneClipboard* clipboard)
{
    m_clipboard = clipboard ? clipboard : &CPaneClipboard::System();
}

void CServerBar::Restart()
{
    m_host.RestartServers();
}

void CServerBar::OpenContextMenu(const QModelIndex& index, const QPoint& globalPos)
{
    if (!m_model->IsGroupRow(index))
        return;
    m_menuGroup = m_model->GroupTextOf(index);
    m_menu->popup(globalPos);
}

void CServerBar::FilterEvents()
{
    if (m_menuGroup.empty())
        return;
    m_host.Logic().ApplyFilter(m_model->Rows().CriteriaOfPair(m_menuGroup));
    m_host.SetFilterShown(true);
}

bool CServerBar::SelectLatestEvent(const QModelIndex& index)
{
    const std::optional<int> row = m_model->RowOf(index);
    if (!row)
        return false;
    const std::optional<std::uint32_t> sequence = m_model->Rows().At(*row).eventSequence;
    if (!sequence)
        return false;
    const int eventRow = m_host.Logic().RowOfEventId(*sequence);
    if (eventRow < 0)
        return false;
    m_host.SelectEventRow(eventRow);
    return true;
}

} // namespace panes
