#pragma once

// The column header of the events grid: it shows a sort mark on every sort key
// (with the key's place when there are several) and turns clicks into sort
// requests, a click with Ctrl held into "add this column as a further key".
// The header can take the keyboard focus: Left and Right choose a column,
// Space or Enter sorts by it, with Ctrl held adds it.
//
// Threads: the GUI thread only.

#include "events/CEventSort.h"

#include <QHeaderView>

#include <vector>

namespace panes {

class CEventHeader final : public QHeaderView
{
    Q_OBJECT

public:
    explicit CEventHeader(QWidget* parent = nullptr);

    // The keys to mark, in order (the closing sequence key is never marked).
    void SetSortMarks(const std::vector<events::SortKey>& keys);
    const std::vector<events::SortKey>& SortMarks() const { return m_marks; }

    // While off (auto-scroll is on) clicks and keys do not ask for a sort.
    void SetSortOnClick(bool on) { m_sortOnClick = on; }
    bool SortsOnClick() const { return m_sortOnClick; }

    // The column the keyboard is on.
    int FocusColumn() const { return m_focusColumn; }

signals:
    // A click on a column (or Space/Enter on it) while sorting on click is on;
    // addKey when Ctrl was held.
    void sortRequested(int column, bool addKey);

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void OnSectionClicked(int logicalIndex);
    // The place of the column among the marks, or -1.
    int MarkOf(int column) const;

    std::vector<events::SortKey> m_marks;
    bool m_sortOnClick = true;
    bool m_ctrlOnRelease = false;
    int m_focusColumn = 0;
};

} // namespace panes
