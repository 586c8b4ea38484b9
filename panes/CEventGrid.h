#pragma once

// The grid of the events pane: an item view of its own over CEventsModel,
// built for a million rows and more. Every row has the same height, so a row's
// place is arithmetic; the view keeps nothing per row (a table view keeps a
// header section, 8 bytes and more, for each of a million rows) and paints
// only the rows in view, through CEventDelegate.
//
// - The vertical scroll bar counts rows (its value is the top row); the
//   horizontal one pixels. Columns come from the header CEventHeader, which
//   marks the sort keys and turns clicks into sort requests.
// - Whole-row single selection, no editing, no context menu; Tab leaves the
//   grid. Up, Down, Page Up, Page Down, Home and End move between rows; Left
//   and Right between columns.
// - A double click on a header divider fits the column, measuring a bounded
//   number of rows (those in view and an even sample of the rest) instead of
//   every row.
//
// Threads: the GUI thread only.

#include <QAbstractItemView>

class QHeaderView;

namespace panes {

class CEventHeader;

class CEventGrid final : public QAbstractItemView
{
    Q_OBJECT

public:
    // Rows measured by a column fit, at most.
    static constexpr int kFitRowLimit = 2000;

    explicit CEventGrid(QWidget* parent = nullptr);

    // Also gives the columns their initial widths: the design's, or wider where
    // the caption or a known text would be cut at this font.
    void setModel(QAbstractItemModel* model) override;

    CEventHeader* Header() const { return m_header; }
    QHeaderView* horizontalHeader() const;
    int RowHeight() const { return m_rowHeight; }
    // The row at a height in the viewport, or -1 below the last row.
    int rowAt(int y) const;
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);

    // Sets the column to its widest text: the widest cell text among the rows
    // measured (the status column adds its picture) plus twice the frame width
    // and 10 pixels, or the caption plus twice the frame width and 24 pixels,
    // whichever is larger. Returns the number of rows measured.
    int FitColumn(int column);
    // The width the caption of a column needs.
    int CaptionWidth(int column) const;
    // The width the widest text a column can show needs, where those texts are
    // few (0 for the others).
    int KnownTextsWidth(int column) const;

    // The selected row, or -1.
    int SelectedRow() const;
    // Makes the row current and selected, and brings it into view.
    void SelectRow(int row);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void changeEvent(QEvent* event) override;

private:
    int RowCount() const;
    int TopRow() const;
    // Rows that fit into the viewport whole (at least 1).
    int FullRows() const;
    void UpdateScrollRanges();

    CEventHeader* m_header;
    int m_rowHeight = 0;
};

} // namespace panes
