#include "panes/CTraceResultBar.h"

#include "panes/CPaneClipboard.h"
#include "panes/CTraceResultModel.h"
#include "panes/DiagArtwork.h"
#include "panes/DiagColors.h"
#include "panes/PaneToolBar.h"

#include <QAction>
#include <QEvent>
#include <QHeaderView>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

namespace panes {

CTraceResultBar::CTraceResultBar(QWidget* parent, IPaneClipboard* clipboard)
    : QWidget(parent), m_clipboard(clipboard ? clipboard : &CPaneClipboard::System()),
      m_model(new CTraceResultModel(this)), m_table(new QTableView(this))
{
    setObjectName(QStringLiteral("TraceResultBar"));
    setAccessibleName(QStringLiteral("Шаги маршрута"));
    QToolBar* toolbar = MakePaneToolBar(this, QStringLiteral("Панель шагов маршрута"));
    m_copy = AddToolButton(toolbar, DiagIcon(QStringLiteral("copy")),
                           QStringLiteral("Скопировать значения в буфер обмена"));
    connect(m_copy, &QAction::triggered, this, &CTraceResultBar::Copy);

    m_table->setObjectName(QStringLiteral("TraceResultGrid"));
    m_table->setAccessibleName(QStringLiteral("Шаги маршрута выбранного узла"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setContextMenuPolicy(Qt::PreventContextMenu);
    m_table->setWordWrap(false);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->horizontalHeader()->setHighlightSections(false);
    // The names are as wide as the longest (a route has at most 255 hops, so
    // measuring them is cheap); nothing is cut, a narrow view scrolls sideways.
    m_table->horizontalHeader()->setStretchLastSection(false);
    const QFontMetrics metrics = fontMetrics();
    const QString widest[CTraceResultModel::ColumnCount] = {
        QStringLiteral("255"),  QStringLiteral("255.255.255.255"), QStringLiteral("router.example.net"),
        QStringLiteral("5000"), QStringLiteral("5000"), QStringLiteral("5000"),
        QStringLiteral("5000"), QStringLiteral("100000"), QStringLiteral("100000"),
        QStringLiteral("100%")};
    for (int column = 0; column < CTraceResultModel::ColumnCount; ++column) {
        const QString title =
            m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        m_table->setColumnWidth(column, std::max(metrics.horizontalAdvance(widest[column]) + 16,
                                                 metrics.horizontalAdvance(title) + 28));
    }
    m_table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    AddCopyShortcut(m_copy, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(m_table, 1);
    m_model->SetFailureColor(FailureTextColor(palette()));
}

void CTraceResultBar::SetEngine(diag::ITraceInfo* engine)
{
    m_engine = engine;
    m_model->SetEngine(engine);
}

void CTraceResultBar::ShowTarget(int target)
{
    m_model->ShowTarget(target, m_engine ? m_engine->GetRecordCount(target) : 0);
}

void CTraceResultBar::OnHops(int target, int count)
{
    m_model->OnHops(target, count);
}

void CTraceResultBar::Copy()
{
    CPaneClipboard::Copy(*m_clipboard, m_model->CopyText());
}

void CTraceResultBar::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        m_model->SetFailureColor(FailureTextColor(palette()));
}

} // namespace panes
