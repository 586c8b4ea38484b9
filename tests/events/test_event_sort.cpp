// Sorting the event log: the key list of the sort state, the order of each
// column, and the store's display order through sorts and column toggles.

#include "channel/EventCodes.h"
#include "events/CEventSort.h"
#include "events/CEventStore.h"
#include "events/support/EventTestSupport.h"

#include <gtest/gtest.h>

#include <QString>

#include <algorithm>
#include <arpa/inet.h>
#include <random>

namespace eventstest {
namespace {

using events::CEventSort;
using events::CEventStore;
using events::Event;
using events::SortKey;

std::vector<std::string> SendersByRow(const CEventStore& store)
{
    std::vector<std::string> out;
    for (int row = 0; row < store.ShownRowCount(); ++row)
        out.push_back(store.ShownEventAtRow(row)->senderText);
    return out;
}

std::vector<std::uint32_t> SequencesByRow(const CEventStore& store)
{
    std::vector<std::uint32_t> out;
    for (int row = 0; row < store.ShownRowCount(); ++row)
        out.push_back(store.ShownEventAtRow(row)->sequence);
    return out;
}

class EventStoreSort : public ::testing::Test
{
protected:
    void SetUp() override { EnsureApplication(); }
};

TEST(EventSortKeys, HeaderClicksBuildTheKeyList)
{
    CEventSort sort;
    EXPECT_EQ(sort.Keys(), (std::vector<SortKey>{{events::COL_SEQUENCE, true}}));
    EXPECT_FALSE(sort.IsSorting());

    sort.SetKey(events::COL_SENDER, true, false);
    sort.SetKey(events::COL_TIME, false, true);
    EXPECT_EQ(sort.Keys(), (std::vector<SortKey>{{events::COL_SENDER, true},
                                                 {events::COL_TIME, false},
                                                 {events::COL_SEQUENCE, true}}));
    // A column already there keeps its place and changes its direction.
    sort.SetKey(events::COL_SENDER, false, true);
    EXPECT_EQ(sort.Keys().front(), (SortKey{events::COL_SENDER, false}));
    EXPECT_EQ(sort.KeyCount(), 3);
    // Without the multiple flag the list starts again.
    sort.SetKey(events::COL_PROTOCOL, true, false);
    EXPECT_EQ(sort.Keys(),
              (std::vector<SortKey>{{events::COL_PROTOCOL, true}, {events::COL_SEQUENCE, true}}));

    EXPECT_FALSE(sort.RemoveColumn(events::COL_SEQUENCE)) << "the closing key stays";
    EXPECT_FALSE(sort.RemoveColumn(events::COL_TIME));
    EXPECT_TRUE(sort.RemoveColumn(events::COL_PROTOCOL));
    EXPECT_FALSE(sort.IsSorting());
}

TEST(EventSortOrder, SenderAsStoredNetworkOrderNumber)
{
    CEventSort sort;
    sort.SetKey(events::COL_SENDER, true, false);
    Event a = MakeTestEvent({.sender = "1.0.0.2"});
    Event b = MakeTestEvent({.sender = "2.0.0.1"});
    EXPECT_TRUE(sort.Less(b, a)) << "2.0.0.1 is stored as the smaller number";
    Event c = MakeTestEvent({.sender = "2.0.0.1"});
    b.sequence = 10;
    c.sequence = 11;
    EXPECT_TRUE(sort.Less(b, c)) << "equal senders fall back to the sequence number";
    EXPECT_EQ(sort.Compare(b, b), 0);
    sort.SetKey(events::COL_SENDER, false, false);
    EXPECT_TRUE(sort.Less(a, b));
    EXPECT_TRUE(sort.Less(b, c)) << "the closing key is always ascending";
}

TEST(EventSortOrder, DescriptionByTheOrderOfItsText)
{
    std::vector<Event> list;
    for (int code = 14; code >= 0; --code) {
        Event e = MakeTestEvent({.code = code});
        e.sequence = static_cast<std::uint32_t>(100 - code);
        list.push_back(e);
    }
    CEventSort sort;
    sort.SetKey(events::COL_DESCRIPTION, true, false);
    std::sort(list.begin(), list.end(),
              [&](const Event& x, const Event& y) { return sort.Less(x, y); });
    EXPECT_EQ(list.front().description, 0) << "the empty text first";
    // The texts come in the order of their UTF-16 code units, the way QString
    // compares them.
    for (std::size_t i = 1; i < list.size(); ++i) {
        QString before = QString::fromStdWString(channel::EventCodeText(list[i - 1].description));
        QString after = QString::fromStdWString(channel::EventCodeText(list[i].description));
        EXPECT_LE(QString::compare(before, after, Qt::CaseSensitive), 0) << i;
    }
    // Codes 6 and 13 share a text: side by side, in sequence order.
    auto first = std::find_if(list.begin(), list.end(), [](const Event& e) {
        return e.description == 6 || e.description == 13;
    });
    ASSERT_NE(first + 1, list.end());
    EXPECT_EQ(first->description + (first + 1)->description, 6 + 13);
    EXPECT_LT(first->sequence, (first + 1)->sequence);
    EXPECT_EQ(CEventSort::DescriptionRank(6), CEventSort::DescriptionRank(13));
}

TEST(EventSortOrder, ProtocolIpTcpUdpThenOthers)
{
    EXPECT_LT(CEventSort::ProtocolRank(3), CEventSort::ProtocolRank(1));
    EXPECT_LT(CEventSort::ProtocolRank(1), CEventSort::ProtocolRank(2));
    EXPECT_LT(CEventSort::ProtocolRank(2), CEventSort::ProtocolRank(0));
    EXPECT_EQ(CEventSort::ProtocolRank(0), CEventSort::ProtocolRank(7));
}

TEST(EventSortOrder, PortsDetailAndTimeAreUnsigned)
{
    CEventSort sort;
    Event low = MakeTestEvent({.senderPort = 1, .receiverPort = 40000, .detail = 5});
    Event high = MakeTestEvent({.senderPort = 65535, .receiverPort = 2, .detail = 0x80000000u});
    low.time = 10;
    high.time = 20;
    sort.SetKey(events::COL_SENDER_PORT, true, false);
    EXPECT_TRUE(sort.Less(low, high));
    sort.SetKey(events::COL_RECEIVER_PORT, true, false);
    EXPECT_TRUE(sort.Less(high, low));
    sort.SetKey(events::COL_DETAIL, true, false);
    EXPECT_TRUE(sort.Less(low, high));
    sort.SetKey(events::COL_TIME, false, false);
    EXPECT_TRUE(sort.Less(high, low));
}

TEST_F(EventStoreSort, MultiKeySortOfTheDisplayOrder)
{
    CEventStore store;
    // protocol, sender
    const std::vector<std::pair<int, std::string>> specs = {
        {1, "10.0.0.1"}, {3, "10.0.0.2"}, {2, "10.0.0.1"},
        {1, "10.0.0.3"}, {3, "10.0.0.1"}, {1, "10.0.0.1"},
    };
    for (const auto& [protocol, sender] : specs)
        store.Add(MakeTestEvent({.protocol = protocol, .sender = sender}));
    store.SortEvents(events::COL_PROTOCOL, true, false);
    store.SortEvents(events::COL_SENDER, false, true);
    std::vector<std::string> rows;
    for (int row = 0; row < store.ShownRowCount(); ++row) {
        auto e = store.EventAtRow(row);
        rows.push_back(std::string(events::ProtocolText(e->protocol)) + " " + e->senderText);
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"IP 10.0.0.2", "IP 10.0.0.1", "TCP 10.0.0.3",
                                              "TCP 10.0.0.1", "TCP 10.0.0.1", "UDP 10.0.0.1"}));
    // The two equal TCP rows are in event order.
    auto third = store.EventAtRow(3);
    auto fourth = store.EventAtRow(4);
    EXPECT_LT(third->sequence, fourth->sequence);
}

TEST_F(EventStoreSort, NewEventsJoinTheEndOfASortedView)
{
    CEventStore store;
    store.Add(MakeTestEvent({.sender = "1.0.0.2"}));
    store.Add(MakeTestEvent({.sender = "2.0.0.1"}));
    store.SortEvents(events::COL_SENDER, true, false);
    EXPECT_EQ(SendersByRow(store), (std::vector<std::string>{"2.0.0.1", "1.0.0.2"}));
    store.Add(MakeTestEvent({.sender = "3.0.0.0"}));
    EXPECT_EQ(store.DisplayOrder().size(), 3u);
    EXPECT_EQ(SendersByRow(store), (std::vector<std::string>{"2.0.0.1", "1.0.0.2", "3.0.0.0"}));
    store.SortEvents(events::COL_SENDER, true, false);
    EXPECT_EQ(SendersByRow(store), (std::vector<std::string>{"3.0.0.0", "2.0.0.1", "1.0.0.2"}));
}

TEST_F(EventStoreSort, ToggleSortColumnResortsOrDropsTheOrder)
{
    CEventStore store;
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i) {
        store.Add(MakeTestEvent({.status = static_cast<int>(random() % 2) * 3,
                                 .sender = "10.0.0." + std::to_string(random() % 5)}));
    }
    store.SortEvents(events::COL_STATUS, false, false);
    store.SortEvents(events::COL_SENDER, true, true);
    ASSERT_EQ(store.SortState().KeyCount(), 3);

    // Removing the status key leaves the senders in order, sequence within.
    store.ToggleSortColumn(events::COL_STATUS);
    ASSERT_EQ(store.SortState().KeyCount(), 2);
    std::vector<Event> rows;
    for (int row = 0; row < store.ShownRowCount(); ++row)
        rows.push_back(*store.EventAtRow(row));
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const std::uint32_t a = rows[i - 1].senderAddress;
        const std::uint32_t b = rows[i].senderAddress;
        EXPECT_TRUE(a < b || (a == b && rows[i - 1].sequence < rows[i].sequence)) << i;
    }
    // A column that is not a key changes nothing.
    store.ToggleSortColumn(events::COL_DETAIL);
    EXPECT_EQ(store.DisplayOrder().size(), 40u);
    // Removing the last one drops the display order: rows in event order again.
    store.ToggleSortColumn(events::COL_SENDER);
    EXPECT_TRUE(store.DisplayOrder().empty());
    std::vector<std::uint32_t> sequences = SequencesByRow(store);
    EXPECT_TRUE(std::is_sorted(sequences.begin(), sequences.end()));
}

TEST_F(EventStoreSort, SortWithAFilterSortsTheFilteredRows)
{
    CEventStore store;
    for (int i = 0; i < 30; ++i)
        store.Add(MakeTestEvent(
            {.status = i % 3 == 0 ? 3 : 0, .sender = "10.0.0." + std::to_string(30 - i)}));
    events::FilterCriteria warnings;
    warnings.statuses = {3};
    store.ApplyFilter(warnings);
    ASSERT_TRUE(WaitFor([&] { return !store.Filter().IsRunning(); }, std::chrono::seconds(10)));
    ASSERT_EQ(store.ShownRowCount(), 10);
    store.SortEvents(events::COL_SENDER, true, false);
    std::vector<std::string> senders = SendersByRow(store);
    ASSERT_EQ(senders.size(), 10u);
    for (std::size_t i = 1; i < senders.size(); ++i) {
        EXPECT_LT(::inet_addr(senders[i - 1].c_str()), ::inet_addr(senders[i].c_str()));
        EXPECT_EQ(store.FilteredEventAtRow(static_cast<int>(i))->status, 3);
    }
    // The row of an event found again by its sequence number.
    const Event last = *store.FilteredEventAtRow(9);
    EXPECT_EQ(store.RowOfEventId(last.sequence), 9);
    store.ClearFilter();
    EXPECT_EQ(store.ShownRowCount(), 30);
    EXPECT_EQ(store.DisplayOrder().size(), 30u) << "still sorted by sender, over every event";
}

} // namespace
} // namespace eventstest
