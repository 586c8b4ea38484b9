#include "panes/CEventGrid.h"

#include "channel/EventCodes.h"
#include "events/EventText.h"
#include "panes/CEventDelegate.h"
#include "panes/CEventHeader.h"
#include "panes/CEventsModel.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace panes {

namespace {

constexpr int kStatusImageWidth = 16;
// Room between the picture and the text of a cell.
constexpr int kImageSpacing = 4;
// Pixels per step of the horizontal scroll bar's arrows.
constexpr int kHorizontalStep = 20;

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

CEventGrid::CEventGrid(QWidget* parent) : QAbstractItemView(parent), m_header(new CEventHeader(this))
{
    m_rowHeight = std::max(fontMetrics().height(), kStatusImageWidth) + 4;
    m_header->setStretchLastSection(true);
    m_header->setSectionsMovable(false);
    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(m_header, &QHeaderView::sectionCountChanged, this, [this] { updateGeometries(); });
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this,
            [this](int column) { FitColumn(column); });

    auto* delegate = new CEventDelegate(this);
    delegate->SetRepeatingColumns({events::COL_STATUS, events::COL_DESCRIPTION,
                                   events::COL_PROTOCOL, events::COL_DETAIL});
    setItemDelegate(delegate);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setIconSize(QSize(kStatusImageWidth, kStatusImageWidth));
    // Tab leaves the grid instead of walking its cells.
    setTabKeyNavigation(false);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setAccessibleName(QStringLiteral("Журнал событий"));
    horizontalScrollBar()->setSingleStep(kHorizontalStep);
}

QHeaderView* CEventGrid::horizontalHeader() const
{
    return m_header;
}

void CEventGrid::setModel(QAbstractItemModel* model)
{
    QAbstractItemView::setModel(model);
    m_header->setModel(model);
    if (!model)
        return;
    // The design's widths assume a narrower font than most desktops have: a
    // column starts at least as wide as its caption and its known texts.
    for (int column = 0; column < model->columnCount(); ++column)
        setColumnWidth(column, std::max({CEventsModel::InitialColumnWidth(column),
                                         CaptionWidth(column), KnownTextsWidth(column)}));
    updateGeometries();
}

int CEventGrid::RowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int CEventGrid::TopRow() const
{
    return verticalScrollBar()->value();
}

int CEventGrid::FullRows() const
{
    return std::max(1, viewport()->height() / m_rowHeight);
}

int CEventGrid::rowAt(int y) const
{
    if (y < 0)
        return -1;
    const int row = TopRow() + y / m_rowHeight;
    return row < RowCount() ? row : -1;
}

int CEventGrid::columnWidth(int column) const
{
    return m_header->sectionSize(column);
}

void CEventGrid::setColumnWidth(int column, int width)
{
    m_header->resizeSection(column, width);
}

void CEventGrid::UpdateScrollRanges()
{
    const int rows = RowCount();
    const int full = FullRows();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setSingleStep(1);
    vertical->setPageStep(full);
    vertical->setRange(0, std::max(0, rows - full));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setPageStep(viewport()->width());
    horizontal->setRange(0, std::max(0, m_header->length() - viewport()->width()));
}

void CEventGrid::updateGeometries()
{
    const int headerHeight = m_header->isHidden() ? 0 : m_header->sizeHint().height();
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect view = viewport()->geometry();
    m_header->setGeometry(view.left(), view.top() - headerHeight, view.width(), headerHeight);
    UpdateScrollRanges();
    m_header->setOffset(horizontalScrollBar()->value());
    QAbstractItemView::updateGeometries();
}

void CEventGrid::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    UpdateScrollRanges();
    // Rows that come into a partly empty view are painted now.
    const int firstY = (start - TopRow()) * m_rowHeight;
    if (firstY < viewport()->height())
        viewport()->update(0, std::max(0, firstY), viewport()->width(), viewport()->height());
}

void CEventGrid::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_rowHeight = std::max(fontMetrics().height(), kStatusImageWidth) + 4;
        updateGeometries();
    }
    QAbstractItemView::changeEvent(event);
}

void CEventGrid::scrollContentsBy(int dx, int dy)
{
    if (dx != 0)
        m_header->setOffset(horizontalScrollBar()->value());
    // dy counts rows. A short move shifts what is painted; a jump repaints.
    if (dx == 0 && dy != 0 && std::abs(dy) < FullRows())
        viewport()->scroll(0, dy * m_rowHeight);
    else
        viewport()->update();
}

int CEventGrid::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int CEventGrid::verticalOffset() const
{
    return TopRow() * m_rowHeight;
}

bool CEventGrid::isIndexHidden(const QModelIndex&) const
{
    return false;
}

QRect CEventGrid::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != model())
        return {};
    return QRect(m_header->sectionViewportPosition(index.column()),
                 (index.row() - TopRow()) * m_rowHeight, m_header->sectionSize(index.column()),
                 m_rowHeight);
}

QModelIndex CEventGrid::indexAt(const QPoint& point) const
{
    const int row = rowAt(point.y());
    const int column = m_header->logicalIndexAt(point.x());
    if (row < 0 || column < 0)
        return {};
    return model()->index(row, column, rootIndex());
}

void CEventGrid::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid() || index.model() != model())
        return;
    // A reset may still have the old rows' range pending.
    UpdateScrollRanges();
    const int row = index.row();
    const int full = FullRows();
    const int top = TopRow();
    int wanted = top;
    switch (hint) {
    case PositionAtTop: wanted = row; break;
    case PositionAtBottom: wanted = row - full + 1; break;
    case PositionAtCenter: wanted = row - full / 2; break;
    case EnsureVisible:
        if (row < top)
            wanted = row;
        else if (row >= top + full)
            wanted = row - full + 1;
        break;
    }
    verticalScrollBar()->setValue(wanted);

    const int left = m_header->sectionPosition(index.column());
    const int width = m_header->sectionSize(index.column());
    QScrollBar* horizontal = horizontalScrollBar();
    if (left < horizontal->value())
        horizontal->setValue(left);
    else if (left + width > horizontal->value() + viewport()->width())
        horizontal->setValue(std::min(left, left + width - viewport()->width()));
}

QModelIndex CEventGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int rows = RowCount();
    const int columns = model() ? model()->columnCount(rootIndex()) : 0;
    if (rows == 0 || columns == 0)
        return {};
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : TopRow();
    int column = current.isValid() ? current.column() : 0;
    if (!current.isValid())
        return model()->index(std::min(row, rows - 1), 0, rootIndex());
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious: row -= 1; break;
    case MoveDown:
    case MoveNext: row += 1; break;
    case MovePageUp: row -= FullRows(); break;
    case MovePageDown: row += FullRows(); break;
    case MoveHome: row = 0; break;
    case MoveEnd: row = rows - 1; break;
    case MoveLeft: column -= 1; break;
    case MoveRight: column += 1; break;
    }
    row = std::clamp(row, 0, rows - 1);
    column = std::clamp(column, 0, columns - 1);
    return model()->index(row, column, rootIndex());
}

void CEventGrid::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    const int rows = RowCount();
    const int columns = model() ? model()->columnCount(rootIndex()) : 0;
    if (rows == 0 || columns == 0 || !selectionModel())
        return;
    const QRect area = rect.normalized();
    const int top = std::clamp(TopRow() + std::max(0, area.top()) / m_rowHeight, 0, rows - 1);
    const int bottom =
        std::clamp(TopRow() + std::max(0, area.bottom()) / m_rowHeight, 0, rows - 1);
    const QItemSelection selection(model()->index(top, 0, rootIndex()),
                                   model()->index(bottom, columns - 1, rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion CEventGrid::visualRegionForSelection(const QItemSelection& selection) const
{
    // Whole rows are selected; only the part in view matters.
    const int top = TopRow();
    const int last = top + FullRows() + 1;
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        const int first = std::max(range.top(), top);
        const int end = std::min(range.bottom(), last);
        if (first > end)
            continue;
        region += QRect(0, (first - top) * m_rowHeight, viewport()->width(),
                        (end - first + 1) * m_rowHeight);
    }
    return region;
}

void CEventGrid::paintEvent(QPaintEvent* event)
{
    const int rows = RowCount();
    if (rows == 0 || !model())
        return;
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    const int top = TopRow();
    const int first = top + std::max(0, exposed.top()) / m_rowHeight;
    const int last = std::min(rows - 1, top + std::max(0, exposed.bottom()) / m_rowHeight);
    int firstVisual = m_header->visualIndexAt(exposed.left());
    int lastVisual = m_header->visualIndexAt(exposed.right());
    if (firstVisual < 0)
        firstVisual = 0;
    if (lastVisual < 0)
        lastVisual = m_header->count() - 1;

    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State baseState = option.state;
    const QModelIndex current = currentIndex();
    const bool focused = hasFocus() && current.isValid();
    const QItemSelectionModel* selection = selectionModel();
    const QModelIndex root = rootIndex();
    for (int row = first; row <= last; ++row) {
        const int y = (row - top) * m_rowHeight;
        const bool selected = selection && selection->isSelected(model()->index(row, 0, root));
        for (int visual = firstVisual; visual <= lastVisual; ++visual) {
            const int column = m_header->logicalIndex(visual);
            if (column < 0 || m_header->isSectionHidden(column))
                continue;
            const QModelIndex index = model()->index(row, column, root);
            option.rect = QRect(m_header->sectionViewportPosition(column), y,
                                m_header->sectionSize(column), m_rowHeight);
            option.state = baseState;
            if (selected)
                option.state |= QStyle::State_Selected;
            if (focused && index == current)
                option.state |= QStyle::State_HasFocus;
            option.features = alternatingRowColors() && row % 2 == 1
                                  ? QStyleOptionViewItem::Alternate
                                  : QStyleOptionViewItem::None;
            itemDelegateForIndex(index)->paint(&painter, option, index);
        }
    }
}

int CEventGrid::CaptionWidth(int column) const
{
    const int edge = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const QString caption = model() ? model()->headerData(column, Qt::Horizontal).toString()
                                    : QString();
    return m_header->fontMetrics().horizontalAdvance(caption) + 2 * edge + 24;
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
        const int first = TopRow();
        const int last = std::min(rows - 1, first + FullRows());
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
        if (column == events::COL_STATUS && !index.data(Qt::DecorationRole).isNull())
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
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void CEventGrid::SelectRow(int row)
{
    if (!model() || row < 0 || row >= RowCount())
        return;
    const QModelIndex index = model()->index(row, std::max(0, currentIndex().column()), rootIndex());
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

} // namespace panes
