#include "panes/CPingBar.h"

#include "panes/CPaneClipboard.h"
#include "panes/CPingGridModel.h"
#include "panes/DiagArtwork.h"
#include "panes/PaneToolBar.h"

#include <QAction>
#include <QHeaderView>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace panes {

CPingBar::CPingBar(QWidget* parent, IPaneClipboard* clipboard)
    : QWidget(parent), m_clipboard(clipboard ? clipboard : &CPaneClipboard::System()),
      m_model(new CPingGridModel(this)), m_tree(new QTreeView(this))
{
    setObjectName(QStringLiteral("PingBar"));
    setAccessibleName(QStringLiteral("Узлы эхо-запроса"));
    QToolBar* toolbar = MakePaneToolBar(this, QStringLiteral("Панель узлов эхо-запроса"));
    m_copy = AddToolButton(toolbar, DiagIcon(QStringLiteral("copy")),
                           QStringLiteral("Скопировать значения в буфер обмена"));
    connect(m_copy, &QAction::triggered, this, &CPingBar::Copy);

    m_tree->setObjectName(QStringLiteral("PingGrid"));
    m_tree->setAccessibleName(QStringLiteral("Статистика эхо-запроса"));
    m_tree->setModel(m_model);
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tree->setContextMenuPolicy(Qt::PreventContextMenu);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->header()->setStretchLastSection(true);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->header()->setMinimumSectionSize(fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    AddCopyShortcut(m_copy, this);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CPingBar::OnCurrentChanged);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(m_tree, 1);
}

void CPingBar::SetTargets(const std::vector<std::string>& addresses)
{
    m_lastTarget = -1;
    m_model->SetTargets(addresses);
    m_tree->expandAll();
}

void CPingBar::SetEngine(diag::IPingInfo* engine)
{
    m_model->SetEngine(engine);
}

void CPingBar::OnStatistics(int target)
{
    m_model->OnStatistics(target);
}

void CPingBar::SelectTarget(int target)
{
    const QModelIndex row = m_model->TargetRow(target);
    if (row.isValid())
        m_tree->setCurrentIndex(row);
}

void CPingBar::Copy()
{
    CPaneClipboard::Copy(*m_clipboard, m_model->CopyText());
}

void CPingBar::OnCurrentChanged()
{
    const int target = m_model->TargetOf(m_tree->currentIndex());
    if (target < 0 || target == m_lastTarget)
        return;
    m_lastTarget = target;
    emit targetSelected(target);
}

} // namespace panes
