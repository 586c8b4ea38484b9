#include "panes/CEventGrid.h"

#include "channel/EventCodes.h"
#include "events/EventText.h"
#include "panes/CEventHeader.h"
#include "panes/CEventsModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include <algorithm>

namespace panes {

namespace {

constexpr int kStatusImageWidth = 16;
// Room between the picture and the text of a cell.
constexpr int kImageSpacing = 4;

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The texts a column can show, where they are few: the widest of them sets
// the column's starting width, so that no such text starts out cut.
QStringList KnownTexts(int column)
{
    switch (column) {
    case events::COL_STATUS:
        return {FromUtf8(events::StatusText(channel::STATUS_INFORMATION)),
                FromUtf8(events::StatusText(channel::STATUS_ERROR)),
                FromUtf8(events::StatusText(channel::STATUS_WARNING))};
    case events::COL_TIME: return {QStringLiteral("23:59:59.999")};
    case events::COL_DESCRIPTION: {
        QStringList texts;
        for (int code = 0; code < channel::EVENT_CODE_COUNT; ++code)
            texts.push_back(FromUtf8(events::DescriptionText(code)));
        return texts;
    }
    case events::COL_PROTOCOL: return {QStringLiteral("TCP"), QStringLiteral("UDP")};
    case events::COL_SENDER:
    case events::COL_RECEIVER: return {QStringLiteral("255.255.255.255")};
    case events::COL_SENDER_PORT:
    case events::COL_RECEIVER_PORT: return {QStringLiteral("65535")};
    default: return {}; // the detail: the last column, stretched
    }
}

} // namespace

CEventGrid::CEventGrid(QWidget* parent) : QTableView(parent), m_header(new CEventHeader(this))
{
    setHorizontalHeader(m_header);
    // The view's own fit measures rows without a limit; ours does not.
    disconnect(m_header, &QHeaderView::sectionHandleDoubleClicked, this, nullptr);
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this,
            [this](int column) { FitColumn(column); });

    // Set before a model arrives: a per-row resize mode would be kept for each
    // of a million rows.
    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(RowHeight());

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setAlternatingRowColors(true);
    setShowGrid(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setIconSize(QSize(kStatusImageWidth, kStatusImageWidth));
    // Tab leaves the grid instead of walking its cells.
    setTabKeyNavigation(false);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setAccessibleName(QStringLiteral("Журнал событий"));
    m_header->setStretchLastSection(true);
}

int CEventGrid::RowHeight() const
{
    return std::max(fontMetrics().height(), kStatusImageWidth) + 4;
}

int CEventGrid::CaptionWidth(int column) const
{
    const int edge = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const QString caption = model() ? model()->headerData(column, Qt::Horizontal).toString()
                                    : QString();
    return m_header->fontMetrics().horizontalAdvance(caption) + 2 * edge + 24;
}

void CEventGrid::setModel(QAbstractItemModel* model)
{
    QTableView::setModel(model);
    if (!model)
        return;
    // The design's widths assume a narrower font than most desktops have: a
    // column starts at least as wide as its caption and its known texts.
    for (int column = 0; column < model->columnCount(); ++column)
        setColumnWidth(column, std::max({CEventsModel::InitialColumnWidth(column),
                                         CaptionWidth(column), KnownTextsWidth(column)}));
}

int CEventGrid::KnownTextsWidth(int column) const
{
    int widest = 0;
    for (const QString& text : KnownTexts(column))
        widest = std::max(widest, fontMetrics().horizontalAdvance(text));
    if (widest == 0)
        return 0;
    if (column == events::COL_STATUS)
        widest += kStatusImageWidth + kImageSpacing;
    return widest + 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) + 10;
}

int CEventGrid::FitColumn(int column)
{
    QAbstractItemModel* source = model();
    if (!source || column < 0 || column >= source->columnCount())
        return 0;
    const int rows = source->rowCount();
    std::vector<int> measured;
    if (rows > 0) {
        // The rows in view first: what the user looks at must fit.
        const int first = std::max(0, rowAt(0));
        int last = rowAt(viewport()->height() - 1);
        if (last < 0)
            last = rows - 1;
        for (int row = first; row <= last && static_cast<int>(measured.size()) < kFitRowLimit;
             ++row)
            measured.push_back(row);
        const int room = kFitRowLimit - static_cast<int>(measured.size());
        if (room > 0) {
            const int step = std::max(1, rows / room);
            for (int row = 0; row < rows && static_cast<int>(measured.size()) < kFitRowLimit;
                 row += step) {
                if (row < first || row > last)
                    measured.push_back(row);
            }
        }
    }
    const QFontMetrics metrics(font());
    int widest = 0;
    for (int row : measured) {
        const QModelIndex index = source->index(row, column);
        int width = metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
        if (column == 0 && !index.data(Qt::DecorationRole).isNull())
            width += kStatusImageWidth + kImageSpacing;
        widest = std::max(widest, width);
    }
    const int edge = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    setColumnWidth(column, std::max(widest + 2 * edge + 10, CaptionWidth(column)));
    return static_cast<int>(measured.size());
}

int CEventGrid::SelectedRow() const
{
    if (!selectionModel())
        return -1;
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CEventGrid::SelectRow(int row)
{
    if (!model() || row < 0 || row >= model()->rowCount())
        return;
    const QModelIndex index = model()->index(row, std::max(0, currentIndex().column()));
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

} // namespace panes
