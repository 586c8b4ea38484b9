// The client check over real servers and clients on loopback: peers taken in
// turn, a peer ended early once every port has finished, a stop that ends the
// wait at once, and the finished-rows rule.

#include "channel/EventCodes.h"
#include "core/support/LogicTestSupport.h"
#include "events/EventText.h"
#include "support/NetNamespaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <thread>

namespace coretest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ClientCheck : public ::testing::Test
{
protected:
    void SetUp() override { EnsureApplication(); }

    // The logic with the scheme and options of this test, servers listening.
    void Prepare(CLogicHarness& harness, const std::string& scheme, int maxSendCount,
                 bool startServers = true)
    {
        WriteOptionsFile(folder.File("options.xml"), 200, 1, 10, maxSendCount);
        harness.Logic().Init(nullptr, scheme, folder.File("options.xml"));
        if (startServers) {
            ASSERT_EQ(harness.Logic().StartServers(0), 0);
        }
    }

    testsupport::TempFolder folder{"kanaliko-core"};
};

// The last row the check saw for a (protocol, server port) of a peer.
const channel::ClientRow* LastRow(const std::vector<channel::ClientRow>& rows,
                                  const std::string& peer, int protocol, std::uint16_t port)
{
    const channel::ClientRow* last = nullptr;
    for (const auto& row : rows) {
        if (peer == row.peer.text && static_cast<int>(row.protocol) == protocol && row.port == port)
            last = &row;
    }
    return last;
}

// Every channel of the scheme ended its cycle for the peer with at least one reply.
void ExpectEveryChannelAnswered(const std::vector<channel::ClientRow>& rows,
                                const RelocatedScheme& scheme, const std::string& peer,
                                int attempts)
{
    for (const channel::SchemeGroup& group : scheme.groups) {
        for (channel::SchemeProtocol protocol : channel::AllSchemeProtocols) {
            for (const channel::PortPair& pair : group.Pairs(protocol)) {
                SCOPED_TRACE(peer + " protocol " + std::to_string(static_cast<int>(protocol)) +
                             " port " + std::to_string(pair.serverPort));
                const channel::ClientRow* row =
                    LastRow(rows, peer, static_cast<int>(protocol), pair.serverPort);
                ASSERT_NE(row, nullptr);
                EXPECT_TRUE(row->finished);
                EXPECT_EQ(row->attempts, attempts);
                EXPECT_GE(row->replies, 1);
            }
        }
    }
}

TEST(ClientCheckWait, PeerTimeFromTheTcpAndIpListsOnly)
{
    channel::ProbeOptions options; // 200 ms, 1 s, 10 bytes, 5 attempts
    EXPECT_EQ(core::CClientCheck::PeerWaitMs(options, 3, 2), (3u * 200 * 3 + 1000) * 5);
    EXPECT_EQ(core::CClientCheck::PeerWaitMs(options, 1, 10), (200u * 10 + 1000) * 5)
        << "IP ports outweigh";
    EXPECT_EQ(core::CClientCheck::PeerWaitMs(options, 0, 0), 1000u * 5);
    options.timeOut = 30000;
    options.maxSendCount = 10000;
    const std::uint32_t wrapped = (3u * 30000u * 50000u + 1000u) * 10000u;
    EXPECT_EQ(core::CClientCheck::PeerWaitMs(options, 50000, 0), wrapped)
        << "unsigned 32-bit arithmetic";
}

TEST(ClientCheckWait, UdpPairsAloneGetADelayAndATimeOutPerAttempt)
{
    // The bound used to end a scheme of UDP pairs alone before the replies to
    // its last probes were counted: 5 s for probes whose cycle ends at 4.2 s at
    // the earliest, and less than the last probe's pause when TimeOut is long.
    channel::ProbeOptions options; // 200 ms, 1 s, 10 bytes, 5 attempts
    EXPECT_EQ(core::CClientCheck::PeerWaitMs(options, 0, 0, 500), (200u + 1000) * 5);
    EXPECT_EQ(core::CClientCheck::PeerWaitMs(options, 3, 2, 500), (3u * 200 * 3 + 1000) * 5)
        << "with TCP or IP ports the formula suffices and stays";
    EXPECT_EQ(core::CClientCheck::PeerWaitMs(options, 0, 1, 500), (200u + 1000) * 5);
    options.timeOut = 5000;
    options.maxSendCount = 1;
    EXPECT_EQ(core::CClientCheck::PeerWaitMs(options, 0, 0, 1), 5000u + 1000)
        << "the pause after the last probe fits";
    EXPECT_EQ(core::CClientCheck::PeerWaitMs(options, 0, 0, 0), 1000u) << "no UDP pairs";
}

TEST_F(ClientCheck, ExampleSchemeEveryPortFinishesAndThePeerEndsEarly)
{
    CLogicHarness harness;
    const RelocatedScheme scheme = WriteRelocatedExample(folder.File("scheme.xml"), false);
    Prepare(harness, folder.File("scheme.xml"), 2);
    CRecordingObserver observer;
    core::CClientCheck check(harness.Logic(), &observer);
    harness.SetCheck(&check);

    ASSERT_TRUE(check.Start({"127.0.0.1"}));
    EXPECT_TRUE(check.IsRunning());
    EXPECT_FALSE(check.Start({"127.0.0.1"})) << "one check at a time";
    EXPECT_EQ(check.PeerWaitMs(), (3u * 200 * 3 + 1000) * 2) << "three TCP ports of the example";
    ASSERT_TRUE(harness.RunUntil([&] { return observer.CheckFinished(); }, 30s));

    const auto steps = observer.Steps();
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].what, "started");
    EXPECT_EQ(steps[0].peer, "127.0.0.1");
    EXPECT_EQ(steps[1].what, "finished");
    EXPECT_TRUE(steps[1].allPortsFinished);
    EXPECT_LT(steps[1].at - steps[0].at, std::chrono::milliseconds(check.PeerWaitMs()))
        << "moved on before the full wait";
    EXPECT_FALSE(check.IsRunning());
    EXPECT_FALSE(harness.Logic().Events().Filter().IsFollowing());
    EXPECT_EQ(harness.Logic().ClientCount(channel::PROTOCOL_TCP), 0u);
    EXPECT_EQ(harness.Logic().ClientCount(channel::PROTOCOL_UDP), 0u);
    EXPECT_EQ(harness.Logic().ClientCount(channel::PROTOCOL_IP), 0u);
    ExpectEveryChannelAnswered(harness.TakenRows(), scheme, "127.0.0.1", 2);
}

TEST_F(ClientCheck, ExampleSchemeWithItsIpChannels)
{
    KANALIKO_SKIP_UNLESS_RAW();
    CLogicHarness harness;
    const RelocatedScheme scheme = WriteRelocatedExample(folder.File("scheme.xml"), true);
    Prepare(harness, folder.File("scheme.xml"), 2);
    CRecordingObserver observer;
    core::CClientCheck check(harness.Logic(), &observer);
    harness.SetCheck(&check);
    ASSERT_TRUE(check.Start({"127.0.0.1"}));
    ASSERT_TRUE(harness.RunUntil([&] { return observer.CheckFinished(); }, 30s));
    const auto steps = observer.Steps();
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_TRUE(steps[1].allPortsFinished);
    EXPECT_LT(steps[1].at - steps[0].at, std::chrono::milliseconds(check.PeerWaitMs()));
    ExpectEveryChannelAnswered(harness.TakenRows(), scheme, "127.0.0.1", 2);
}

TEST_F(ClientCheck, PeersAreCheckedInTurn)
{
    CLogicHarness harness;
    const RelocatedScheme scheme = WriteRelocatedExample(folder.File("scheme.xml"), false);
    Prepare(harness, folder.File("scheme.xml"), 2);
    CRecordingObserver observer;
    core::CClientCheck check(harness.Logic(), &observer);
    harness.SetCheck(&check);
    ASSERT_TRUE(check.Start({"127.0.0.1", "127.0.0.2"}));
    ASSERT_TRUE(harness.RunUntil([&] { return observer.CheckFinished(); }, 60s));

    std::vector<std::string> steps;
    for (const auto& step : observer.Steps())
        steps.push_back(step.what + " " + step.peer + (step.allPortsFinished ? " all" : ""));
    EXPECT_EQ(steps, (std::vector<std::string>{"started 127.0.0.1", "finished 127.0.0.1 all",
                                               "started 127.0.0.2", "finished 127.0.0.2 all",
                                               "check finished "}));
    ExpectEveryChannelAnswered(harness.TakenRows(), scheme, "127.0.0.1", 2);
    ExpectEveryChannelAnswered(harness.TakenRows(), scheme, "127.0.0.2", 2);
    if (HasFailure()) { // the UDP traffic, to tell a lost echo from a busy port
        for (int i = 0; i < harness.Logic().GetEventCount(); ++i) {
            auto e = *harness.Logic().GetEvent(i);
            if (e.protocol == 2)
                printf("%s %d %s:%u -> %s:%u err %u\n", events::TimeText(e.time).c_str(),
                       e.description, e.senderText, e.senderPort, e.receiverText, e.receiverPort,
                       e.detail);
        }
    }
}

// Events come from the clients' pool tasks and the servers while the GUI
// thread sorts, filters, reads rows and exports (the race check under TSan).
TEST_F(ClientCheck, EventViewsWorkWhileACheckReports)
{
    CLogicHarness harness;
    WriteRelocatedExample(folder.File("scheme.xml"), false);
    Prepare(harness, folder.File("scheme.xml"), 3);
    core::CAppLogic& logic = harness.Logic();
    CRecordingObserver observer;
    core::CClientCheck check(logic, &observer);
    harness.SetCheck(&check);
    ASSERT_TRUE(check.Start({"127.0.0.1"}));

    events::FilterCriteria received;
    received.descriptions = {channel::EC_RECEIVED};
    int round = 0;
    while (!observer.CheckFinished() && round < 100000) {
        switch (round++ % 5) {
        case 0: logic.SortEvents(events::COL_SENDER_PORT, true, false); break;
        case 1: logic.ApplyFilter(received); break;
        case 2: logic.SortEvents(events::COL_TIME, false, true); break;
        case 3: logic.ClearFilter(); break;
        default: {
            std::ostringstream csv;
            logic.ExportCsv(csv);
            break;
        }
        }
        const int rows = logic.ShownRowCount();
        for (int row = 0; row < rows; row += 7) {
            if (auto e = logic.ShownEventAtRow(row))
                logic.RowOfEventId(e->sequence);
        }
        harness.RunUntil([] { return false; }, 5ms);
    }
    ASSERT_TRUE(observer.CheckFinished());
    // Every event is shown exactly once by the sorted, unfiltered view.
    logic.ClearFilter();
    logic.SortEvents(events::COL_SENDER, true, false);
    std::vector<int> order = logic.Events().DisplayOrder();
    std::sort(order.begin(), order.end());
    ASSERT_EQ(order.size(), static_cast<std::size_t>(logic.GetEventCount()));
    for (std::size_t i = 0; i < order.size(); ++i)
        ASSERT_EQ(order[i], static_cast<int>(i));
}

TEST_F(ClientCheck, StopDuringTheWaitEndsItAtOnce)
{
    CLogicHarness harness;
    // Nobody listens: every port keeps retrying for 100 attempts.
    channel::SchemeGroup group;
    group.tcpPairs = {{FreePort(SOCK_STREAM), 0}};
    group.udpPairs = {{FreePort(SOCK_DGRAM), FreePort(SOCK_DGRAM)}};
    WriteScheme(folder.File("scheme.xml"), {group});
    Prepare(harness, folder.File("scheme.xml"), 100, false);
    CRecordingObserver observer;
    core::CClientCheck check(harness.Logic(), &observer);
    harness.SetCheck(&check);
    ASSERT_TRUE(check.Start({"127.0.0.1", "127.0.0.2"}));
    ASSERT_GE(check.PeerWaitMs(), 100000u);
    ASSERT_TRUE(harness.RunUntil([&] { return harness.TakenRows().size() >= 4; }, 10s));
    EXPECT_EQ(check.CurrentPeer(), "127.0.0.1");

    const auto stopAt = Clock::now();
    check.Stop();
    EXPECT_FALSE(check.IsRunning());
    ASSERT_TRUE(harness.RunUntil([&] { return observer.CheckFinished(); }, 20s));
    const auto steps = observer.Steps();
    ASSERT_EQ(steps.size(), 3u) << "the second peer is never started";
    EXPECT_EQ(steps[1].what, "finished");
    EXPECT_FALSE(steps[1].allPortsFinished);
    EXPECT_LT(steps[2].at - stopAt, 8s)
        << "the wait ends at once; only the clients' own ends take time";
    EXPECT_TRUE(check.WaitForEnd(5000));
    EXPECT_EQ(harness.Logic().ClientCount(channel::PROTOCOL_TCP), 0u);
    EXPECT_EQ(harness.Logic().ClientCount(channel::PROTOCOL_UDP), 0u);
}

// The finished rule counts ports, not rows. A port listed in two groups used to
// need a finished row per listing, and a UDP cycle (which reports finished twice:
// at the last reply and after the pause behind it) could stand in for a second
// listing that had not finished at all.
TEST_F(ClientCheck, EveryPortNeedsAFinishedRowAndAPortListedTwiceCountsOnce)
{
    CLogicHarness harness;
    const std::uint16_t tcp = FreePort(SOCK_STREAM);
    const std::uint16_t tcpClient = FreePort(SOCK_STREAM);
    const std::uint16_t udpServer = FreePort(SOCK_DGRAM);
    const std::uint16_t udpClient = FreePort(SOCK_DGRAM);
    channel::SchemeGroup a;
    a.tcpPairs = {{tcp, tcpClient}};
    a.udpPairs = {{udpServer, udpClient}};
    channel::SchemeGroup b;
    b.tcpPairs = {{tcp, 0}};
    WriteScheme(folder.File("scheme.xml"), {a, b});
    Prepare(harness, folder.File("scheme.xml"), 100, false);
    CRecordingObserver observer;
    core::CClientCheck check(harness.Logic(), &observer);
    ASSERT_TRUE(check.Start({"127.0.0.1"}));
    // The peer is current before the observer hears that it started: wait for both.
    ASSERT_TRUE(harness.RunUntil(
        [&] { return check.CurrentPeer() == "127.0.0.1" && observer.Steps().size() == 1; }, 10s));

    channel::ClientRow row;
    channel::ParseAddress(row.peer, "127.0.0.1");
    row.finished = true;
    row.sequence = harness.Logic().NextClientRowSequence() + 1000;
    auto with = [&row](std::uint32_t protocol, std::uint16_t port, bool finished = true) {
        channel::ClientRow r = row;
        r.protocol = protocol;
        r.port = port;
        r.finished = finished;
        return r;
    };
    EXPECT_FALSE(check.OnClientRow(with(1, tcp, false))) << "not finished";
    EXPECT_FALSE(check.OnClientRow(with(2, udpServer, false)));
    channel::ClientRow other = with(2, udpServer);
    channel::ParseAddress(other.peer, "127.0.0.9");
    EXPECT_FALSE(check.OnClientRow(other)) << "another peer";
    channel::ClientRow old = with(2, udpServer);
    old.sequence -= 200000;
    EXPECT_FALSE(check.OnClientRow(old)) << "a row of an earlier turn";
    EXPECT_FALSE(check.OnClientRow(with(1, tcpClient)))
        << "the TCP client port is probed, but is no port row";
    EXPECT_FALSE(check.OnClientRow(with(2, udpClient))) << "UDP rows match by the server port";
    EXPECT_FALSE(check.OnClientRow(with(1, tcp)));
    EXPECT_FALSE(check.OnClientRow(with(1, tcp))) << "the same port again is no other port";
    EXPECT_EQ(observer.Steps().size(), 1u) << "still waiting";
    EXPECT_TRUE(check.OnClientRow(with(2, udpServer)))
        << "the last port completes the peer, although the TCP port stands twice";
    EXPECT_FALSE(check.OnClientRow(with(2, udpServer))) << "ClientStop is set once per turn";
    ASSERT_TRUE(harness.RunUntil([&] { return observer.CheckFinished(); }, 20s));
    EXPECT_TRUE(observer.Steps()[1].allPortsFinished);
    EXPECT_FALSE(check.OnClientRow(with(1, tcp))) << "no check waits any more";
}

TEST_F(ClientCheck, DestroyingARunningCheckEndsItsLoopFirst)
{
    CLogicHarness harness;
    channel::SchemeGroup group;
    group.tcpPairs = {{FreePort(SOCK_STREAM), 0}};
    WriteScheme(folder.File("scheme.xml"), {group});
    Prepare(harness, folder.File("scheme.xml"), 100, false);
    CRecordingObserver observer;
    {
        core::CClientCheck check(harness.Logic(), &observer);
        ASSERT_TRUE(check.Start({"127.0.0.1"}));
        ASSERT_TRUE(harness.RunUntil(
            [&] { return harness.Logic().ClientCount(channel::PROTOCOL_TCP) == 1; }, 10s));
    }
    EXPECT_TRUE(observer.CheckFinished()) << "the destructor waited for the loop";
    EXPECT_EQ(harness.Logic().ClientCount(channel::PROTOCOL_TCP), 0u);
}

} // namespace
} // namespace coretest
