#include "panes/CEventHeader.h"

#include "events/EventText.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStyleOptionHeader>

#include <algorithm>

namespace panes {

CEventHeader::CEventHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(true);
    setHighlightSections(false);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("Столбцы журнала событий"));
    connect(this, &QHeaderView::sectionClicked, this, &CEventHeader::OnSectionClicked);
}

void CEventHeader::SetSortMarks(const std::vector<events::SortKey>& keys)
{
    m_marks.clear();
    for (const events::SortKey& key : keys) {
        if (key.column >= 0 && key.column < events::EVENT_COLUMN_COUNT)
            m_marks.push_back(key);
    }
    viewport()->update();
}

int CEventHeader::MarkOf(int column) const
{
    auto found = std::find_if(m_marks.begin(), m_marks.end(),
                              [column](const events::SortKey& key) { return key.column == column; });
    return found == m_marks.end() ? -1 : static_cast<int>(found - m_marks.begin());
}

void CEventHeader::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const
{
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    const int mark = MarkOf(logicalIndex);
    if (mark < 0) {
        option->sortIndicator = QStyleOptionHeader::None;
        return;
    }
    // Qt's styles draw SortDown for an ascending column.
    option->sortIndicator = m_marks[static_cast<std::size_t>(mark)].ascending
                                ? QStyleOptionHeader::SortDown
                                : QStyleOptionHeader::SortUp;
}

void CEventHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    QHeaderView::paintSection(painter, rect, logicalIndex);
    // The style may leave the clip at its label; what follows is drawn over the
    // whole section.
    painter->save();
    painter->setClipRect(rect);
    const int mark = MarkOf(logicalIndex);
    if (mark >= 0 && m_marks.size() > 1) {
        // The key's place, small, just left of the sort mark.
        QStyleOptionHeader option;
        initStyleOption(&option);
        initStyleOptionForIndex(&option, logicalIndex);
        option.rect = rect;
        const QRect arrow = style()->subElementRect(QStyle::SE_HeaderArrow, &option, this);
        QFont small = font();
        small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
        painter->setFont(small);
        painter->setPen(palette().color(QPalette::ButtonText));
        const QRect place(arrow.left() - 12, rect.top(), 11, rect.height());
        painter->drawText(place, Qt::AlignRight | Qt::AlignVCenter, QString::number(mark + 1));
    }
    if (hasFocus() && logicalIndex == m_focusColumn) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect.adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, this);
    }
    painter->restore();
}

void CEventHeader::mouseReleaseEvent(QMouseEvent* event)
{
    // sectionClicked carries no modifiers; the base emits it from here.
    m_ctrlOnRelease = (event->modifiers() & Qt::ControlModifier) != 0;
    QHeaderView::mouseReleaseEvent(event);
    m_ctrlOnRelease = false;
}

void CEventHeader::OnSectionClicked(int logicalIndex)
{
    m_focusColumn = logicalIndex;
    if (m_sortOnClick)
        emit sortRequested(logicalIndex, m_ctrlOnRelease);
}

void CEventHeader::keyPressEvent(QKeyEvent* event)
{
    const int count = this->count();
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const int visual = visualIndex(m_focusColumn) + (event->key() == Qt::Key_Left ? -1 : 1);
        if (visual >= 0 && visual < count)
            m_focusColumn = logicalIndex(visual);
        viewport()->update();
        event->accept();
        return;
    }
    case Qt::Key_Home:
    case Qt::Key_End:
        m_focusColumn = logicalIndex(event->key() == Qt::Key_Home ? 0 : count - 1);
        viewport()->update();
        event->accept();
        return;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_sortOnClick)
            emit sortRequested(m_focusColumn, (event->modifiers() & Qt::ControlModifier) != 0);
        event->accept();
        return;
    default:
        // Not the item view's keys: they would move the grid's current cell.
        event->ignore();
        return;
    }
}

void CEventHeader::focusInEvent(QFocusEvent* event)
{
    QHeaderView::focusInEvent(event);
    viewport()->update();
}

void CEventHeader::focusOutEvent(QFocusEvent* event)
{
    QHeaderView::focusOutEvent(event);
    viewport()->update();
}

} // namespace panes
