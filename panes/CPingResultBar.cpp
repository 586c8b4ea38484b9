#include "panes/CPingResultBar.h"

#include "panes/CPaneClipboard.h"
#include "panes/CPingResultModel.h"
#include "panes/CRttChart.h"
#include "panes/DiagArtwork.h"
#include "panes/DiagColors.h"
#include "panes/PaneToolBar.h"

#include <QAction>
#include <QActionGroup>
#include <QEvent>
#include <QHeaderView>
#include <QSplitter>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

namespace panes {

CPingResultBar::CPingResultBar(QWidget* parent, IPaneClipboard* clipboard)
    : QWidget(parent), m_clipboard(clipboard ? clipboard : &CPaneClipboard::System()),
      m_model(new CPingResultModel(this)), m_table(new QTableView(this)),
      m_chart(new CRttChart(this))
{
    setObjectName(QStringLiteral("PingResultBar"));
    setAccessibleName(QStringLiteral("Результаты эхо-запроса"));
    QToolBar* toolbar = MakePaneToolBar(this, QStringLiteral("Панель результатов эхо-запроса"));
    m_tableAction = AddToolButton(toolbar, DiagIcon(QStringLiteral("table")),
                                  QStringLiteral("Отобразить в виде таблицы"), true);
    m_listAction = AddToolButton(toolbar, DiagIcon(QStringLiteral("list")),
                                 QStringLiteral("Отобразить в виде списка"), true);
    toolbar->addSeparator();
    m_copy = AddToolButton(toolbar, DiagIcon(QStringLiteral("copy")),
                           QStringLiteral("Скопировать значения в буфер обмена"));
    toolbar->addSeparator();
    m_autoScrollAction = AddToolButton(toolbar, DiagIcon(QStringLiteral("autoscroll")),
                                       QStringLiteral("Автопрокрутка"), true);
    auto* modes = new QActionGroup(this);
    modes->addAction(m_tableAction);
    modes->addAction(m_listAction);
    m_tableAction->setChecked(true);
    connect(m_tableAction, &QAction::triggered, this, [this] { SetTableMode(true); });
    connect(m_listAction, &QAction::triggered, this, [this] { SetTableMode(false); });
    connect(m_copy, &QAction::triggered, this, &CPingResultBar::Copy);
    connect(m_autoScrollAction, &QAction::toggled, this, &CPingResultBar::SetAutoScroll);

    m_table->setObjectName(QStringLiteral("PingResultGrid"));
    m_table->setAccessibleName(QStringLiteral("Результаты выбранного узла"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setContextMenuPolicy(Qt::PreventContextMenu);
    m_table->setWordWrap(false);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    // One row height for all: the view never measures a hundred thousand rows.
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->horizontalHeader()->setHighlightSections(false);
    AddCopyShortcut(m_copy, this);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->setChildrenCollapsible(false);
    split->addWidget(m_table);
    split->addWidget(m_chart);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(split, 1);
    ApplyColumns();
    ApplyColors();
}

void CPingResultBar::SetEngine(diag::IPingInfo* engine)
{
    m_engine = engine;
    m_model->SetEngine(engine);
    m_chart->SetEngine(engine);
}

void CPingResultBar::ShowTarget(int target)
{
    m_model->ShowTarget(target, m_engine ? m_engine->GetRecordCount(target) : 0);
    m_chart->ShowTarget(target);
    if (m_autoScroll)
        m_table->scrollToBottom();
}

void CPingResultBar::OnRecords(int target, int count)
{
    if (!m_model->OnRecords(target, count))
        return;
    if (m_autoScroll)
        m_table->scrollToBottom();
    m_chart->Refresh();
}

void CPingResultBar::SetTableMode(bool table)
{
    m_tableAction->setChecked(table);
    m_listAction->setChecked(!table);
    if (table == m_model->TableMode())
        return;
    m_model->SetTableMode(table);
    ApplyColumns();
}

void CPingResultBar::SetAutoScroll(bool on)
{
    if (m_autoScrollAction->isChecked() != on)
        m_autoScrollAction->setChecked(on); // comes back here through toggled
    if (m_autoScroll == on)
        return;
    m_autoScroll = on;
    if (on && m_model->rowCount() > 0)
        m_table->scrollToBottom();
}

void CPingResultBar::Copy()
{
    CPaneClipboard::Copy(*m_clipboard, m_model->CopyText());
}

void CPingResultBar::ApplyColumns()
{
    const bool table = m_model->TableMode();
    QHeaderView* header = m_table->horizontalHeader();
    header->setVisible(table);
    for (int column = 1; column < CPingResultModel::ColumnCount; ++column)
        m_table->setColumnHidden(column, !table);
    const QFontMetrics metrics = fontMetrics();
    const auto fit = [&](int column, const QString& widest) {
        const QString title = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        m_table->setColumnWidth(column, std::max(metrics.horizontalAdvance(widest) + 16,
                                                 metrics.horizontalAdvance(title) + 28));
    };
    if (table) {
        // Each column as wide as its widest text (the longest status included):
        // nothing is cut, and a narrow view scrolls sideways.
        header->setMinimumSectionSize(-1);
        header->setStretchLastSection(false);
        fit(0, QStringLiteral("23:59:59 31-12-2024"));
        fit(1, QStringLiteral("Превышен срок жизни (TTL) при передаче пакета."));
        fit(2, QStringLiteral("65500"));
        fit(3, QStringLiteral("5000"));
        fit(4, QStringLiteral("255"));
    } else {
        // The sentence fills the row and is never cut: a narrow view scrolls
        // sideways.
        header->setMinimumSectionSize(
            metrics.horizontalAdvance(QStringLiteral("[23:59:59 31-12-2024] ответ не получен: "
                                                     "Превышен срок жизни (TTL) при передаче "
                                                     "пакета.")) +
            16);
        header->setStretchLastSection(true);
    }
}

void CPingResultBar::ApplyColors()
{
    const QColor failure = FailureTextColor(palette());
    m_model->SetFailureColor(failure);
    m_chart->SetFailureColor(failure);
}

void CPingResultBar::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        ApplyColors();
}

} // namespace panes
