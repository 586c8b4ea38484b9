#include "panes/CPingBar.h"

#include "panes/CPaneClipboard.h"
#include "panes/CPingGridModel.h"
#include "panes/DiagArtwork.h"
#include "panes/PaneToolBar.h"

#include <QAction>
#include <QHeaderView>
#include <QStyle>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

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
    // The values must stay in sight: the value column keeps its width, the
    // texts take the rest, and the pane is never narrower than the longest
    // text (a group row, one level below its target) beside the widest value
    // (the dock follows).
    const QFontMetrics metrics = fontMetrics();
    const int valueWidth = std::max(metrics.horizontalAdvance(QStringLiteral("Значение")),
                                    metrics.horizontalAdvance(QStringLiteral("4294967295"))) +
                           metrics.height();
    QHeaderView* header = m_tree->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::Fixed);
    header->resizeSection(1, valueWidth);
    const int textWidth = m_tree->indentation() * 2 + m_tree->iconSize().width() + 16 +
                          metrics.horizontalAdvance(QStringLiteral("Время отправки/получения (мс)"));
    m_tree->setMinimumWidth(textWidth + valueWidth + 2 * m_tree->frameWidth() +
                            style()->pixelMetric(QStyle::PM_ScrollBarExtent));
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
