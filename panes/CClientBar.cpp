#include "panes/CClientBar.h"

#include "core/CAppLogic.h"
#include "panes/CClientGridModel.h"
#include "panes/CPaneTreeView.h"
#include "panes/CPaneClipboard.h"
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

// Command identifiers of the menu resource, kept as the actions' data.
constexpr int kFilterCommand = 32900;
constexpr int kEchoCommand = 32875;
constexpr int kRouteCommand = 32876;

QAction* MenuAction(QMenu* menu, const QString& text, const char* name, int id)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    action->setData(id);
    return action;
}

} // namespace

CClientBar::CClientBar(IPaneHost& host, QWidget* parent)
    : QWidget(parent), m_host(host), m_model(new CClientGridModel(this)),
      m_grid(new CPaneTreeView(this)), m_toolBar(MakePaneToolBar(this)),
      m_clipboard(&CPaneClipboard::System())
{
    setObjectName(QStringLiteral("CClientBar"));
    setAccessibleName(QStringLiteral("Каналы связи"));

    m_copy = AddPaneCommand(m_toolBar, PaneCommandIcon(QStringLiteral("copy")),
                            QStringLiteral("Скопировать значения в буфер обмена"),
                            QStringLiteral("copyAction"));
    m_copy->setShortcut(QKeySequence::Copy);
    m_copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(m_copy);
    connect(m_copy, &QAction::triggered, this, [this] { Copy(); });

    m_grid->setObjectName(QStringLiteral("CClientGrid"));
    m_grid->setAccessibleName(QStringLiteral("Ход проверки каналов"));
    m_grid->setModel(m_model);
    QHeaderView* header = m_grid->header();
    header->setVisible(true);
    header->setStretchLastSection(false);
    header->setSectionsClickable(false);
    // The numbers always fit; the state and pair texts take the rest of the
    // width (a narrow dock elides them; the tooltip has them whole).
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setMinimumSectionSize(fontMetrics().height() * 2);
    connect(m_grid, &CPaneTreeView::contextMenuAt, this, &CClientBar::OpenContextMenu);
    connect(m_grid, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { SelectLatestEvent(index); });

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("Client menu"));
    m_menu->setAccessibleName(QStringLiteral("Client menu"));
    m_filter = MenuAction(m_menu, QStringLiteral("Отфильтровать события"), "filterEventsAction",
                          kFilterCommand);
    m_echo = MenuAction(m_menu, QStringLiteral("Эхо-запрос"), "echoAction", kEchoCommand);
    m_route = MenuAction(m_menu, QStringLiteral("Маршрут"), "routeAction", kRouteCommand);
    connect(m_filter, &QAction::triggered, this, &CClientBar::FilterEvents);
    connect(m_echo, &QAction::triggered, this, &CClientBar::ShowEcho);
    connect(m_route, &QAction::triggered, this, &CClientBar::ShowRoute);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_grid, 1);
    setFocusProxy(m_grid);
}

CClientBar::~CClientBar() = default;

void CClientBar::SetPeers(const std::vector<std::string>& peers)
{
    m_menuNode = -1;
    m_menuPeer.clear();
    m_model->Build(peers, m_host.Logic().Settings().Groups());
    m_grid->expandAll();
    FitColumns();
}

void CClientBar::Clear()
{
    m_menuNode = -1;
    m_menuPeer.clear();
    m_model->Clear();
}

void CClientBar::FitColumns()
{
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_grid->resizeColumnToContents(column);
}

void CClientBar::OnClientRow(const channel::ClientRow& row)
{
    Q_ASSERT(QThread::currentThread() == thread()); // posted to, never called from a pool
    // The index names the row's event only until the store is purged or
    // trimmed; the sequence number is good for as long as the event exists.
    std::optional<std::uint32_t> sequence;
    if (row.eventIndex >= 0) {
        const std::optional<events::Event> event = m_host.Logic().GetEvent(row.eventIndex);
        if (event && core::CPortRows::IsEventOfRow(*event, row))
            sequence = event->sequence;
    }
    m_model->Apply(row, sequence);
}

QString CClientBar::CopyText() const
{
    const core::CPortRows& rows = m_model->Rows();
    return QString::fromStdWString(rows.CopyText(L"\r\n", [&](int node) {
        const int parent = rows.At(node).parent;
        return parent < 0 || m_grid->isExpanded(m_model->IndexOfNode(parent));
    }));
}

bool CClientBar::Copy()
{
    return CPaneClipboard::Copy(*m_clipboard, CopyText());
}

void CClientBar::SetClipboard(IPaneClipboard* clipboard)
{
    m_clipboard = clipboard ? clipboard : &CPaneClipboard::System();
}

void CClientBar::OpenContextMenu(const QModelIndex& index, const QPoint& globalPos)
{
    const int node = m_model->NodeOf(index);
    if (node < 0)
        return;
    m_menuNode = node;
    m_menuPeer = QString::fromStdString(m_model->Rows().At(m_model->Rows().PeerOf(node)).peerText);
    m_menu->popup(globalPos);
}

void CClientBar::FilterEvents()
{
    if (m_menuNode < 0 || m_menuNode >= m_model->Rows().NodeCount())
        return;
    core::CAppLogic& logic = m_host.Logic();
    logic.ApplyFilter(m_model->Rows().CriteriaOf(m_menuNode, logic.LocalAddress().text));
    m_host.SetFilterShown(true);
}

void CClientBar::ShowEcho()
{
    if (!m_menuPeer.isEmpty())
        m_host.ShowEchoFor(m_menuPeer);
}

void CClientBar::ShowRoute()
{
    if (!m_menuPeer.isEmpty())
        m_host.ShowRouteFor(m_menuPeer);
}

bool CClientBar::SelectLatestEvent(const QModelIndex& index)
{
    const int node = m_model->NodeOf(index);
    if (node < 0)
        return false;
    const std::optional<std::uint32_t> sequence = m_model->Rows().At(node).eventSequence;
    if (!sequence)
        return false;
    const int row = m_host.Logic().RowOfEventId(*sequence);
    if (row < 0)
        return false;
    m_host.SelectEventRow(row);
    return true;
}

} // namespace panes
