#include "events/CEventStore.h"

#include "channel/AppMessages.h"
#include "events/EventCsv.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"
#include "loop/ThreadChecks.h"
#include "loop/Window.h"

#include <algorithm>
#include <climits>
#include <numeric>

namespace events {

namespace {

// Rows copied per lock round when the whole view is exported.
constexpr int kExportBatch = 4096;

void FillIdentity(std::vector<std::int32_t>& order, int count)
{
    order.resize(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
}

template <class Set>
void InsertText(Set& set, const char* text)
{
    // The lookup needs no allocation; most texts are already there.
    const std::string_view view(text);
    if (set.find(view) == set.end())
        set.emplace(view);
}

template <class Set>
std::vector<std::string> Sorted(const Set& set)
{
    std::vector<std::string> out(set.begin(), set.end());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

CEventStore::CEventStore() : m_arena(std::make_unique<CEventArena>()), m_filter(this) {}

CEventStore::~CEventStore()
{
    m_filter.Stop();
}

int CEventStore::Add(const Event& event)
{
    int index;
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        Event copy = event;
        copy.sequence = NextEventSequence();
        index = m_arena->Append(copy);
        m_eventCount.store(index + 1);
        InsertText(m_senders, copy.senderText);
        InsertText(m_receivers, copy.receiverText);
    }
    // The count was published before the flag is read, and a sort sets the flag
    // before it reads the count: one of the two always sees the other.
    if (m_displayFollowsEvents.load()) {
        std::lock_guard<std::mutex> lock(m_indexLock);
        CatchUpDisplayLocked();
    }
    if (!m_filter.IsActive()) {
        PostRowsNotice();
    } else {
        // A task that ended after the last event takes this one in. A pool that
        // refuses the task (overflowed) must not fail the report: the next
        // event or check starts it again, from where it stopped.
        try {
            m_filter.Start();
        } catch (const EGeneric& e) {
            if (Debug.GetEnabled())
                TDebugStreamSession(Debug) << "events filter not started: " << e.what() << "\n";
        }
    }
    return index;
}

void CEventStore::PostRowsNotice()
{
    if (m_rowsNoticePending.exchange(true))
        return;
    // Nobody to tell: the next row must try again.
    if (!loop::PostToWindow(m_eventsWindow.load(), channel::WM_EVENT_ADDED, 0, 0))
        m_rowsNoticePending.store(false);
}

void CEventStore::PostFilteredCount(int count)
{
    loop::PostToWindow(m_eventsWindow.load(), channel::WM_EVENTS_FILTERED,
                       static_cast<loop::WPARAM>(count), 0);
}

int CEventStore::AddFiltered(int eventIndex)
{
    int count;
    {
        std::lock_guard<std::mutex> lock(m_indexLock);
        m_filtered.push_back(eventIndex);
        count = static_cast<int>(m_filtered.size());
        // An empty display order after a sort was dropped stands for "row n is
        // entry n"; one entry alone would hide every other row.
        if (static_cast<int>(m_display.size()) == count - 1)
            m_display.push_back(count - 1);
    }
    // The progress messages come once per batch (up to 1000 matches); a match
    // of a following filter must not wait that long.
    PostRowsNotice();
    return count;
}

int CEventStore::GetFilteredCount()
{
    std::lock_guard<std::mutex> lock(m_indexLock);
    return static_cast<int>(m_filtered.size());
}

int CEventStore::GetEventCount()
{
    return m_eventCount.load();
}

std::optional<Event> CEventStore::GetEvent(int index)
{
    return CopyEvent(index);
}

int CEventStore::CopyEvents(int first, int count, std::vector<Event>& out)
{
    out.clear();
    std::lock_guard<std::mutex> lock(m_eventLock);
    const int end = std::min(first + count, m_arena->Size());
    for (int i = std::max(first, 0); i < end; ++i)
        out.push_back(m_arena->At(i));
    return static_cast<int>(out.size());
}

std::optional<Event> CEventStore::CopyEvent(int index) const
{
    std::lock_guard<std::mutex> lock(m_eventLock);
    if (index < 0 || index >= m_arena->Size())
        return std::nullopt;
    return m_arena->At(index);
}

void CEventStore::ResetViewsLocked()
{
    m_filtered.clear();
    DropDisplayOrderLocked();
}

void CEventStore::DropDisplayOrderLocked()
{
    m_display.clear();
    m_displayOverEvents = false;
    m_displayCovered = 0;
    m_displayFollowsEvents.store(false);
    m_viewGeneration.fetch_add(1);
}

void CEventStore::CatchUpDisplayLocked()
{
    if (!m_displayOverEvents)
        return;
    const int count = m_eventCount.load();
    while (m_displayCovered < count)
        m_display.push_back(m_displayCovered++);
}

int CEventStore::Purge(const std::function<bool(const Event&)>& keep)
{
    loop::AssertGuiThread("CEventStore::Purge");
    // The task would go on with indexes of the old list: hold it.
    const bool filterActive = m_filter.Pause();
    {
        std::lock_guard<std::mutex> lock(m_indexLock);
        ResetViewsLocked();
    }
    std::vector<Event> kept;
    std::unique_ptr<CEventArena> old;
    {
        auto fresh = std::make_unique<CEventArena>();
        std::lock_guard<std::mutex> lock(m_eventLock);
        m_senders.clear();
        m_receivers.clear();
        const int count = m_arena->Size();
        for (int i = 0; i < count; ++i) {
            const Event& event = m_arena->At(i);
            if (!keep(event))
                continue;
            fresh->Append(event);
            kept.push_back(event);
            InsertText(m_senders, event.senderText);
            InsertText(m_receivers, event.receiverText);
        }
        old = std::move(m_arena);
        m_arena = std::move(fresh);
        m_eventCount.store(m_arena->Size());
    }
    old.reset(); // freed outside the lock: a million events take a while
    const int keptCount = static_cast<int>(kept.size());

    // The filter's lock is taken here, with none of the store's held.
    std::vector<std::int32_t> matched;
    if (filterActive) {
        for (int i = 0; i < keptCount; ++i) {
            if (m_filter.Matches(kept[static_cast<std::size_t>(i)]))
                matched.push_back(i);
        }
    }
    int rows = keptCount;
    {
        std::lock_guard<std::mutex> lock(m_indexLock);
        if (filterActive) {
            m_filtered = std::move(matched);
            FillIdentity(m_display, static_cast<int>(m_filtered.size()));
            rows = static_cast<int>(m_filtered.size());
        } else if (m_sort.IsSorting()) {
            FillIdentity(m_display, keptCount);
            m_displayOverEvents = true;
            m_displayCovered = keptCount;
            m_displayFollowsEvents.store(true);
            CatchUpDisplayLocked();
        }
    }
    m_filter.Resume(keptCount);
    PostRowsNotice(); // the pane reads the new rows even when the caller forgets to tell it
    return rows;
}

int CEventStore::TrimThreshold(int limit)
{
    const int slack = limit / 4 > 0 ? limit / 4 : 1;
    return limit > INT_MAX - slack ? INT_MAX : limit + slack;
}

int CEventStore::TrimToLimit()
{
    loop::AssertGuiThread("CEventStore::TrimToLimit");
    const int limit = m_limit;
    if (limit <= 0 || m_eventCount.load() < TrimThreshold(limit))
        return 0;
    // The task would go on with indexes of the old list: hold it, and resume
    // it where it was, renumbered.
    const bool filterActive = m_filter.Pause();
    const int filterNext = m_filter.NextIndex();
    int dropped = 0;
    std::unique_ptr<CEventArena> old;
    {
        auto fresh = std::make_unique<CEventArena>();
        std::lock_guard<std::mutex> lock(m_eventLock);
        const int count = m_arena->Size();
        dropped = count - limit;
        m_senders.clear();
        m_receivers.clear();
        for (int i = dropped; i < count; ++i) {
            const Event& event = m_arena->At(i);
            fresh->Append(event);
            InsertText(m_senders, event.senderText);
            InsertText(m_receivers, event.receiverText);
        }
        old = std::move(m_arena);
        m_arena = std::move(fresh);
        m_eventCount.store(m_arena->Size());
    }
    old.reset(); // freed outside the lock
    {
        std::lock_guard<std::mutex> lock(m_indexLock);
        DropFromViewsLocked(dropped, filterActive);
    }
    m_dropped.fetch_add(static_cast<std::uint64_t>(dropped));
    m_filter.Resume(filterNext > dropped ? filterNext - dropped : 0);
    return dropped;
}

void CEventStore::DropFromViewsLocked(int dropped, bool filterActive)
{
    // Entries below `cut` go, the others move down by it; the order of what
    // stays is kept (the filtered list ascends, a sorted order stays sorted).
    auto renumber = [](std::vector<std::int32_t>& entries, int cut) {
        if (cut <= 0)
            return;
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [cut](std::int32_t entry) { return entry < cut; }),
                      entries.end());
        for (std::int32_t& entry : entries)
            entry -= cut;
    };
    const auto keptFiltered = std::lower_bound(m_filtered.begin(), m_filtered.end(), dropped);
    const int droppedMatches = static_cast<int>(keptFiltered - m_filtered.begin());
    renumber(m_filtered, dropped);
    if (filterActive) {
        renumber(m_display, droppedMatches); // the display order indexes the filtered list
    } else if (m_displayOverEvents) {
        renumber(m_display, dropped);
        m_displayCovered = m_displayCovered > dropped ? m_displayCovered - dropped : 0;
        CatchUpDisplayLocked(); // events added while the list was replaced
    }
    // Rows went from the top: a view reads them all again.
    m_viewGeneration.fetch_add(1);
}

void CEventStore::ApplyFilter(const FilterCriteria& criteria)
{
    loop::AssertGuiThread("CEventStore::ApplyFilter");
    m_filter.Apply(criteria, [this] {
        std::lock_guard<std::mutex> lock(m_indexLock);
        ResetViewsLocked();
    });
    if (m_sort.IsSorting())
        SortDisplayOrder();
}

void CEventStore::ClearFilter()
{
    loop::AssertGuiThread("CEventStore::ClearFilter");
    m_filter.Stop();
    PostFilteredCount(m_eventCount.load());
    {
        std::lock_guard<std::mutex> lock(m_indexLock);
        ResetViewsLocked();
    }
    if (m_sort.IsSorting())
        SortDisplayOrder();
}

void CEventStore::SortEvents(int column, bool ascending, bool multiple)
{
    loop::AssertGuiThread("CEventStore::SortEvents");
    m_sort.SetKey(column, ascending, multiple);
    SortDisplayOrder();
}

void CEventStore::ToggleSortColumn(int column)
{
    loop::AssertGuiThread("CEventStore::ToggleSortColumn");
    bool removed = false;
    if (m_sort.Enabled())
        removed = m_sort.RemoveColumn(column);
    m_sort.SetEnabled(true);
    if (!removed)
        return;
    if (m_sort.IsSorting()) {
        SortDisplayOrder();
    } else {
        std::lock_guard<std::mutex> lock(m_indexLock);
        DropDisplayOrderLocked();
    }
}

void CEventStore::ResetSort()
{
    m_sort.Reset();
    std::lock_guard<std::mutex> lock(m_indexLock);
    DropDisplayOrderLocked();
}

void CEventStore::SortDisplayOrder()
{
    // The filter's state decides what the display order indexes; a filter with
    // no match yet still means "the filtered list".
    const bool filtered = m_filter.IsActive();
    std::vector<std::int32_t> order;
    std::vector<std::int32_t> filteredIndexes;
    {
        std::lock_guard<std::mutex> lock(m_indexLock);
        if (m_display.empty()) {
            if (filtered) {
                FillIdentity(m_display, static_cast<int>(m_filtered.size()));
            } else {
                m_displayOverEvents = true;
                m_displayFollowsEvents.store(true);
                const int count = m_eventCount.load();
                FillIdentity(m_display, count);
                m_displayCovered = count;
            }
        }
        order = m_display;
        if (filtered)
            filteredIndexes = m_filtered;
    }
    // Sorted without the locks: other threads only append to both lists, and
    // the events below the published count never change. Only this (the GUI)
    // thread replaces the event list.
    const CEventArena& arena = *m_arena;
    if (filtered) {
        m_sort.Sort(order, [&](std::int32_t entry) -> const Event& {
            return arena.At(filteredIndexes[static_cast<std::size_t>(entry)]);
        });
    } else {
        m_sort.Sort(order, [&](std::int32_t entry) -> const Event& { return arena.At(entry); });
    }
    std::lock_guard<std::mutex> lock(m_indexLock);
    // Entries appended meanwhile stay behind the sorted ones.
    if (m_display.size() >= order.size())
        std::copy(order.begin(), order.end(), m_display.begin());
    m_viewGeneration.fetch_add(1);
}

int CEventStore::EventIndexOfRowLocked(int row, bool filtered) const
{
    if (row < 0)
        return -1;
    int entry = row;
    if (!m_display.empty()) {
        if (row >= static_cast<int>(m_display.size()))
            return -1;
        entry = m_display[static_cast<std::size_t>(row)];
    }
    if (!filtered)
        return entry;
    if (entry < 0 || entry >= static_cast<int>(m_filtered.size()))
        return -1;
    return m_filtered[static_cast<std::size_t>(entry)];
}

std::optional<Event> CEventStore::EventAtRow(int row) const
{
    int index;
    {
        std::lock_guard<std::mutex> lock(m_indexLock);
        index = EventIndexOfRowLocked(row, false);
    }
    return CopyEvent(index);
}

std::optional<Event> CEventStore::FilteredEventAtRow(int row) const
{
    int index;
    {
        std::lock_guard<std::mutex> lock(m_indexLock);
        index = EventIndexOfRowLocked(row, true);
    }
    return CopyEvent(index);
}

std::optional<Event> CEventStore::ShownEventAtRow(int row) const
{
    return m_filter.IsActive() ? FilteredEventAtRow(row) : EventAtRow(row);
}

int CEventStore::ShownRowCount() const
{
    if (!m_filter.IsActive() && !m_displayFollowsEvents.load())
        return m_eventCount.load();
    std::lock_guard<std::mutex> lock(m_indexLock);
    if (m_filter.IsActive())
        return static_cast<int>(m_filtered.size());
    // An event is counted before its adder has appended it to the display
    // order; until then its row would show nothing.
    return m_displayOverEvents ? m_displayCovered : m_eventCount.load();
}

int CEventStore::RowOfEvent(int eventIndex) const
{
    if (eventIndex < 0)
        return -1;
    std::lock_guard<std::mutex> lock(m_indexLock);
    int entry = eventIndex;
    if (m_filter.IsActive()) {
        auto found = std::find(m_filtered.begin(), m_filtered.end(), eventIndex);
        if (found == m_filtered.end())
            return -1;
        entry = static_cast<int>(found - m_filtered.begin());
    } else if (m_display.empty()) {
        return eventIndex < m_eventCount.load() ? eventIndex : -1;
    }
    if (m_display.empty())
        return entry;
    auto row = std::find(m_display.begin(), m_display.end(), entry);
    return row == m_display.end() ? -1 : static_cast<int>(row - m_display.begin());
}

int CEventStore::RowOfEventId(std::uint32_t sequence) const
{
    int index = -1;
    {
        // Sequence numbers grow with the index (both are drawn under this lock).
        std::lock_guard<std::mutex> lock(m_eventLock);
        int low = 0;
        int high = m_arena->Size();
        while (low < high) {
            const int middle = low + (high - low) / 2;
            if (m_arena->At(middle).sequence < sequence)
                low = middle + 1;
            else
                high = middle;
        }
        if (low < m_arena->Size() && m_arena->At(low).sequence == sequence)
            index = low;
    }
    return index < 0 ? -1 : RowOfEvent(index);
}

std::vector<Event> CEventStore::ShownEvents(int firstRow, int count) const
{
    const bool filtered = m_filter.IsActive();
    std::vector<int> indexes;
    {
        std::lock_guard<std::mutex> lock(m_indexLock);
        for (int row = std::max(firstRow, 0); row < firstRow + count; ++row) {
            const int index = EventIndexOfRowLocked(row, filtered);
            if (index < 0)
                break;
            indexes.push_back(index);
        }
    }
    std::vector<Event> out;
    out.reserve(indexes.size());
    std::lock_guard<std::mutex> lock(m_eventLock);
    for (int index : indexes) {
        if (index < m_arena->Size())
            out.push_back(m_arena->At(index));
    }
    return out;
}

std::size_t CEventStore::WriteCsv(std::ostream& out) const
{
    CEventCsvWriter writer(out);
    writer.WriteHeader();
    const int rows = ShownRowCount();
    for (int first = 0; first < rows; first += kExportBatch) {
        for (const Event& event : ShownEvents(first, std::min(kExportBatch, rows - first)))
            writer.WriteEvent(event);
    }
    writer.Flush();
    return writer.LinesWritten();
}

std::vector<std::string> CEventStore::Senders() const
{
    std::lock_guard<std::mutex> lock(m_eventLock);
    return Sorted(m_senders);
}

std::vector<std::string> CEventStore::Receivers() const
{
    std::lock_guard<std::mutex> lock(m_eventLock);
    return Sorted(m_receivers);
}

std::vector<std::int32_t> CEventStore::FilteredIndexes() const
{
    std::lock_guard<std::mutex> lock(m_indexLock);
    return m_filtered;
}

std::vector<std::int32_t> CEventStore::DisplayOrder() const
{
    std::lock_guard<std::mutex> lock(m_indexLock);
    return m_display;
}

std::size_t CEventStore::EventBytes() const
{
    std::lock_guard<std::mutex> lock(m_eventLock);
    return m_arena->CapacityBytes();
}

} // namespace events
