// The application logic with real servers and clients on loopback, driven by
// the event loop: local address, event ends, server rows, client rows,
// purges, options and scheme at start-up, and stopping clients while they run.

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "core/support/LogicTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace coretest {
namespace {

using namespace std::chrono_literals;
using events::Event;

class AppLogic : public ::testing::Test
{
protected:
    void SetUp() override { EnsureApplication(); }
    testsupport::TempFolder folder{"kanaliko-core"};
};

channel::SchemeGroup Group(std::vector<channel::PortPair> tcp,
                           std::vector<channel::PortPair> udp = {},
                           std::vector<channel::PortPair> ip = {})
{
    channel::SchemeGroup group;
    group.senderName = L"Узел А";
    group.receiverName = L"Узел Б";
    group.tcpPairs = std::move(tcp);
    group.udpPairs = std::move(udp);
    group.ipPairs = std::move(ip);
    return group;
}

std::vector<Event> AllEvents(core::CAppLogic& logic)
{
    std::vector<Event> out;
    for (int i = 0; i < logic.GetEventCount(); ++i)
        out.push_back(*logic.GetEvent(i));
    return out;
}

TEST_F(AppLogic, LocalAddressIsTheFirstAdapterAddressElse127001)
{
    CFixedInterfaces two({"198.18.0.5", "198.18.0.6"});
    core::CAppLogic withAdapters(nullptr, two);
    EXPECT_STREQ(withAdapters.LocalAddress().text, "198.18.0.5");

    CFixedInterfaces none({});
    core::CAppLogic withoutAdapters(nullptr, none);
    EXPECT_STREQ(withoutAdapters.LocalAddress().text, "127.0.0.1");
    EXPECT_EQ(withoutAdapters.LocalAddress().address, ::inet_addr("127.0.0.1"));

    CFixedInterfaces unassigned({"0.0.0.0", "198.18.0.9"});
    core::CAppLogic withUnassigned(nullptr, unassigned);
    EXPECT_STREQ(withUnassigned.LocalAddress().text, "127.0.0.1")
        << "the first address counts, and it starts with 0";

    EXPECT_EQ(withAdapters.ServerAddressCount(), 1) << "one entry: the any-address";
    EXPECT_EQ(withAdapters.StartServers(1), 1);
    EXPECT_EQ(withAdapters.StartServers(-1), 1);
}

TEST_F(AppLogic, EventEndsFollowTheIncomingFlag)
{
    CFixedInterfaces local({"198.18.0.5"});
    CLogicHarness harness(&local);
    core::CAppLogic& logic = harness.Logic();

    const int opened = logic.AddEvent(0, channel::EC_PORT_OPEN, 0, 1, nullptr, 5000, 0, false);
    const int received =
        logic.AddEvent(0, channel::EC_RECEIVED, 0, 1, "10.0.0.7", 40000, 5000, true);
    const int failed =
        logic.AddEvent(3, channel::EC_CONNECT_FAILED, 10061, 1, "10.0.0.7", 5000, 5000, false);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(received, 1);
    EXPECT_EQ(failed, 2);

    const Event a = *logic.GetEvent(opened);
    EXPECT_STREQ(a.senderText, "198.18.0.5");
    EXPECT_EQ(a.senderAddress, ::inet_addr("198.18.0.5"));
    EXPECT_STREQ(a.receiverText, "") << "an outgoing event without a peer has no receiver";
    EXPECT_EQ(a.receiverAddress, 0u);
    EXPECT_EQ(a.senderPort, 5000);
    EXPECT_EQ(a.receiverPort, 0);

    const Event b = *logic.GetEvent(received);
    EXPECT_STREQ(b.senderText, "10.0.0.7");
    EXPECT_STREQ(b.receiverText, "198.18.0.5");
    EXPECT_EQ(b.senderPort, 40000) << "port 1 is the sender port whatever the direction";
    EXPECT_EQ(b.receiverPort, 5000);

    const Event c = *logic.GetEvent(failed);
    EXPECT_STREQ(c.receiverText, "10.0.0.7");
    EXPECT_EQ(c.detail, 10061u);
    EXPECT_EQ(c.status, 3);
    EXPECT_EQ(b.sequence, a.sequence + 1);
    EXPECT_EQ(c.sequence, b.sequence + 1);

    EXPECT_EQ(logic.Senders(), (std::vector<std::string>{"10.0.0.7", "198.18.0.5"}));
    EXPECT_EQ(logic.Receivers(), (std::vector<std::string>{"", "10.0.0.7", "198.18.0.5"}));
    EXPECT_TRUE(harness.RunUntil([&] { return harness.RowsNoticed() == 3; }, 5s));
}

TEST_F(AppLogic, InitWritesDefaultOptionsAndForgetsAMissingScheme)
{
    CLogicHarness harness;
    core::CAppLogic& logic = harness.Logic();
    const std::string options = folder.File("options.xml");
    logic.Init(nullptr, folder.File("missing.xml"), options);
    EXPECT_TRUE(std::filesystem::exists(options)) << "the defaults are written";
    EXPECT_EQ(logic.Settings().TimeOut(), 200);
    EXPECT_EQ(logic.Settings().TimeSendDelay(), 1);
    EXPECT_EQ(logic.Settings().SendDataSize(), 10);
    EXPECT_EQ(logic.Settings().MaxSendCount(), 5);
    EXPECT_EQ(logic.Settings().OptionsPath(), options);
    EXPECT_EQ(logic.Settings().SchemePath(), "");
    EXPECT_TRUE(logic.Settings().Groups().empty());
    EXPECT_TRUE(harness.Notifier().All().empty());

    // A damaged file: the defaults and the message box.
    testsupport::WriteBytes(options, "<Options><TimeOut>7</TimeOut>");
    logic.Init(nullptr, "", options);
    ASSERT_EQ(harness.Notifier().All().size(), 1u);
    EXPECT_EQ(harness.Notifier().All()[0].text, "Файл с настройками не найден либо повреждён.");
    EXPECT_TRUE(harness.Notifier().All()[0].isError);
    EXPECT_EQ(logic.Settings().TimeOut(), 200);

    // Readable files are read.
    WriteOptionsFile(options, 300, 2, 20, 3);
    const std::string scheme = folder.File("scheme.xml");
    WriteScheme(scheme, {Group({{1111, 0}})});
    logic.Init(nullptr, scheme, options);
    EXPECT_EQ(logic.Settings().TimeOut(), 300);
    EXPECT_EQ(logic.Settings().MaxSendCount(), 3);
    EXPECT_EQ(logic.Settings().SchemePath(), scheme);
    EXPECT_EQ(logic.Settings().TcpPorts(), (channel::PortList{1111}));

    // An empty scheme path means settings.xml in the current folder.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    WriteScheme("settings.xml", {Group({{2222, 0}})});
    logic.Init(nullptr, "", options);
    std::filesystem::current_path(previous);
    EXPECT_EQ(logic.Settings().SchemePath(), "settings.xml");
    EXPECT_EQ(logic.Settings().TcpPorts(), (channel::PortList{2222}));
}

// A failed save of the default options at start-up used to show "Файл с
// настройками не найден либо повреждён." although nothing was damaged.
TEST_F(AppLogic, DefaultOptionsThatCannotBeSavedAreOnlyLogged)
{
    for (const std::string& options : {folder.File("no-such-folder/options.xml"), std::string()}) {
        SCOPED_TRACE("options path \"" + options + "\"");
        CLogicHarness harness;
        testsupport::StreamCapture error(Error);
        harness.Logic().Init(nullptr, folder.File("missing.xml"), options);
        EXPECT_TRUE(harness.Notifier().All().empty()) << harness.Notifier().All()[0].text;
        EXPECT_EQ(error.Text(), "Не удалось записать настройки в файл \"" + options + "\"\n");
        EXPECT_EQ(harness.Logic().Settings().TimeOut(), 200);
        EXPECT_EQ(harness.Logic().Settings().TimeSendDelay(), 1);
        EXPECT_EQ(harness.Logic().Settings().SendDataSize(), 10);
        EXPECT_EQ(harness.Logic().Settings().MaxSendCount(), 5);
        EXPECT_EQ(harness.Logic().Settings().OptionsPath(), options);
    }
}

// Hand-edited options (TimeSendDelay -1, values whose x 1000 overflows) used to
// reach the clients as they were: a 49.7-day sleep, an endless shutdown wait.
TEST_F(AppLogic, OptionsOutsideTheDialogRangesReachTheClientsClamped)
{
    CLogicHarness harness;
    core::CAppLogic& logic = harness.Logic();
    const std::string options = folder.File("options.xml");
    WriteOptionsFile(options, 2147484, -1, 5000, 0);
    const std::string text = testsupport::ReadBytes(options);
    testsupport::StreamCapture error(Error);
    logic.Init(nullptr, folder.File("missing.xml"), options);

    EXPECT_EQ(logic.Settings().TimeOut(), 2147484) << "the settings keep the file's values";
    EXPECT_EQ(logic.Settings().TimeSendDelay(), -1);
    EXPECT_EQ(testsupport::ReadBytes(options), text) << "and so does the file";
    const core::ClientPlan plan = logic.MakeClientPlan();
    EXPECT_EQ(plan.options.timeOut, 30000);
    EXPECT_EQ(plan.options.timeSendDelay, 1);
    EXPECT_EQ(plan.options.sendDataSize, 1024);
    EXPECT_EQ(plan.options.maxSendCount, 1);
    const std::string notice =
        "Настройки вне допустимых пределов, для проверки взяты ближайшие допустимые значения: "
        "TimeOut 2147484 -> 30000, TimeSendDelay -1 -> 1, MaxSendCount 0 -> 1, "
        "SendDataSize 5000 -> 1024";
    EXPECT_EQ(error.Text(), notice + "\n") << "said once, at start-up";
    EXPECT_EQ(logic.OptionsNotice(), notice);
    logic.MakeClientPlan();
    EXPECT_EQ(error.Text(), notice + "\n");
    EXPECT_TRUE(harness.Notifier().All().empty());

    // Within the ranges nothing changes and nothing is said; the ends count.
    WriteOptionsFile(options, 10, 600, 10, 10000);
    logic.Init(nullptr, "", options);
    EXPECT_EQ(logic.OptionsNotice(), "");
    EXPECT_EQ(logic.MakeClientPlan().options, (channel::ProbeOptions{10, 600, 10, 10000}));
    WriteOptionsFile(options, 30000, 1, 1024, 1);
    logic.Init(nullptr, "", options);
    EXPECT_EQ(logic.MakeClientPlan().options, (channel::ProbeOptions{30000, 1, 1024, 1}));
    WriteOptionsFile(options, 9, 0, 9, 10001);
    logic.Init(nullptr, "", options);
    EXPECT_EQ(logic.MakeClientPlan().options, (channel::ProbeOptions{10, 1, 10, 10000}));
    EXPECT_EQ(error.Text().size(), notice.size() + 1 + logic.OptionsNotice().size() + 1);
}

TEST_F(AppLogic, DuplicatedTcpPortRowsTakeTheReportsInTurn)
{
    CLogicHarness harness;
    core::CAppLogic& logic = harness.Logic();
    const std::uint16_t port = FreePort(SOCK_STREAM);
    const std::string scheme = folder.File("scheme.xml");
    WriteScheme(scheme, {Group({{port, 0}}), Group({{port, 0}})});
    WriteOptionsFile(folder.File("options.xml"), 200, 1, 10, 2);
    logic.Init(nullptr, scheme, folder.File("options.xml"));
    ASSERT_EQ(logic.StartServers(0), 0);

    // The first socket listens ("Порт открыт"), the second finds the port busy.
    std::vector<core::ServerRow> rows = logic.ServerRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].state, channel::EC_PORT_OPEN);
    EXPECT_EQ(rows[1].state, channel::EC_PORT_BUSY);
    EXPECT_EQ(logic.GetEvent(rows[1].eventIndex)->detail, 10048u);
    ASSERT_TRUE(harness.RunUntil([&] { return harness.ServerRowMessages().size() == 2; }, 5s));
    EXPECT_EQ(harness.ServerRowMessages(), (std::vector<int>{0, 1}));

    // A later report skips the row that shows the open port.
    logic.UpdateServerRow(channel::EC_PORT_OPEN, channel::PROTOCOL_TCP, port, 77);
    EXPECT_EQ(logic.ServerRowAt(1)->eventIndex, 77);
    EXPECT_EQ(logic.ServerRowAt(0)->eventIndex, rows[0].eventIndex);
    // Both open: nothing changes, nothing is posted.
    logic.UpdateServerRow(channel::EC_INTERNAL_ERROR, channel::PROTOCOL_TCP, port, 78);
    EXPECT_EQ(logic.ServerRowAt(0)->state, channel::EC_PORT_OPEN);
    EXPECT_EQ(logic.ServerRowAt(1)->state, channel::EC_PORT_OPEN);
    // Other protocol or port: no row.
    logic.UpdateServerRow(channel::EC_INTERNAL_ERROR, channel::PROTOCOL_UDP, port, 79);
    ASSERT_TRUE(harness.RunUntil([&] { return harness.ServerRowMessages().size() == 3; }, 5s));
    harness.RunUntil([] { return false; }, 50ms);
    EXPECT_EQ(harness.ServerRowMessages(), (std::vector<int>{0, 1, 1}));

    logic.ClearServerRows();
    EXPECT_TRUE(logic.ServerRows().empty());
}

TEST_F(AppLogic, PurgeKeepsTheServersPortResults)
{
    CLogicHarness harness;
    core::CAppLogic& logic = harness.Logic();
    const std::uint16_t tcp = FreePort(SOCK_STREAM);
    const std::uint16_t udpServer = FreePort(SOCK_DGRAM);
    const std::uint16_t udpClient = FreePort(SOCK_DGRAM);
    const std::string scheme = folder.File("scheme.xml");
    WriteScheme(scheme, {Group({{tcp, 0}, {tcp, 0}}, {{udpServer, udpClient}}, {{253, 0}})});
    logic.Init(nullptr, scheme, folder.File("options.xml"));
    ASSERT_EQ(logic.StartServers(0), 0);
    const int serverEvents = logic.GetEventCount();
    ASSERT_EQ(serverEvents, 4) << "TCP open, TCP busy, UDP open, IP open or no rights";

    // What a check adds: the UDP client's bound port, a probe, a connect failure,
    // and a TCP report on a number that happens to be a UDP client port.
    logic.AddEvent(0, channel::EC_PORT_OPEN, 0, channel::PROTOCOL_UDP, nullptr, udpClient, 0,
                   false);
    logic.AddEvent(0, channel::EC_SENT, 0, channel::PROTOCOL_TCP, "127.0.0.1", tcp, tcp, false);
    logic.AddEvent(3, channel::EC_CONNECT_FAILED, 10061, channel::PROTOCOL_TCP, "127.0.0.1", tcp,
                   tcp, false);
    logic.AddEvent(0, channel::EC_PORT_OPEN, 0, channel::PROTOCOL_TCP, nullptr, udpClient, 0,
                   false);

    const std::vector<Event> before = AllEvents(logic);
    EXPECT_EQ(logic.PurgeEvents(true), 5);
    const std::vector<Event> after = AllEvents(logic);
    ASSERT_EQ(after.size(), 5u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(after[static_cast<std::size_t>(i)].sequence,
                  before[static_cast<std::size_t>(i)].sequence);
    EXPECT_EQ(after[4].sequence, before[7].sequence);
    for (const Event& e : after) {
        EXPECT_TRUE(e.description == 1 || e.description == 2 || e.description == 3)
            << e.description;
        EXPECT_FALSE(e.protocol == channel::PROTOCOL_UDP && e.senderPort == udpClient);
    }

    EXPECT_EQ(logic.PurgeEvents(false), 0);
    EXPECT_EQ(logic.GetEventCount(), 0);
    EXPECT_TRUE(logic.Senders().empty());
}

// With a bounded history the server rows must not point at events that went,
// nor at the wrong ones once the rest moved down.
TEST_F(AppLogic, TrimmedEventsTakeTheServerRowsAlong)
{
    CLogicHarness harness;
    core::CAppLogic& logic = harness.Logic();
    const std::uint16_t early = FreePort(SOCK_STREAM);
    const std::uint16_t late = FreePort(SOCK_STREAM);
    const std::string scheme = folder.File("scheme.xml");
    // Rows: early (open), late (open), late again (busy: the one that takes reports).
    WriteScheme(scheme, {Group({{early, 0}, {late, 0}}), Group({{late, 0}})});
    logic.Init(nullptr, scheme, folder.File("options.xml"));
    logic.SetEventLimit(100);
    ASSERT_EQ(logic.StartServers(0), 0);
    ASSERT_EQ(logic.GetEventCount(), 3);
    ASSERT_EQ(logic.ServerRowAt(0)->eventIndex, 0);
    for (int i = 0; i < 150; ++i) {
        logic.AddEvent(0, channel::EC_RECEIVED, 0, channel::PROTOCOL_TCP, "198.18.0.7", 4000,
                       late, true);
        if (i == 100)
            logic.UpdateServerRow(channel::EC_INTERNAL_ERROR, channel::PROTOCOL_TCP, late,
                                  logic.GetEventCount() - 1);
    }
    const core::ServerRow reported = *logic.ServerRowAt(2);
    ASSERT_EQ(reported.eventIndex, 103);
    const std::uint32_t sequence = logic.GetEvent(reported.eventIndex)->sequence;
    EXPECT_EQ(logic.TrimEvents(), 53) << "153 events, the newest 100 stay";
    EXPECT_EQ(logic.GetEventCount(), 100);
    EXPECT_EQ(logic.ServerRowAt(0)->eventIndex, -1) << "its event went";
    EXPECT_EQ(logic.ServerRowAt(1)->eventIndex, -1);
    EXPECT_EQ(logic.ServerRowAt(2)->eventIndex, 103 - 53);
    EXPECT_EQ(logic.GetEvent(logic.ServerRowAt(2)->eventIndex)->sequence, sequence);
    EXPECT_EQ(logic.TrimEvents(), 0) << "below the limit and a quarter";
}

TEST_F(AppLogic, ClientRowQueueHandsOutEachRowOnce)
{
    CLogicHarness harness;
    core::CAppLogic& logic = harness.Logic();
    const std::uint32_t first = logic.NextClientRowSequence();
    channel::ClientRow row;
    row.protocol = 1;
    row.eventIndex = 5;
    for (std::uint32_t port = 100; port < 103; ++port) {
        row.port = port;
        EXPECT_EQ(logic.AddClientRow(row), first + (port - 100));
    }
    const channel::ClientRow middle = logic.TakeClientRow(first + 1);
    EXPECT_EQ(middle.port, 101u);
    EXPECT_EQ(middle.sequence, first + 1);
    EXPECT_EQ(middle.eventIndex, 5);

    const channel::ClientRow again = logic.TakeClientRow(first + 1);
    EXPECT_EQ(again.eventIndex, -1) << "taken already";
    EXPECT_EQ(again.port, 0u);
    EXPECT_EQ(logic.TakeClientRow(first + 7).eventIndex, -1) << "never queued";
    EXPECT_EQ(logic.QueuedClientRows(), 3u) << "the head is not taken yet";

    EXPECT_EQ(logic.TakeClientRow(first).port, 100u);
    EXPECT_EQ(logic.QueuedClientRows(), 1u) << "taken rows leave from the head";
    EXPECT_EQ(logic.TakeClientRow(first + 2).port, 102u);
    EXPECT_EQ(logic.QueuedClientRows(), 0u);
    EXPECT_EQ(logic.TakeClientRow(first).eventIndex, -1);
}

TEST_F(AppLogic, MessagesForSocketsNobodyOwnsAreIgnored)
{
    CLogicHarness harness;
    core::CAppLogic& logic = harness.Logic();
    EXPECT_EQ(logic.DispatchServerMessage(channel::PROTOCOL_TCP, 54321, 1), 1);
    EXPECT_EQ(logic.DispatchServerMessage(9, 54321, 1), 1);
    EXPECT_EQ(logic.DispatchClientMessage(channel::PROTOCOL_UDP, 54321, channel::PROBE_NOW), 1);
    EXPECT_EQ(logic.DispatchClientMessage(0, 54321, 0), 1);
    EXPECT_EQ(logic.DispatchTimer(54321), 1);
    EXPECT_TRUE(harness.Notifier().All().empty());
}

// The check's thread stops a peer's clients while the GUI thread is busy
// dispatching their notifications: UDP reads wait for their send tasks, which
// queue rows under the client lock. Nothing may hang or touch a deleted client.
TEST_F(AppLogic, StoppingClientsWhileTheyProbe)
{
    CLogicHarness harness;
    core::CAppLogic& logic = harness.Logic();
    std::vector<channel::PortPair> tcp, udp;
    for (int i = 0; i < 3; ++i) {
        tcp.push_back({FreePort(SOCK_STREAM), 0});
        udp.push_back({FreePort(SOCK_DGRAM), FreePort(SOCK_DGRAM)});
    }
    const std::string scheme = folder.File("scheme.xml");
    WriteScheme(scheme, {Group(tcp, udp)});
    WriteOptionsFile(folder.File("options.xml"), 200, 1, 10, 50);
    logic.Init(nullptr, scheme, folder.File("options.xml"));
    ASSERT_EQ(logic.StartServers(0), 0);
    const core::ClientPlan plan = logic.MakeClientPlan();

    // UDP replies received so far.
    auto udpReplies = [&logic] {
        int replies = 0;
        for (int i = 0; i < logic.GetEventCount(); ++i) {
            if (auto e = logic.GetEvent(i))
                replies += e->protocol == channel::PROTOCOL_UDP &&
                           e->description == channel::EC_RECEIVED;
        }
        return replies;
    };
    for (int round = 0; round < 3; ++round) {
        std::atomic<bool> stopped{false};
        std::thread check([&] {
            // Stopped at a different point of the probing each round: once
            // 1, 2 and 3 further UDP replies have come (or after 20 s).
            const int before = udpReplies();
            logic.StartClients("127.0.0.1", plan);
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (udpReplies() < before + round + 1 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(1ms);
            logic.StopClients("127.0.0.1");
            stopped = true;
        });
        ASSERT_TRUE(harness.RunUntil([&] { return stopped.load(); }, 30s)) << "round " << round;
        check.join();
        EXPECT_EQ(logic.ClientCount(channel::PROTOCOL_TCP), 0u);
        EXPECT_EQ(logic.ClientCount(channel::PROTOCOL_UDP), 0u);
        EXPECT_EQ(logic.ClientCount(channel::PROTOCOL_IP), 0u);
    }
    // Replies did arrive in the meantime.
    const std::vector<Event> events = AllEvents(logic);
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const Event& e) {
        return e.protocol == channel::PROTOCOL_UDP && e.description == channel::EC_RECEIVED;
    }));
    // Late notifications of the deleted clients find no owner.
    harness.RunUntil([] { return false; }, 100ms);
}

} // namespace
} // namespace coretest
