// The event filter against an in-memory store: which events pass which
// criteria, how often the pane hears about progress, and how a following
// filter keeps up with events that arrive later.

#include "events/EventFilter.h"
#include "events/support/EventTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace eventstest {
namespace {

using namespace std::chrono_literals;
using events::EventFilter;
using events::FilterCriteria;

// Applies the criteria to the store and waits for the (non-following) task to end.
std::vector<int> FilterOnce(CFakeStore& store, const FilterCriteria& criteria)
{
    store.ResetFiltered();
    EventFilter filter(&store);
    filter.Apply(criteria, nullptr);
    EXPECT_TRUE(WaitFor([&] { return !filter.IsRunning(); }, 10s));
    std::vector<int> result = store.Filtered();
    filter.Stop();
    return result;
}

channel::SchemeGroup GroupWith(std::vector<channel::PortPair> tcpPairs)
{
    channel::SchemeGroup group;
    group.senderName = L"A";
    group.receiverName = L"B";
    group.tcpPairs = std::move(tcpPairs);
    return group;
}

TEST(EventFilterCriteria, AllListsEmptyLetsEveryEventThrough)
{
    CFakeStore store;
    for (int i = 0; i < 12; ++i)
        store.Add(MakeTestEvent({.status = i % 4, .code = i, .protocol = i % 5}));
    std::vector<int> filtered = FilterOnce(store, FilterCriteria{});
    ASSERT_EQ(filtered.size(), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(filtered[static_cast<std::size_t>(i)], i);
}

TEST(EventFilterCriteria, StatusWarningAloneShowsWarningsOnly)
{
    CFakeStore store;
    store.Add(MakeTestEvent({.status = 0, .code = 6}));
    store.Add(MakeTestEvent({.status = 3, .code = 7}));
    store.Add(MakeTestEvent({.status = 2, .code = 14}));
    store.Add(MakeTestEvent({.status = 3, .code = 9}));
    FilterCriteria criteria;
    criteria.statuses = {3};
    EXPECT_EQ(FilterOnce(store, criteria), (std::vector<int>{1, 3}));
}

TEST(EventFilterCriteria, EveryNonEmptyListMustPass)
{
    CFakeStore store;
    store.Add(
        MakeTestEvent({.code = 10, .protocol = 1, .sender = "10.0.0.1", .receiver = "10.0.0.9"}));
    store.Add(
        MakeTestEvent({.code = 10, .protocol = 2, .sender = "10.0.0.1", .receiver = "10.0.0.9"}));
    store.Add(
        MakeTestEvent({.code = 11, .protocol = 1, .sender = "10.0.0.1", .receiver = "10.0.0.9"}));
    store.Add(
        MakeTestEvent({.code = 10, .protocol = 1, .sender = "10.0.0.10", .receiver = "10.0.0.9"}));
    store.Add(MakeTestEvent({.code = 10, .protocol = 1, .sender = "10.0.0.1", .receiver = ""}));
    FilterCriteria criteria;
    criteria.descriptions = {10};
    criteria.protocols = {1};
    criteria.senders = {"10.0.0.1"};
    criteria.receivers = {"10.0.0.9"};
    EXPECT_EQ(FilterOnce(store, criteria), (std::vector<int>{0}));

    // The empty text names "no receiver".
    criteria.receivers = {""};
    EXPECT_EQ(FilterOnce(store, criteria), (std::vector<int>{4}));
}

TEST(EventFilterPortGroups, EqualPortsCountOnceAndZeroNeverMatches)
{
    CFakeStore store;
    store.Add(MakeTestEvent({.senderPort = 5000, .receiverPort = 5000})); // 0
    store.Add(MakeTestEvent({.senderPort = 5001, .receiverPort = 0}));    // 1
    FilterCriteria criteria;
    criteria.portGroups = {GroupWith({{5000, 0}})};
    EXPECT_EQ(FilterOnce(store, criteria), (std::vector<int>{0}));
    criteria.portGroups = {GroupWith({{4000, 5000}})};
    EXPECT_EQ(FilterOnce(store, criteria), (std::vector<int>{0}));
    // Pairs without 5000, and a pair of zeros, match neither event (the missing
    // receiver port of event 1 is no port 0 to match).
    criteria.portGroups = {GroupWith({{5002, 5003}, {0, 0}})};
    EXPECT_TRUE(FilterOnce(store, criteria).empty());
}

TEST(EventFilterPortGroups, ClientPortOnlyPairMatchesEitherEnd)
{
    CFakeStore store;
    store.Add(MakeTestEvent({.senderPort = 7000, .receiverPort = 1234}));
    store.Add(MakeTestEvent({.senderPort = 1234, .receiverPort = 7000}));
    store.Add(MakeTestEvent({.senderPort = 7001, .receiverPort = 1234}));
    FilterCriteria criteria;
    criteria.portGroups = {GroupWith({{0, 7000}})};
    EXPECT_EQ(FilterOnce(store, criteria), (std::vector<int>{0, 1}));
}

TEST(EventFilterPortGroups, PairsOfTheEventsProtocolOnly)
{
    CFakeStore store;
    store.Add(MakeTestEvent({.protocol = 1, .senderPort = 6000}));
    store.Add(MakeTestEvent({.protocol = 2, .senderPort = 6000}));
    store.Add(MakeTestEvent({.protocol = 3, .senderPort = 6000}));
    store.Add(MakeTestEvent({.protocol = 0, .senderPort = 6000}));
    store.Add(MakeTestEvent({.protocol = 4, .senderPort = 6000}));
    channel::SchemeGroup group;
    group.udpPairs = {{6000, 6001}};
    group.ipPairs = {{6000, 0}};
    FilterCriteria criteria;
    criteria.portGroups = {group};
    // No TCP pair with 6000; protocol 0 and 4 have no pair list at all.
    EXPECT_EQ(FilterOnce(store, criteria), (std::vector<int>{1, 2}));
    group.tcpPairs = {{6000, 0}};
    criteria.portGroups = {GroupWith({}), group};
    EXPECT_EQ(FilterOnce(store, criteria), (std::vector<int>{0, 1, 2}));
}

TEST(EventFilterState, InactiveFilterAndMissingCriteriaMatchNothing)
{
    CFakeStore store;
    EventFilter filter(&store);
    const events::Event event = MakeTestEvent({});
    EXPECT_FALSE(filter.Matches(event)) << "never applied";
    EXPECT_FALSE(filter.Criteria().has_value());
    filter.Apply(FilterCriteria{}, nullptr);
    EXPECT_TRUE(filter.Matches(event));
    FilterCriteria applied;
    applied.statuses = {2};
    filter.Apply(applied, nullptr);
    ASSERT_TRUE(filter.Criteria().has_value());
    EXPECT_EQ(*filter.Criteria(), applied);
    filter.Stop();
    EXPECT_FALSE(filter.IsActive());
    EXPECT_FALSE(filter.Matches(event));
    EXPECT_FALSE(filter.Criteria().has_value()) << "criteria are dropped by the stop";
}

TEST(EventFilterProgress, BatchSizeFollowsTheStoreSize)
{
    EXPECT_EQ(EventFilter::BatchSize(0), 1);
    EXPECT_EQ(EventFilter::BatchSize(200), 1);
    EXPECT_EQ(EventFilter::BatchSize(201), 2);
    EXPECT_EQ(EventFilter::BatchSize(5000), 50);
    EXPECT_EQ(EventFilter::BatchSize(19999), 199);
    EXPECT_EQ(EventFilter::BatchSize(20000), 1000);
    EXPECT_EQ(EventFilter::BatchSize(1000000), 1000);
}

// Posts seen by the pane when every one of n events matches: one per batch,
// carrying the running count, then the final one with the full count.
void ExpectProgress(int n, int batch)
{
    SCOPED_TRACE(std::to_string(n) + " events");
    CFakeStore store;
    for (int i = 0; i < n; ++i)
        store.Add(MakeTestEvent({.code = i % 15}));
    EventFilter filter(&store);
    filter.Apply(FilterCriteria{}, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !filter.IsRunning(); }, 60s));
    std::vector<int> posts = store.Posts();
    ASSERT_EQ(posts.size(), static_cast<std::size_t>(n / batch + 2))
        << "the 0 of apply, one per batch, the final one";
    EXPECT_EQ(posts.front(), 0);
    for (int i = 1; i <= n / batch; ++i)
        EXPECT_EQ(posts[static_cast<std::size_t>(i)], i * batch);
    EXPECT_EQ(posts.back(), n);
    filter.Stop();
}

TEST(EventFilterProgress, OneMessagePerBatchAndAFinalOne)
{
    ExpectProgress(150, 1);
    ExpectProgress(5000, 50);
    ExpectProgress(50000, 1000);
}

TEST(EventFilterFollow, EventsArrivingAfterTheTaskCaughtUpAreFiltered)
{
    CFakeStore store;
    for (int i = 0; i < 5; ++i)
        store.Add(MakeTestEvent({.status = i % 2 == 0 ? 3 : 0}));
    EventFilter filter(&store);
    filter.SetFollow(true);
    FilterCriteria criteria;
    criteria.statuses = {3};
    filter.Apply(criteria, nullptr);
    ASSERT_TRUE(WaitFor([&] { return store.Filtered().size() == 3; }, 10s));
    // Caught up: the task waits for more, it does not end.
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(filter.IsRunning());

    for (int i = 5; i < 12; ++i) {
        store.Add(MakeTestEvent({.status = i % 2 == 0 ? 3 : 0}));
        std::this_thread::sleep_for(3ms);
    }
    ASSERT_TRUE(WaitFor([&] { return store.Filtered().size() == 6; }, 10s));
    EXPECT_EQ(store.Filtered(), (std::vector<int>{0, 2, 4, 6, 8, 10}));

    filter.SetFollow(false);
    ASSERT_TRUE(WaitFor([&] { return !filter.IsRunning(); }, 10s));
    EXPECT_EQ(store.Posts().back(), 6) << "the last message carries the full filtered count";
    filter.Stop();
}

TEST(EventFilterFollow, StartGoesOnFromWhereTheLastTaskEnded)
{
    CFakeStore store;
    for (int i = 0; i < 4; ++i)
        store.Add(MakeTestEvent({}));
    EventFilter filter(&store);
    filter.Apply(FilterCriteria{}, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !filter.IsRunning(); }, 10s));
    for (int i = 0; i < 3; ++i)
        store.Add(MakeTestEvent({}));
    filter.Start();
    ASSERT_TRUE(WaitFor([&] { return !filter.IsRunning(); }, 10s));
    EXPECT_EQ(store.Filtered(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6})) << "nothing listed twice";
    filter.Stop();
}

TEST(EventFilterFollow, StopEndsAFollowingTaskAndPauseHoldsOffStart)
{
    CFakeStore store;
    store.Add(MakeTestEvent({}));
    EventFilter filter(&store);
    filter.SetFollow(true);
    filter.Apply(FilterCriteria{}, nullptr);
    ASSERT_TRUE(WaitFor([&] { return store.Filtered().size() == 1; }, 10s));

    EXPECT_TRUE(filter.Pause()) << "paused, still active";
    EXPECT_FALSE(filter.IsRunning());
    store.Add(MakeTestEvent({}));
    filter.Start();
    EXPECT_FALSE(filter.IsRunning()) << "no start during a pause";
    filter.Resume(1);
    ASSERT_TRUE(WaitFor([&] { return store.Filtered().size() == 2; }, 10s));

    filter.Stop();
    EXPECT_FALSE(filter.IsRunning());
    store.Add(MakeTestEvent({}));
    filter.Start();
    EXPECT_FALSE(filter.IsRunning()) << "an inactive filter does not start";
}

} // namespace
} // namespace eventstest
