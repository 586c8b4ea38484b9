#pragma once

// The table model of the events pane: nine columns over the event store's
// display order. It holds no rows of its own, only their count; the text of a
// cell is made in data(), that is for the cells a view paints.
//
// Keeping in step with the store
// - The store posts WM_EVENT_ADDED (one notice until it is taken) when rows are
//   appended to what the pane shows, and WM_EVENTS_FILTERED when a filter makes
//   progress or is applied or removed; WM_EVENTS_REDRAW asks for a repaint. The
//   model is the receiver of all three (NoticeWindow) and answers each with
//   SyncWithStore.
// - SyncWithStore takes the notice, then reads the store's view generation and
//   shown-row count: rows appended since the last sync become one row
//   insertion, replaced rows (a purge, a filter applied or removed, a sort) or
//   fewer rows one reset. The count the model reports is therefore always one
//   the store has had, never a sum of messages that may have drifted from it.
// - A row the store no longer has (it shrank and the notice is still on its
//   way) shows empty cells.
//
// Threads: the GUI thread only. Other threads reach the model only through the
// store's posted messages.

#include "events/CEventStore.h"
#include "events/Event.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace panes {

class CEventsModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    // The event's sequence number, under this role of every cell.
    static constexpr int SequenceRole = Qt::UserRole + 1;

    // Starts with the rows the store shows now. Does not register the receiver
    // with the store: the owner does (CEventStore::SetEventsWindow(NoticeWindow())).
    explicit CEventsModel(events::CEventStore& store, QObject* parent = nullptr);
    ~CEventsModel() override;

    // The receiver of the store's messages, living as long as the model.
    loop::HWND NoticeWindow() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Brings the row count in step with the store (see above).
    void SyncWithStore();
    // Forgets the rows read for painting, so the next paint reads them again.
    void DropCache() const;

    // The event of a row, none past the rows or when the store has no event there.
    std::optional<events::Event> EventAtRow(int row) const;
    // The row that shows the event with that sequence number, or -1.
    int RowOfSequence(std::uint32_t sequence) const;
    events::CEventStore& Store() const { return m_store; }

    // The status column's picture: index 0 information, 2 warning, 3 error, -1 none.
    static int StatusImageIndex(int status);
    // The picture of a strip index (empty for an index without one).
    static QIcon StatusImage(int imageIndex);
    // The width a column starts with, in pixels at the design's font.
    static int InitialColumnWidth(int column);

signals:
    // SyncWithStore changed the rows: reset when they were replaced, else
    // appended. Views scroll and restore their selection here.
    void rowsSynced(bool reset);
    // WM_EVENTS_REDRAW: the rows are the same but must be painted again.
    void redrawRequested();

private:
    class CNoticeWindow;

    QString DetailText(std::uint32_t code) const;

    events::CEventStore& m_store;
    std::unique_ptr<CNoticeWindow> m_window;
    int m_rows = 0;
    std::uint64_t m_generation = 0;

    // A block of consecutive rows read in one round from the store: a paint asks
    // for each cell of some thirty rows, one row after the other.
    mutable int m_blockFirst = -1;
    mutable std::vector<events::Event> m_block;
    mutable QHash<std::uint32_t, QString> m_details; // detail code -> text
};

} // namespace panes
