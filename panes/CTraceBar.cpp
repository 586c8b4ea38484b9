#include "panes/CTraceBar.h"

#include "panes/CPaneClipboard.h"
#include "panes/CTraceGridModel.h"
#include "panes/PaneToolBar.h"

#include <QAction>
#include <QHeaderView>
#include <QTreeView>
#include <QVBoxLayout>

namespace panes {

CTraceBar::CTraceBar(QWidget* parent, IPaneClipboard* clipboard)
    : QWidget(parent), m_clipboard(clipboard ? clipboard : &CPaneClipboard::System()),
      m_model(new CTraceGridModel(this)), m_tree(new QTreeView(this)),
      m_copy(new QAction(QStringLiteral("Скопировать значения в буфер обмена"), this))
{
    setObjectName(QStringLiteral("TraceBar"));
    setAccessibleName(QStringLiteral("Узлы маршрута"));
    m_tree->setObjectName(QStringLiteral("TraceGrid"));
    m_tree->setAccessibleName(QStringLiteral("Состояние маршрутов"));
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setContextMenuPolicy(Qt::PreventContextMenu);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    // No toolbar: the copy is Ctrl+C.
    AddCopyShortcut(m_copy, this);
    connect(m_copy, &QAction::triggered, this, &CTraceBar::Copy);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CTraceBar::OnCurrentChanged);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree, 1);
}

void CTraceBar::SetTargets(const std::vector<std::string>& addresses)
{
    m_lastTarget = -1;
    m_model->SetTargets(addresses);
    m_tree->expandAll();
}

void CTraceBar::SetEngine(diag::ITraceInfo* engine)
{
    m_model->SetEngine(engine);
}

void CTraceBar::OnRouteState(int target)
{
    m_model->OnRouteState(target);
}

void CTraceBar::SelectTarget(int target)
{
    const QModelIndex row = m_model->TargetRow(target);
    if (row.isValid())
        m_tree->setCurrentIndex(row);
}

void CTraceBar::Copy()
{
    CPaneClipboard::Copy(*m_clipboard, m_model->CopyText());
}

void CTraceBar::OnCurrentChanged()
{
    const int target = m_model->TargetOf(m_tree->currentIndex());
    if (target < 0 || target == m_lastTarget)
        return;
    m_lastTarget = target;
    emit targetSelected(target);
}

} // namespace panes
