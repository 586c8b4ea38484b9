#pragma once

// The grid of the events pane: a table view over CEventsModel with one row
// height for every row (so a million rows are never measured), whole-row
// single selection, the sort-marking header CEventHeader, no context menu, and
// a column fit on a double click of a header divider that measures a bounded
// number of rows (the visible ones and an even sample of the rest) instead of
// every row.
//
// Threads: the GUI thread only.

#include <QTableView>

namespace panes {

class CEventHeader;

class CEventGrid final : public QTableView
{
    Q_OBJECT

public:
    // Rows measured by a column fit, at most.
    static constexpr int kFitRowLimit = 2000;

    explicit CEventGrid(QWidget* parent = nullptr);

    // Also gives the columns their initial widths: the design's, or wider where
    // the caption would be cut at this font.
    void setModel(QAbstractItemModel* model) override;

    CEventHeader* Header() const { return m_header; }
    int RowHeight() const;

    // Sets the column to its widest text: the widest cell text among the rows
    // measured (the status column adds its picture) plus twice the frame width
    // and 10 pixels, or the caption plus twice the frame width and 24 pixels,
    // whichever is larger. Returns the number of rows measured.
    int FitColumn(int column);
    // The width the caption of a column needs.
    int CaptionWidth(int column) const;
    // The width the widest text a column can show needs, where those texts
    // are few (0 for the others).
    int KnownTextsWidth(int column) const;

    // The selected row, or -1.
    int SelectedRow() const;
    // Makes the row current and selected, and brings it into view.
    void SelectRow(int row);

private:
    CEventHeader* m_header;
};

} // namespace panes
