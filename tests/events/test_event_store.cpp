// The event store: indexes, sequence numbers, the text sets, the row lookups
// through the views, purges, and events arriving from many threads while the
// GUI thread sorts, filters and reads rows.

#include "channel/AppMessages.h"
#include "events/CEventStore.h"
#include "events/support/EventTestSupport.h"
#include "loop/EventLoop.h"
#include "loop/Window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <sstream>
#include <thread>

namespace eventstest {
namespace {

using namespace std::chrono_literals;
using events::CEventStore;
using events::Event;
using events::FilterCriteria;

// The events pane's part: counts the two messages the store posts and, as the
// pane does, takes each rows notice before it reads the rows shown.
class CPaneWindow final : public loop::CWindow
{
public:
    explicit CPaneWindow(CEventStore& store) : m_store(store) {}
    int added = 0;
    int rowsSeen = 0;
    std::vector<int> filtered;

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM) override
    {
        if (message == channel::WM_EVENT_ADDED) {
            ++added;
            m_store.TakeRowsNotice();
            rowsSeen = m_store.ShownRowCount();
        } else if (message == channel::WM_EVENTS_FILTERED) {
            filtered.push_back(static_cast<int>(wParam));
        }
    }

private:
    CEventStore& m_store;
};

class EventStore : public ::testing::Test
{
protected:
    void SetUp() override { EnsureApplication(); }
};

TEST_F(EventStore, IndexesSequencesAndTextSets)
{
    CEventStore store;
    CPaneWindow pane(store);
    store.SetEventsWindow(pane.Handle());
    const int first = store.Add(MakeTestEvent({.sender = "10.0.0.2", .receiver = ""}));
    const int second = store.Add(MakeTestEvent({.sender = "10.0.0.1", .receiver = "10.0.0.9"}));
    const int third = store.Add(MakeTestEvent({.sender = "10.0.0.2", .receiver = "10.0.0.9"}));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(third, 2);
    EXPECT_EQ(store.GetEvent(1)->sequence, store.GetEvent(0)->sequence + 1);
    EXPECT_EQ(store.GetEvent(2)->sequence, store.GetEvent(1)->sequence + 1);
    EXPECT_FALSE(store.GetEvent(3).has_value());
    EXPECT_FALSE(store.GetEvent(-1).has_value());
    EXPECT_EQ(store.Senders(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(store.Receivers(), (std::vector<std::string>{"", "10.0.0.9"}));
    ASSERT_TRUE(loop::RunUntil([&] { return pane.rowsSeen == 3; }, 5s));
    EXPECT_EQ(pane.added, 1) << "three events before the pane ran: one notice";

    EXPECT_EQ(store.RowOfEvent(2), 2) << "no filter, no order: the row is the index";
    EXPECT_EQ(store.RowOfEvent(3), -1);
    EXPECT_EQ(store.RowOfEventId(store.GetEvent(1)->sequence), 1);
    EXPECT_EQ(store.RowOfEventId(store.GetEvent(2)->sequence + 100), -1);
}

TEST_F(EventStore, FilteredRowsAndTheirLookups)
{
    CEventStore store;
    CPaneWindow pane(store);
    store.SetEventsWindow(pane.Handle());
    for (int i = 0; i < 10; ++i)
        store.Add(MakeTestEvent({.status = i % 2 == 0 ? 3 : 0}));
    FilterCriteria warnings;
    warnings.statuses = {3};
    store.ApplyFilter(warnings);
    ASSERT_TRUE(WaitFor([&] { return !store.Filter().IsRunning(); }, 10s));
    EXPECT_EQ(store.FilteredIndexes(), (std::vector<int>{0, 2, 4, 6, 8}));
    EXPECT_EQ(store.ShownRowCount(), 5);
    EXPECT_EQ(store.FilteredEventAtRow(2)->sequence, store.GetEvent(4)->sequence);
    EXPECT_FALSE(store.FilteredEventAtRow(5).has_value());
    EXPECT_EQ(store.RowOfEvent(6), 3);
    EXPECT_EQ(store.RowOfEvent(5), -1) << "filtered out";
    ASSERT_TRUE(
        loop::RunUntil([&] { return !pane.filtered.empty() && pane.filtered.back() == 5; }, 5s));
    EXPECT_EQ(pane.filtered.front(), 0) << "apply first tells the pane to show nothing";

    // Follow is off and the task has ended: a new event still reaches the
    // filtered view (it used to wait for the next check to start the task), and
    // its match tells the pane at once instead of at the end of a batch.
    ASSERT_FALSE(store.Filter().IsFollowing());
    store.Add(MakeTestEvent({.status = 3}));
    ASSERT_TRUE(WaitFor([&] { return store.GetFilteredCount() == 6; }, 10s));
    ASSERT_TRUE(loop::RunUntil([&] { return pane.rowsSeen == 6; }, 5s));
    store.Add(MakeTestEvent({.status = 0})); // filtered out: the view stays as it is
    ASSERT_TRUE(WaitFor([&] { return !store.Filter().IsRunning(); }, 10s));
    EXPECT_EQ(store.ShownRowCount(), 6);

    store.ClearFilter();
    EXPECT_EQ(store.ShownRowCount(), 12);
    EXPECT_TRUE(store.FilteredIndexes().empty());
    ASSERT_TRUE(loop::RunUntil([&] { return pane.filtered.back() == 12; }, 5s))
        << "clear shows every event";
}

// A burst used to post one WM_EVENT_ADDED per event and flood the GUI thread.
TEST_F(EventStore, ABurstPostsOneNoticeUntilThePaneTakesIt)
{
    CEventStore store;
    CPaneWindow pane(store);
    store.SetEventsWindow(pane.Handle());
    std::vector<std::thread> adders;
    for (int t = 0; t < 4; ++t) {
        adders.emplace_back([&store] {
            for (int i = 0; i < 2500; ++i)
                store.Add(MakeTestEvent({}));
        });
    }
    for (auto& t : adders)
        t.join();
    ASSERT_TRUE(loop::RunUntil([&] { return pane.rowsSeen == 10000; }, 5s));
    EXPECT_EQ(pane.added, 1);

    store.Add(MakeTestEvent({}));
    ASSERT_TRUE(loop::RunUntil([&] { return pane.rowsSeen == 10001; }, 5s))
        << "a taken notice lets the next event post again";
    EXPECT_EQ(pane.added, 2);

    // No window: nothing is posted and nothing stays pending for the next one.
    store.SetEventsWindow(nullptr);
    store.Add(MakeTestEvent({}));
    CPaneWindow later(store);
    store.SetEventsWindow(later.Handle());
    store.Add(MakeTestEvent({}));
    ASSERT_TRUE(loop::RunUntil([&] { return later.rowsSeen == 10003; }, 5s));
}

TEST_F(EventStore, TheViewGenerationMovesWhenRowsAreReplacedNotWhenAppended)
{
    CEventStore store;
    for (int i = 0; i < 10; ++i)
        store.Add(MakeTestEvent({.status = i % 2 == 0 ? 3 : 0}));
    std::uint64_t generation = store.ViewGeneration();
    const auto moved = [&] {
        const std::uint64_t now = store.ViewGeneration();
        const bool changed = now != generation;
        generation = now;
        return changed;
    };
    store.Add(MakeTestEvent({}));
    EXPECT_FALSE(moved()) << "appended";
    store.SortEvents(events::COL_STATUS, true, false);
    EXPECT_TRUE(moved()) << "sorted";
    store.Add(MakeTestEvent({}));
    EXPECT_EQ(store.ShownRowCount(), 12) << "sorted: the new event has its row";
    EXPECT_FALSE(moved()) << "appended behind the sorted rows";
    FilterCriteria warnings;
    warnings.statuses = {3};
    store.ApplyFilter(warnings);
    EXPECT_TRUE(moved()) << "filter applied";
    ASSERT_TRUE(WaitFor([&] { return !store.Filter().IsRunning(); }, 10s));
    EXPECT_FALSE(moved()) << "matches are appended";
    store.ClearFilter();
    EXPECT_TRUE(moved()) << "filter removed";
    store.ResetSort();
    EXPECT_TRUE(moved()) << "sort dropped";
    EXPECT_FALSE(store.SortState().IsSorting());
    EXPECT_TRUE(store.DisplayOrder().empty());
    EXPECT_EQ(store.ShownEventAtRow(11)->sequence, store.GetEvent(11)->sequence);
    store.Purge([](const Event& e) { return e.status == 3; });
    EXPECT_TRUE(moved()) << "purged";
}

TEST_F(EventStore, PurgeKeepsChosenEventsAndRebuildsTheViews)
{
    CEventStore store;
    for (int i = 0; i < 20; ++i)
        store.Add(
            MakeTestEvent({.code = i % 4 == 0 ? 1 : 10, .sender = "10.0.0." + std::to_string(i)}));
    FilterCriteria senders;
    senders.senders = {"10.0.0.4", "10.0.0.5", "10.0.0.8", "10.0.0.30"};
    store.ApplyFilter(senders);
    ASSERT_TRUE(WaitFor([&] { return !store.Filter().IsRunning(); }, 10s));
    ASSERT_EQ(store.GetFilteredCount(), 3);

    const int rows = store.Purge([](const Event& e) { return e.description == 1; });
    EXPECT_EQ(store.GetEventCount(), 5) << "codes 1 of events 0, 4, 8, 12, 16";
    EXPECT_EQ(rows, 2) << "of those, 10.0.0.4 and 10.0.0.8 pass the filter";
    EXPECT_EQ(store.FilteredIndexes(), (std::vector<int>{1, 2}));
    EXPECT_EQ(std::string(store.FilteredEventAtRow(1)->senderText), "10.0.0.8");
    EXPECT_EQ(store.Senders().size(), 5u) << "the sets hold only what stays";

    // Events after the purge are filtered once each, from the new indexes on.
    store.Add(MakeTestEvent({.sender = "10.0.0.30"}));
    store.Add(MakeTestEvent({.sender = "10.0.0.31"}));
    store.StartFilterIfIdle();
    ASSERT_TRUE(WaitFor([&] { return !store.Filter().IsRunning(); }, 10s));
    EXPECT_EQ(store.FilteredIndexes(), (std::vector<int>{1, 2, 5}));

    store.ClearFilter();
    EXPECT_EQ(store.Purge([](const Event&) { return false; }), 0);
    EXPECT_EQ(store.GetEventCount(), 0);
    EXPECT_EQ(store.Add(MakeTestEvent({})), 0) << "indexes start again at 0";
}

TEST_F(EventStore, PurgeUnderASortKeepsTheOrderCoveringEveryEvent)
{
    CEventStore store;
    for (int i = 0; i < 6; ++i)
        store.Add(MakeTestEvent(
            {.code = i % 2 == 0 ? 1 : 10, .sender = "10.0.0." + std::to_string(9 - i)}));
    store.SortEvents(events::COL_SENDER, true, false);
    EXPECT_EQ(store.Purge([](const Event& e) { return e.description == 1; }), 3);
    store.Add(MakeTestEvent({.sender = "10.0.0.1"}));
    std::vector<int> order = store.DisplayOrder();
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(EventStore, ExportWritesTheShownRowsInDisplayOrder)
{
    CEventStore store;
    store.Add(MakeTestEvent({.sender = "1.0.0.2"}));
    store.Add(MakeTestEvent({.sender = "2.0.0.1"}));
    store.Add(MakeTestEvent({.status = 3, .sender = "3.0.0.0"}));
    store.SortEvents(events::COL_SENDER, true, false);
    std::ostringstream all;
    EXPECT_EQ(store.WriteCsv(all), 3u);
    const std::string text = all.str();
    EXPECT_LT(text.find("3.0.0.0"), text.find("2.0.0.1"));
    EXPECT_LT(text.find("2.0.0.1"), text.find("1.0.0.2"));

    FilterCriteria warnings;
    warnings.statuses = {3};
    store.ApplyFilter(warnings);
    ASSERT_TRUE(WaitFor([&] { return !store.Filter().IsRunning(); }, 10s));
    std::ostringstream shown;
    EXPECT_EQ(store.WriteCsv(shown), 1u);
    EXPECT_NE(shown.str().find("3.0.0.0"), std::string::npos);
    EXPECT_EQ(shown.str().find("2.0.0.1"), std::string::npos);
}

// Four threads add events while the GUI thread sorts, filters, clears and
// reads rows. Built with ThreadSanitizer this is the race check of the views.
TEST_F(EventStore, EventsFromManyThreadsWhileTheGuiThreadWorksOnTheViews)
{
    CEventStore store;
    CPaneWindow pane(store);
    store.SetEventsWindow(pane.Handle());
    constexpr int kThreads = 4;
    constexpr int kPerThread = 3000;
    std::atomic<bool> go{false};
    std::vector<std::thread> adders;
    for (int t = 0; t < kThreads; ++t) {
        adders.emplace_back([&store, &go, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < kPerThread; ++i) {
                store.Add(MakeTestEvent(
                    {.status = i % 3 == 0 ? 3 : 0,
                     .code = i % 15,
                     .sender = "10.0." + std::to_string(t) + "." + std::to_string(i % 7),
                     .senderPort = static_cast<std::uint16_t>(i)}));
            }
        });
    }
    go.store(true);
    FilterCriteria warnings;
    warnings.statuses = {3};
    store.SetFollow(true);
    int round = 0;
    while (store.GetEventCount() < kThreads * kPerThread && round < 100000) {
        switch (round++ % 6) {
        case 0: store.SortEvents(events::COL_SENDER, round % 2 == 0, false); break;
        case 1: store.SortEvents(events::COL_TIME, false, true); break;
        case 2: store.ApplyFilter(warnings); break;
        case 3: store.ToggleSortColumn(events::COL_TIME); break;
        case 4: store.ClearFilter(); break;
        default: break;
        }
        const int rows = store.ShownRowCount();
        for (int row = std::max(0, rows - 20); row < rows; ++row) {
            if (auto e = store.ShownEventAtRow(row))
                store.RowOfEventId(e->sequence);
        }
        loop::ProcessEventsFor(1ms);
    }
    for (auto& t : adders)
        t.join();
    ASSERT_EQ(store.GetEventCount(), kThreads * kPerThread);

    // Unfiltered and sorted: the order covers every event exactly once.
    store.ClearFilter();
    store.SortEvents(events::COL_SENDER, true, false);
    std::vector<int> order = store.DisplayOrder();
    std::sort(order.begin(), order.end());
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kThreads * kPerThread));
    for (int i = 0; i < kThreads * kPerThread; ++i)
        ASSERT_EQ(order[static_cast<std::size_t>(i)], i);

    // Filtered: every warning once, in event order.
    store.ApplyFilter(warnings);
    store.SetFollow(false);
    ASSERT_TRUE(WaitFor([&] { return !store.Filter().IsRunning(); }, 30s));
    std::vector<int> filtered = store.FilteredIndexes();
    EXPECT_EQ(filtered.size(), static_cast<std::size_t>(kThreads * ((kPerThread + 2) / 3)));
    EXPECT_TRUE(std::is_sorted(filtered.begin(), filtered.end()));
    EXPECT_EQ(std::set<int>(filtered.begin(), filtered.end()).size(), filtered.size());
    store.Filter().Stop();
}

} // namespace
} // namespace eventstest
