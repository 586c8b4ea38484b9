// The server pane's rows: the fill from the scheme, keys, the states the logic
// reports (a row that shows "Порт открыт" keeps it), the display order with
// and without grouping, and the text copy.

#include "channel/EventCodes.h"
#include "core/CServerRows.h"
#include "events/Event.h"

#include <gtest/gtest.h>

namespace {

using core::CServerRows;

std::vector<channel::SchemeGroup> Scheme()
{
    channel::SchemeGroup a;
    a.senderName = L"A";
    a.receiverName = L"B";
    a.tcpPairs = {{5000, 0}};
    a.udpPairs = {{7000, 7001}};
    a.ipPairs = {{253, 0}};
    channel::SchemeGroup b;
    b.senderName = L"C";
    b.receiverName = L"D";
    b.tcpPairs = {{5000, 0}, {5002, 0}};
    return {a, b};
}

core::ServerRow Logic(int state, int protocol, std::uint16_t port, int eventIndex = 0)
{
    return core::ServerRow{eventIndex, state, protocol, port};
}

TEST(ServerRows, KeysAndImages)
{
    EXPECT_EQ(CServerRows::Key(channel::PROTOCOL_TCP, 5000), 105000);
    EXPECT_EQ(CServerRows::Key(channel::PROTOCOL_UDP, 65535), 265535);
    EXPECT_EQ(CServerRows::Key(channel::PROTOCOL_IP, 253), 300253);
    EXPECT_EQ(CServerRows::ImageOf(channel::EC_PORT_OPEN), CServerRows::ImageOpen);
    EXPECT_EQ(CServerRows::ImageOf(channel::EC_PORT_BUSY), CServerRows::ImageBusy);
    EXPECT_EQ(CServerRows::ImageOf(channel::EC_NEED_ADMIN), CServerRows::ImageFailed);
    EXPECT_EQ(CServerRows::ImageOf(channel::EC_INTERNAL_ERROR), CServerRows::ImageFailed);
    EXPECT_EQ(CServerRows::ImageOf(channel::EC_CONNECTED), CServerRows::ImageNone);
}

TEST(ServerRows, EveryRowOfAPortTakesItsStateAndAnOpenPortStaysOpen)
{
    CServerRows rows;
    rows.Fill(Scheme());
    ASSERT_EQ(rows.Count(), 5);
    EXPECT_EQ(rows.Text(0, 0), L"...");
    EXPECT_EQ(rows.Text(0, 1), L"TCP");
    EXPECT_EQ(rows.Text(0, 2), L"5000");
    EXPECT_EQ(rows.Text(0, 3), L"A <-> B");
    EXPECT_EQ(rows.Text(0, 4), L"105000");
    EXPECT_EQ(rows.Text(1, 1), L"UDP");
    EXPECT_EQ(rows.Text(1, 2), L"7000") << "the server port of the pair";

    EXPECT_TRUE(rows.Apply(Logic(0, channel::PROTOCOL_TCP, 5000)).empty())
        << "a logic row without a report changes nothing";
    std::vector<int> changed =
        rows.Apply(Logic(channel::EC_PORT_OPEN, channel::PROTOCOL_TCP, 5000), 11u);
    EXPECT_EQ(changed, (std::vector<int>{0, 3})) << "TCP 5000 in both groups";
    EXPECT_EQ(rows.Text(3, 0), L"Порт открыт");
    EXPECT_EQ(rows.At(3).image, CServerRows::ImageOpen);
    EXPECT_EQ(rows.At(3).eventSequence, 11u);
    // The second listening socket of the port listed twice finds it taken.
    changed = rows.Apply(Logic(channel::EC_PORT_BUSY, channel::PROTOCOL_TCP, 5000), 12u);
    EXPECT_TRUE(changed.empty());
    EXPECT_EQ(rows.Text(0, 0), L"Порт открыт") << "an open port keeps its state";
    EXPECT_EQ(rows.At(0).eventSequence, 11u);

    rows.Apply(Logic(channel::EC_NEED_ADMIN, channel::PROTOCOL_IP, 253));
    EXPECT_EQ(rows.Text(2, 0), L"Нужны права администратора");
    EXPECT_EQ(rows.At(2).image, CServerRows::ImageFailed);
    EXPECT_EQ(rows.At(2).eventSequence, std::nullopt);
    rows.Apply(Logic(channel::EC_PORT_OPEN, channel::PROTOCOL_IP, 253));
    EXPECT_EQ(rows.Text(2, 0), L"Порт открыт") << "a later success replaces a failure";
    EXPECT_TRUE(rows.Apply(Logic(channel::EC_PORT_OPEN, channel::PROTOCOL_UDP, 7001)).empty())
        << "a UDP client port has no row here";
    EXPECT_EQ(rows.OpenCount(), 3);

    EXPECT_EQ(rows.GroupsOfPair(L"C <-> D").size(), 1u);
    EXPECT_TRUE(rows.GroupsOfPair(L"C <-> X").empty());
    rows.Clear();
    EXPECT_EQ(rows.Count(), 0);
}

TEST(ServerRows, TheCopyFollowsTheDisplayGroupedAndUngrouped)
{
    CServerRows rows;
    rows.Fill(Scheme());
    rows.Apply(Logic(channel::EC_PORT_OPEN, channel::PROTOCOL_TCP, 5000));
    rows.Apply(Logic(channel::EC_PORT_BUSY, channel::PROTOCOL_UDP, 7000));
    // Sorted by protocol name: IP, TCP, UDP; scheme order within a protocol.
    EXPECT_EQ(rows.CopyText(false, true, L"\r\n"), L"...\tIP\t253\tA <-> B\r\n"
                                                   L"Порт открыт\tTCP\t5000\tA <-> B\r\n"
                                                   L"Порт открыт\tTCP\t5000\tC <-> D\r\n"
                                                   L"...\tTCP\t5002\tC <-> D\r\n"
                                                   L"Порт занят\tUDP\t7000\tA <-> B\r\n");
    EXPECT_EQ(rows.CopyText(true, false, L"\r\n"), L"A <-> B\r\n"
                                                   L"...\tIP\t253\r\n"
                                                   L"Порт открыт\tTCP\t5000\r\n"
                                                   L"Порт занят\tUDP\t7000\r\n"
                                                   L"C <-> D\r\n"
                                                   L"Порт открыт\tTCP\t5000\r\n"
                                                   L"...\tTCP\t5002\r\n");
    const auto lines = rows.Lines(true);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_TRUE(lines[0].IsGroup());
    EXPECT_EQ(lines[1].row, 2);
}

TEST(ServerRows, AnEventIsARowsWhenItReportsThePortWithItsState)
{
    const core::ServerRow row = Logic(channel::EC_PORT_OPEN, channel::PROTOCOL_TCP, 5000);
    events::Event event = events::MakeEvent(0, channel::EC_PORT_OPEN, 0, channel::PROTOCOL_TCP,
                                            "10.0.0.1", "", 5000, 0);
    EXPECT_TRUE(CServerRows::IsEventOfRow(event, row));
    event.senderPort = 5001;
    EXPECT_FALSE(CServerRows::IsEventOfRow(event, row));
    event.senderPort = 5000;
    event.description = channel::EC_PORT_BUSY;
    EXPECT_FALSE(CServerRows::IsEventOfRow(event, row));
}

} // namespace
