#pragma once

// The event store of the application logic: the list of events in arrival
// order, the filtered index list, the display order, the sets of sender and
// receiver texts, the sort state and the filter. The logic appends events from
// every thread; the events pane reads rows, sorts and filters on the GUI thread.
//
// Views
// - Filtered list: event indexes that passed the filter (filter active only).
// - Display order: row -> entry, into the filtered list while a filter is
//   active, else into the event list; empty means row n shows entry n. When it
//   is not empty it always covers every entry: new events (no filter, sorted)
//   and new matches are appended at its end, unsorted until the next sort.
//
// Telling the pane
// - Rows appended to what the pane shows (a new event without a filter, a new
//   match with one) post WM_EVENT_ADDED, but only while no such notice is
//   pending: the pane takes the notice (TakeRowsNotice) before it reads
//   ShownRowCount, so a burst of events costs one message per pass of the GUI
//   thread's loop, never one per event.
// - Replacing the rows (purge, filter applied or removed, sort) moves
//   ViewGeneration on; a view that saw another generation reads every row again.
// - With a filter active each new event restarts the filter's task when it has
//   ended, so the filtered view follows the servers' events between checks too.
//
// Bounded history
// - Unbounded unless SetLimit gives a limit: then TrimToLimit (called by the
//   owner on the GUI thread, say at each WM_EVENT_ADDED) drops the oldest
//   events once there are a quarter more than the limit, keeping the newest
//   `limit`. Sequence numbers stay with their events; the filtered list, the
//   display order (sorted rows keep their order) and the filter's resume point
//   follow the new indexes; the sender and receiver sets are rebuilt from the
//   events kept, so a flood of distinct (spoofed) addresses cannot grow them
//   past the limit either. Like Purge it renumbers: an index taken before a
//   trim names a later event, or none, after it.
//
// Threads
// - Add, the IEventFiltring operations, SetFollow, StartFilterIfIdle, the row
//   lookups, Senders/Receivers, DroppedCount: any thread.
// - Purge, TrimToLimit, SetLimit, ApplyFilter, ClearFilter, SortEvents,
//   ToggleSortColumn and WriteCsv: the GUI thread only (one thread; they
//   replace the views and the event list, and a sort reads the events without
//   the event lock).
//
// Locks (both plain, never held together, never held while the filter is
// called): the event lock guards the event list and the two text sets; the
// index lock guards the filtered list and the display order. The owner's
// client lock may be held while either is taken, never the reverse.

#include "events/CEventArena.h"
#include "events/CEventSort.h"
#include "events/Event.h"
#include "events/EventFilter.h"
#include "events/IEventFiltring.h"
#include "loop/WindowTypes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace events {

class CEventStore final : public IEventFiltring
{
public:
    CEventStore();
    ~CEventStore() override;
    CEventStore(const CEventStore&) = delete;
    CEventStore& operator=(const CEventStore&) = delete;

    // The events pane: WM_EVENT_ADDED and WM_EVENTS_FILTERED go there. A new
    // window gets the next rows notice whatever the old one left pending.
    void SetEventsWindow(loop::HWND window)
    {
        m_eventsWindow.store(window);
        m_rowsNoticePending.store(false);
    }
    loop::HWND EventsWindow() const { return m_eventsWindow.load(); }

    // Appends the event with the next process-wide sequence number (drawn
    // under the event lock, so sequence numbers grow with the index); returns
    // its index. Without a filter it posts the rows notice (see above); with
    // one the filter's task picks the event up, started again if it had ended.
    int Add(const Event& event);

    // The pane has taken the rows notice: the next appended row posts a new
    // one. Call it before reading ShownRowCount, never after. Any thread.
    void TakeRowsNotice() { m_rowsNoticePending.store(false); }
    // Moves on whenever the shown rows are replaced rather than appended to.
    // Changes on the GUI thread only. Any thread may read it.
    std::uint64_t ViewGeneration() const { return m_viewGeneration.load(); }

    // IEventFiltring.
    void PostFilteredCount(int count) override;
    int AddFiltered(int eventIndex) override;
    int GetFilteredCount() override;
    int GetEventCount() override;
    std::optional<Event> GetEvent(int index) override;
    int CopyEvents(int first, int count, std::vector<Event>& out) override;

    // Keeps the events for which keep() holds (called under the event lock: it
    // must not call back into the store), in order, with new indexes; rebuilds
    // the text sets and the views. Returns the rows to show: the filtered
    // length with a filter active, else the number of events kept.
    int Purge(const std::function<bool(const Event&)>& keep);

    // The most events kept by TrimToLimit; 0 (the default) keeps every event.
    void SetLimit(int limit) { m_limit = limit < 0 ? 0 : limit; }
    int Limit() const { return m_limit; }
    // With a limit, once the store holds TrimThreshold(limit) events or more:
    // drops the oldest so that the newest `limit` stay, and returns how many
    // went (0 when nothing was dropped).
    int TrimToLimit();
    // The count at which TrimToLimit drops events: the limit and a quarter (at
    // least one) more, so each trim copies the kept events once per quarter of
    // the limit added.
    static int TrimThreshold(int limit);
    // Events dropped by TrimToLimit since the store was made.
    std::uint64_t DroppedCount() const { return m_dropped.load(); }
    void ApplyFilter(const FilterCriteria& criteria);
    // Stops the filter, posts the full event count, shows every event (sorted
    // when a sort is in force).
    void ClearFilter();
    // A header click (see CEventSort::SetKey), then the display order is sorted.
    void SortEvents(int column, bool ascending, bool multiple);
    void ToggleSortColumn(int column);
    // Back to arrival order: the sort keys and the display order are dropped.
    void ResetSort();
    // Starts the filter's task when the filter is active and no task runs.
    void StartFilterIfIdle() { m_filter.Start(); }
    void SetFollow(bool follow) { m_filter.SetFollow(follow); }

    // Row lookups; a copy of the event, none for a row without one.
    // EventAtRow: row -> display order -> event list. FilteredEventAtRow:
    // row -> display order -> filtered list -> event list. ShownEventAtRow picks
    // the one that fits whether a filter is active.
    std::optional<Event> EventAtRow(int row) const;
    std::optional<Event> FilteredEventAtRow(int row) const;
    std::optional<Event> ShownEventAtRow(int row) const;
    // Rows the pane shows: the filtered length with a filter active, else the
    // number of events (sorted: the events the display order already covers,
    // so that every row counted has an event to show).
    int ShownRowCount() const;
    // The row that shows the event of that index or sequence number, or -1.
    int RowOfEvent(int eventIndex) const;
    int RowOfEventId(std::uint32_t sequence) const;
    // Copies of the events of rows first .. first+count-1 (fewer past the end).
    std::vector<Event> ShownEvents(int firstRow, int count) const;
    // The CSV export of every shown row (EventCsv.h); returns the lines written.
    std::size_t WriteCsv(std::ostream& out) const;

    // The distinct sender and receiver texts, sorted.
    std::vector<std::string> Senders() const;
    std::vector<std::string> Receivers() const;
    std::vector<std::int32_t> FilteredIndexes() const;
    std::vector<std::int32_t> DisplayOrder() const;

    EventFilter& Filter() { return m_filter; }
    const EventFilter& Filter() const { return m_filter; }
    bool IsFilterActive() const { return m_filter.IsActive(); }
    const CEventSort& SortState() const { return m_sort; }
    // Bytes held by the event records (allocated segments).
    std::size_t EventBytes() const;

private:
    // Index lock held: the display order no longer follows the event list.
    void ResetViewsLocked();
    // Index lock held: the display order covers every event (no filter, sorted).
    void CatchUpDisplayLocked();
    // Index lock held: the views after the first `dropped` events went.
    void DropFromViewsLocked(int dropped, bool filterActive);
    // Index lock held: no display order any more (row n shows entry n).
    void DropDisplayOrderLocked();
    // WM_EVENT_ADDED, unless a notice is already pending.
    void PostRowsNotice();
    // Fills an empty display order and sorts it by the sort state.
    void SortDisplayOrder();
    // A copy of the event at the index, none when out of range (takes the event lock).
    std::optional<Event> CopyEvent(int index) const;
    // Event index of a row, or -1 (index lock held).
    int EventIndexOfRowLocked(int row, bool filtered) const;

    std::atomic<loop::HWND> m_eventsWindow{nullptr};
    std::atomic<bool> m_rowsNoticePending{false};
    std::atomic<std::uint64_t> m_viewGeneration{0};

    mutable std::mutex m_eventLock;
    std::unique_ptr<CEventArena> m_arena; // replaced only by Purge (GUI thread)
    std::atomic<int> m_eventCount{0};
    // The distinct texts; hashed, since every event looks its two up (the
    // accessors hand them out sorted).
    struct TextHash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept
        {
            return std::hash<std::string_view>{}(text);
        }
    };
    using TextSet = std::unordered_set<std::string, TextHash, std::equal_to<>>;
    TextSet m_senders;
    TextSet m_receivers;

    mutable std::mutex m_indexLock;
    std::vector<std::int32_t> m_filtered;
    std::vector<std::int32_t> m_display;
    // The display order indexes the event list and must grow with it; covered
    // is the number of events it holds.
    bool m_displayOverEvents = false;
    int m_displayCovered = 0;
    // A copy of m_displayOverEvents that Add reads without the index lock.
    std::atomic<bool> m_displayFollowsEvents{false};

    CEventSort m_sort; // GUI thread
    int m_limit = 0;   // GUI thread; 0: no limit
    std::atomic<std::uint64_t> m_dropped{0};
    // Last: destroyed first, so its task never outlives the store it reads.
    EventFilter m_filter;
};

} // namespace events
