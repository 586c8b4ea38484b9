// The event store with a bounded history, as a node that serves for weeks keeps
// it: the oldest events go, and what stays (sequence numbers, the sorted and
// filtered views, the filter's progress, the sender and receiver sets) stays
// consistent.

#include "events/CEventStore.h"
#include "events/EventText.h"
#include "events/support/EventTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>

namespace eventstest {
namespace {

using namespace std::chrono_literals;
using events::CEventStore;
using events::Event;

class BoundedEventStore : public ::testing::Test
{
protected:
    void SetUp() override { EnsureApplication(); }

    // Adds n events whose sender port is its number (mod 65536) and whose
    // sender text cycles over `senders` distinct addresses; trims after each,
    // as the owner does at each WM_EVENT_ADDED. Returns the largest count seen.
    int AddAndTrim(CEventStore& store, int n, int senders = 5)
    {
        int largest = 0;
        for (int i = 0; i < n; ++i) {
            const int number = m_added++;
            EventFields fields;
            fields.senderPort = static_cast<std::uint16_t>(number);
            fields.code = number % 3 == 0 ? 9 : 6;
            fields.sender = "10." + std::to_string(number % senders / 65536) + "." +
                          std::to_string(number % senders / 256 % 256) + "." +
                          std::to_string(number % senders % 256);
            store.Add(MakeTestEvent(fields));
            largest = std::max(largest, store.GetEventCount());
            store.TrimToLimit();
        }
        return largest;
    }

    int m_added = 0;
};

// The store used to keep every event (72-93 B each): a node under a flood for
// weeks grew until it was killed.
TEST_F(BoundedEventStore, KeepsTheNewestEventsWithinTheLimitAndAQuarter)
{
    CEventStore store;
    EXPECT_EQ(store.TrimToLimit(), 0) << "no limit: nothing is ever dropped";
    store.SetLimit(100);
    EXPECT_EQ(CEventStore::TrimThreshold(100), 125);
    const int largest = AddAndTrim(store, 1000);
    EXPECT_LE(largest, 125);
    const int count = store.GetEventCount();
    EXPECT_GE(count, 100);
    EXPECT_LT(count, 125);
    EXPECT_EQ(store.DroppedCount() + static_cast<std::uint64_t>(count), 1000u);
    // The newest events, in order, with their own consecutive sequence numbers.
    const Event first = *store.GetEvent(0);
    for (int i = 0; i < count; ++i) {
        const Event e = *store.GetEvent(i);
        EXPECT_EQ(e.senderPort, static_cast<std::uint16_t>(1000 - count + i));
        EXPECT_EQ(e.sequence, first.sequence + static_cast<std::uint32_t>(i));
    }
    EXPECT_EQ(store.RowOfEventId(first.sequence), 0);
    EXPECT_EQ(store.RowOfEventId(first.sequence - 1), -1) << "a dropped event has no row";

    store.SetLimit(0);
    AddAndTrim(store, 200);
    EXPECT_EQ(store.GetEventCount(), count + 200) << "without a limit again nothing goes";
}

// A flood from many (spoofed) source addresses must not grow the text sets
// either: they hold the texts of the events kept.
TEST_F(BoundedEventStore, TheSenderSetHoldsOnlyTheTextsOfTheEventsKept)
{
    CEventStore store;
    store.SetLimit(100);
    AddAndTrim(store, 20000, 20000);
    EXPECT_LE(store.Senders().size(), 125u);
    std::set<std::string> kept;
    for (int i = 0; i < store.GetEventCount(); ++i)
        kept.insert(store.GetEvent(i)->senderText);
    const std::vector<std::string> senders = store.Senders();
    EXPECT_EQ(std::set<std::string>(senders.begin(), senders.end()), kept);
}

TEST_F(BoundedEventStore, ASortedViewKeepsItsOrderAndCoversEveryEvent)
{
    CEventStore store;
    store.SetLimit(100);
    AddAndTrim(store, 100); // ports 0..99, below the threshold
    store.SortEvents(events::COL_SENDER_PORT, false, false); // largest port first
    AddAndTrim(store, 30); // the 125th drops ports 0..24; ports 100..129 follow unsorted
    ASSERT_EQ(store.DroppedCount(), 25u);
    std::vector<std::int32_t> order = store.DisplayOrder();
    ASSERT_EQ(static_cast<int>(order.size()), store.GetEventCount());
    std::vector<std::int32_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::int32_t> every(order.size());
    std::iota(every.begin(), every.end(), 0);
    EXPECT_EQ(sorted, every) << "each kept event on exactly one row";
    std::vector<int> ports;
    for (int row = 0; row < store.ShownRowCount(); ++row)
        ports.push_back(store.EventAtRow(row)->senderPort);
    std::vector<int> expected;
    for (int port = 99; port >= 25; --port)
        expected.push_back(port); // sorted before the trim, in that order still
    for (int port = 100; port < 130; ++port)
        expected.push_back(port); // added since, behind them until the next sort
    EXPECT_EQ(ports, expected);
}

TEST_F(BoundedEventStore, AFilterKeepsItsMatchesAndGoesOnWithNewEvents)
{
    CEventStore store;
    store.SetLimit(100);
    AddAndTrim(store, 60);
    events::FilterCriteria criteria;
    criteria.descriptions = {9}; // every third event
    store.ApplyFilter(criteria);
    store.SetFollow(true);
    AddAndTrim(store, 500);
    const int count = store.GetEventCount();
    int matching = 0;
    for (int i = 0; i < count; ++i)
        matching += store.GetEvent(i)->description == 9 ? 1 : 0;
    ASSERT_TRUE(WaitFor([&] { return store.GetFilteredCount() == matching; }, 10s))
        << store.GetFilteredCount() << " of " << matching;
    const std::vector<std::int32_t> filtered = store.FilteredIndexes();
    EXPECT_TRUE(std::is_sorted(filtered.begin(), filtered.end()));
    EXPECT_EQ(std::set<std::int32_t>(filtered.begin(), filtered.end()).size(), filtered.size());
    for (int row = 0; row < store.ShownRowCount(); ++row)
        EXPECT_EQ(store.ShownEventAtRow(row)->description, 9) << row;
    store.SetFollow(false);
    store.ClearFilter();
}

} // namespace
} // namespace eventstest
