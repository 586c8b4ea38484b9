// The client check's progress tree: its shape from the scheme, which rows a
// client row updates, the state images, the channel pair's image, the
// finished rule, the text copy, and the check that an event is a row's.

#include "channel/EventCodes.h"
#include "channel/PeerAddress.h"
#include "core/CPortRows.h"
#include "events/Event.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using core::CPortRows;
using Level = CPortRows::Level;

// Two groups; TCP 5000 stands in both (the same channel port of the peer).
std::vector<channel::SchemeGroup> TwoGroups()
{
    channel::SchemeGroup a;
    a.senderName = L"Рабочая станция";
    a.receiverName = L"Сервер";
    a.tcpPairs = {{5000, 0}, {5001, 6001}};
    a.udpPairs = {{7000, 7001}};
    channel::SchemeGroup b;
    b.senderName = L"gw";
    b.receiverName = L"mon";
    b.tcpPairs = {{5000, 0}};
    b.ipPairs = {{253, 0}};
    return {a, b};
}

channel::ClientRow Row(const char* peer, int protocol, std::uint16_t port, std::uint32_t code,
                       int attempts, int replies, bool finished = false)
{
    channel::ClientRow row;
    channel::ParseAddress(row.peer, peer);
    row.protocol = static_cast<std::uint32_t>(protocol);
    row.port = port;
    row.code = code;
    row.port1 = port;
    row.port2 = port;
    row.attempts = attempts;
    row.replies = replies;
    row.finished = finished;
    return row;
}

channel::ClientRow UdpRow(const char* peer, std::uint16_t server, std::uint16_t client,
                          std::uint32_t code, int attempts, int replies, bool finished = false)
{
    channel::ClientRow row =
        Row(peer, channel::PROTOCOL_UDP, server, code, attempts, replies, finished);
    row.port1 = client;
    row.port2 = server;
    return row;
}

// The port rows of a peer (by position) for a protocol and server port.
std::vector<int> PortNodes(const CPortRows& rows, int peer, int protocol, std::uint16_t port)
{
    std::vector<int> out;
    for (int pair : rows.At(rows.Peers()[static_cast<std::size_t>(peer)]).children)
        for (int proto : rows.At(pair).children)
            for (int node : rows.At(proto).children)
                if (rows.At(node).protocol == protocol && rows.At(node).pair.serverPort == port)
                    out.push_back(node);
    return out;
}

TEST(PortRows, TheTreeFollowsThePeersAndTheScheme)
{
    CPortRows rows;
    rows.Build({"10.0.0.1", "10.0.0.2"}, TwoGroups());
    ASSERT_EQ(rows.Peers().size(), 2u);
    const int peer = rows.Peers()[0];
    EXPECT_EQ(rows.Text(peer, 0), L"10.0.0.1");
    EXPECT_EQ(rows.Text(rows.Peers()[1], 0), L"10.0.0.2");
    ASSERT_EQ(rows.At(peer).children.size(), 2u) << "a channel pair per group";
    const int pairA = rows.At(peer).children[0];
    const int pairB = rows.At(peer).children[1];
    EXPECT_EQ(rows.Text(pairA, 0), L"Рабочая станция <-> Сервер");
    EXPECT_EQ(rows.At(pairA).image, CPortRows::ImagePairAnswered) << "as the pair starts";
    ASSERT_EQ(rows.At(pairA).children.size(), 2u) << "TCP and UDP; no IP row without IP ports";
    EXPECT_EQ(rows.Text(rows.At(pairA).children[0], 0), L"TCP(2)");
    EXPECT_EQ(rows.Text(rows.At(pairA).children[1], 0), L"UDP(1)");
    ASSERT_EQ(rows.At(pairB).children.size(), 2u);
    EXPECT_EQ(rows.Text(rows.At(pairB).children[1], 0), L"IP(1)");

    const int tcp5001 = rows.At(rows.At(pairA).children[0]).children[1];
    EXPECT_EQ(rows.At(tcp5001).level, Level::Port);
    EXPECT_EQ(rows.Depth(tcp5001), 3);
    EXPECT_EQ(rows.PeerOf(tcp5001), peer);
    EXPECT_EQ(rows.Text(tcp5001, 0), L"...");
    EXPECT_EQ(rows.Text(tcp5001, 1), L"5001") << "the port the client probes";
    EXPECT_EQ(rows.Text(tcp5001, 2), L"5001");
    EXPECT_EQ(rows.Text(tcp5001, 3), L"") << "no count before the first update";
    EXPECT_EQ(rows.Text(tcp5001, 4), L"");
    const int udp = rows.At(rows.At(pairA).children[1]).children[0];
    EXPECT_EQ(rows.Text(udp, 1), L"7001") << "UDP goes from the client port ...";
    EXPECT_EQ(rows.Text(udp, 2), L"7000") << "... to the server port";
    EXPECT_EQ(rows.DistinctPortCount(), 4) << "TCP 5000 counts once";

    rows.Clear();
    EXPECT_TRUE(rows.Empty());
    EXPECT_TRUE(rows.Peers().empty());
}

// A port listed in two groups shared one key, so its second row never
// updated: kanaliko-cli check showed it at "..." with 0/0 and exited 1 although
// every probe was answered.
TEST(PortRows, EveryRowOfAPortIsUpdatedAndOtherRowsAreIgnored)
{
    CPortRows rows;
    rows.Build({"10.0.0.1", "10.0.0.2"}, TwoGroups());
    const std::vector<int> both = PortNodes(rows, 0, channel::PROTOCOL_TCP, 5000);
    ASSERT_EQ(both.size(), 2u);

    const std::vector<int> changed =
        rows.Apply(Row("10.0.0.1", channel::PROTOCOL_TCP, 5000, channel::EC_RECEIVED, 2, 2), 77u);
    for (int node : both) {
        EXPECT_NE(std::find(changed.begin(), changed.end(), node), changed.end());
        EXPECT_EQ(rows.Text(node, 0), L"Данные получены");
        EXPECT_EQ(rows.Text(node, 3), L"2");
        EXPECT_EQ(rows.Text(node, 4), L"2");
        EXPECT_EQ(rows.At(node).eventSequence, 77u);
    }
    for (int node : PortNodes(rows, 1, channel::PROTOCOL_TCP, 5000))
        EXPECT_FALSE(rows.At(node).updated) << "the other peer's rows stay";

    EXPECT_TRUE(
        rows.Apply(Row("10.0.0.1", channel::PROTOCOL_TCP, 5999, channel::EC_SENT, 1, 0)).empty())
        << "a port no longer in the grid (the scheme changed) is ignored";
    EXPECT_TRUE(
        rows.Apply(Row("10.0.0.1", channel::PROTOCOL_TCP, 6001, channel::EC_SENT, 1, 0)).empty())
        << "a TCP client port is probed too, but has no row";
    EXPECT_TRUE(
        rows.Apply(Row("10.0.0.3", channel::PROTOCOL_TCP, 5000, channel::EC_SENT, 1, 0)).empty())
        << "a peer not in the check";
    EXPECT_TRUE(
        rows.Apply(Row("10.0.0.1", channel::PROTOCOL_UDP, 5000, channel::EC_SENT, 1, 0)).empty())
        << "the protocol is part of the port";
    channel::ClientRow wide = Row("10.0.0.1", channel::PROTOCOL_TCP, 5000, channel::EC_SENT, 9, 0);
    wide.port = 5000 + 65536;
    EXPECT_TRUE(rows.Apply(wide).empty()) << "a port past 16 bits is not port 5000";

    const std::vector<int> udp = PortNodes(rows, 0, channel::PROTOCOL_UDP, 7000);
    ASSERT_EQ(udp.size(), 1u);
    EXPECT_FALSE(rows.Apply(UdpRow("10.0.0.1", 7000, 7001, channel::EC_SENT, 1, 0)).empty())
        << "UDP rows are found by the server port";
    EXPECT_EQ(rows.Text(udp[0], 1), L"7001");
    EXPECT_EQ(rows.Text(udp[0], 2), L"7000");
    EXPECT_EQ(rows.At(udp[0]).eventSequence, std::nullopt) << "no event known";
}

TEST(PortRows, StateImagesFollowTheCodes)
{
    using I = CPortRows;
    struct Case
    {
        const char* what;
        std::vector<std::uint32_t> codes;
        std::int8_t image;
    };
    const Case cases[] = {
        {"a fresh send is a datagram's", {channel::EC_SENT}, I::ImageDatagramSent},
        {"datagram answered", {channel::EC_SENT, channel::EC_RECEIVED}, I::ImageDatagramAnswered},
        {"the next cycle keeps the answer",
         {channel::EC_SENT, channel::EC_RECEIVED, channel::EC_SENT},
         I::ImageDatagramAnswered},
        {"connected", {channel::EC_OPENED, channel::EC_CONNECTED}, I::ImageConnected},
        {"stream sent", {channel::EC_CONNECTED, channel::EC_SENT}, I::ImageStreamSent},
        {"stream answered",
         {channel::EC_CONNECTED, channel::EC_SENT, channel::EC_RECEIVED},
         I::ImageStreamAnswered},
        {"a failed connect keeps its cross on a send",
         {channel::EC_CONNECT_FAILED, channel::EC_SENT},
         I::ImageFailed},
        {"and on a reply", {channel::EC_CONNECT_FAILED, channel::EC_RECEIVED}, I::ImageFailed},
        {"a reply without a send shows nothing", {channel::EC_RECEIVED}, I::ImageNone},
        {"port busy", {channel::EC_PORT_BUSY}, I::ImageFailed},
        {"no rights", {channel::EC_NEED_ADMIN}, I::ImageFailed},
        {"internal error", {channel::EC_SENT, channel::EC_INTERNAL_ERROR}, I::ImageInternalError},
        {"a failed receive clears the image",
         {channel::EC_SENT, channel::EC_RECEIVE_FAILED},
         I::ImageNone},
        {"then the next send starts again",
         {channel::EC_RECEIVE_FAILED, channel::EC_SENT},
         I::ImageDatagramSent},
        {"any other code: none", {channel::EC_CONNECTED, channel::EC_DISCONNECTED}, I::ImageNone},
    };
    for (const Case& c : cases) {
        CPortRows rows;
        rows.Build({"10.0.0.1"}, TwoGroups());
        const int node = PortNodes(rows, 0, channel::PROTOCOL_TCP, 5001)[0];
        EXPECT_EQ(rows.At(node).image, I::ImageNone);
        int attempts = 0;
        for (std::uint32_t code : c.codes)
            rows.Apply(Row("10.0.0.1", channel::PROTOCOL_TCP, 5001, code, ++attempts, 0));
        EXPECT_EQ(rows.At(node).image, c.image) << c.what;
    }
}

TEST(PortRows, ThePairTurnsToAnsweredOnlyWhenEveryPortHasAnAttemptAndAReply)
{
    CPortRows rows;
    rows.Build({"10.0.0.1"}, TwoGroups());
    const int pairA = rows.At(rows.Peers()[0]).children[0];
    const int pairB = rows.At(rows.Peers()[0]).children[1];

    std::vector<int> changed =
        rows.Apply(Row("10.0.0.1", channel::PROTOCOL_TCP, 5001, channel::EC_RECEIVED, 1, 1));
    EXPECT_EQ(rows.At(pairA).image, CPortRows::ImagePairIncomplete) << "5000 and UDP 7000 not yet";
    EXPECT_NE(std::find(changed.begin(), changed.end(), pairA), changed.end());
    EXPECT_EQ(rows.At(pairB).image, CPortRows::ImagePairAnswered) << "nothing below it changed";

    rows.Apply(Row("10.0.0.1", channel::PROTOCOL_TCP, 5000, channel::EC_RECEIVED, 1, 1));
    EXPECT_EQ(rows.At(pairA).image, CPortRows::ImagePairIncomplete);
    EXPECT_EQ(rows.At(pairB).image, CPortRows::ImagePairIncomplete) << "IP 253 has no attempt";
    rows.Apply(UdpRow("10.0.0.1", 7000, 7001, channel::EC_SENT, 1, 0));
    EXPECT_EQ(rows.At(pairA).image, CPortRows::ImagePairIncomplete) << "an attempt, no reply";
    changed = rows.Apply(UdpRow("10.0.0.1", 7000, 7001, channel::EC_RECEIVED, 1, 1));
    EXPECT_EQ(rows.At(pairA).image, CPortRows::ImagePairAnswered);
    EXPECT_NE(std::find(changed.begin(), changed.end(), pairA), changed.end());
    changed = rows.Apply(UdpRow("10.0.0.1", 7000, 7001, channel::EC_SENT, 2, 1));
    EXPECT_EQ(rows.At(pairA).image, CPortRows::ImagePairAnswered) << "a reply was had";
    EXPECT_EQ(std::find(changed.begin(), changed.end(), pairA), changed.end())
        << "an unchanged image is no change";
    rows.Apply(Row("10.0.0.1", channel::PROTOCOL_IP, 253, channel::EC_RECEIVED, 0, 1));
    EXPECT_EQ(rows.At(pairB).image, CPortRows::ImagePairIncomplete) << "a reply without an attempt";
    rows.Apply(Row("10.0.0.1", channel::PROTOCOL_IP, 253, channel::EC_RECEIVED, 1, 1));
    EXPECT_EQ(rows.At(pairB).image, CPortRows::ImagePairAnswered);
}

TEST(PortRows, APeerHasFinishedWhenEveryDistinctPortHas)
{
    CPortRows rows;
    rows.Build({"10.0.0.1", "10.0.0.2"}, TwoGroups());
    const std::uint32_t peer = rows.At(rows.Peers()[0]).peerAddress;
    auto finish = [&](int protocol, std::uint16_t port, const char* address = "10.0.0.1") {
        rows.Apply(Row(address, protocol, port, channel::EC_RECEIVED, 3, 3, true));
    };
    finish(channel::PROTOCOL_TCP, 5000);
    finish(channel::PROTOCOL_TCP, 5000);
    finish(channel::PROTOCOL_TCP, 5001);
    rows.Apply(UdpRow("10.0.0.1", 7000, 7001, channel::EC_RECEIVED, 3, 3, true));
    finish(channel::PROTOCOL_IP, 253, "10.0.0.2");
    rows.Apply(Row("10.0.0.1", channel::PROTOCOL_IP, 253, channel::EC_SENT, 3, 3, false));
    EXPECT_EQ(rows.FinishedPortCount(peer), 3) << "TCP 5000 twice is one port";
    EXPECT_FALSE(rows.AllPortsFinished(peer));
    finish(channel::PROTOCOL_IP, 253);
    EXPECT_TRUE(rows.AllPortsFinished(peer));
    EXPECT_FALSE(rows.AllPortsFinished(rows.At(rows.Peers()[1]).peerAddress));

    rows.ResetFinished(peer);
    EXPECT_EQ(rows.FinishedPortCount(peer), 0) << "a new turn of the peer";
    EXPECT_EQ(rows.FinishedPortCount(rows.At(rows.Peers()[1]).peerAddress), 1);

    CPortRows empty;
    empty.Build({"10.0.0.1"}, std::vector<channel::SchemeGroup>{});
    EXPECT_FALSE(empty.AllPortsFinished(peer)) << "nothing to probe is not finished";
    EXPECT_FALSE(empty.AllAnswered());
}

TEST(PortRows, TheCopyIsTabbedByNesting)
{
    CPortRows rows;
    rows.Build({"10.0.0.1"}, TwoGroups());
    rows.Apply(Row("10.0.0.1", channel::PROTOCOL_TCP, 5000, channel::EC_RECEIVED, 3, 3));
    rows.Apply(UdpRow("10.0.0.1", 7000, 7001, channel::EC_RECEIVE_FAILED, 2, 1));
    const std::wstring expected = L"10.0.0.1\r\n"
                                  L"\tРабочая станция <-> Сервер\r\n"
                                  L"\t\tTCP(2)\r\n"
                                  L"\t\t\tДанные получены\t5000\t5000\t3\t3\r\n"
                                  L"\t\t\t...\t5001\t5001\t0\t0\r\n"
                                  L"\t\tUDP(1)\r\n"
                                  L"\t\t\tНе удалось получить данные\t7001\t7000\t2\t1\r\n"
                                  L"\tgw <-> mon\r\n"
                                  L"\t\tTCP(1)\r\n"
                                  L"\t\t\tДанные получены\t5000\t5000\t3\t3\r\n"
                                  L"\t\tIP(1)\r\n"
                                  L"\t\t\t...\t253\t253\t0\t0\r\n";
    EXPECT_EQ(rows.CopyText(L"\r\n"), expected);
    // What is not shown (a collapsed pair) is left out with its rows.
    const int pairB = rows.At(rows.Peers()[0]).children[1];
    const std::wstring collapsed =
        rows.CopyText(L"\n", [&](int node) { return rows.At(node).parent != pairB; });
    EXPECT_EQ(collapsed.substr(collapsed.size() - 12), L"\tgw <-> mon\n");
    EXPECT_EQ(rows.RowsWithCode(channel::EC_RECEIVED), 2);
    EXPECT_FALSE(rows.AllAnswered());
}

TEST(PortRows, AnEventIsARowsOnlyWhenItNamesTheSamePortPeerAndCode)
{
    const channel::ClientRow row =
        Row("10.0.0.1", channel::PROTOCOL_TCP, 5000, channel::EC_SENT, 1, 0);
    events::Event event = events::MakeEvent(0, channel::EC_SENT, 0, channel::PROTOCOL_TCP,
                                            "10.0.0.9", "10.0.0.1", 5000, 5000);
    EXPECT_TRUE(CPortRows::IsEventOfRow(event, row));
    events::Event incoming = events::MakeEvent(0, channel::EC_SENT, 0, channel::PROTOCOL_TCP,
                                               "10.0.0.1", "10.0.0.9", 5000, 5000);
    EXPECT_TRUE(CPortRows::IsEventOfRow(incoming, row)) << "the peer as the sender";
    events::Event opened =
        events::MakeEvent(0, channel::EC_SENT, 0, channel::PROTOCOL_TCP, "10.0.0.9", "", 5000, 0);
    EXPECT_TRUE(CPortRows::IsEventOfRow(opened, row)) << "an opening names no peer";
    events::Event otherPeer = events::MakeEvent(0, channel::EC_SENT, 0, channel::PROTOCOL_TCP,
                                                "10.0.0.9", "10.0.0.2", 5000, 5000);
    EXPECT_FALSE(CPortRows::IsEventOfRow(otherPeer, row));
    events::Event otherCode = event;
    otherCode.description = channel::EC_RECEIVED;
    EXPECT_FALSE(CPortRows::IsEventOfRow(otherCode, row));
    events::Event otherPort = event;
    otherPort.senderPort = otherPort.receiverPort = 5001;
    EXPECT_FALSE(CPortRows::IsEventOfRow(otherPort, row));
    events::Event otherProtocol = event;
    otherProtocol.protocol = channel::PROTOCOL_UDP;
    EXPECT_FALSE(CPortRows::IsEventOfRow(otherProtocol, row));
}

} // namespace
