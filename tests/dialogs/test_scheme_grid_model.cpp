// The scheme editor's grid model and the conversions between channels and
// groups: what a row shows, how groups are collected, and the model contract
// (QAbstractItemModelTester) in both shapes and across every change.

#include "dialogs/CSchemeGridModel.h"
#include "dialogs/support/ModelTesterGuard.h"

#include <QAbstractItemModelTester>

#include <gtest/gtest.h>

using channel::PortPair;
using channel::SchemeGroup;
using dialogs::ChannelEntry;
using dialogs::CSchemeGridModel;
using Field = CSchemeGridModel::Field;

namespace {

SchemeGroup Group(std::wstring sender, std::wstring receiver, std::vector<PortPair> tcp,
                  std::vector<PortPair> udp = {}, std::vector<PortPair> ip = {})
{
    return {std::move(sender), std::move(receiver), std::move(tcp), std::move(udp), std::move(ip)};
}

TEST(ChannelEntryConversion, PortsBetweenTheScreenAndTheScheme)
{
    // TCP 1000 -> 1000 is stored without a client port and shows 1000 twice.
    const ChannelEntry tcp{L"TCP", L"a", L"b", 1000, 1000};
    EXPECT_EQ(dialogs::PortPairOf(tcp), (PortPair{1000, 0}));
    EXPECT_EQ(
        dialogs::ChannelEntryOf(Group(L"a", L"b", {}), channel::SchemeProtocol::Tcp, {1000, 0}),
        tcp);
    // UDP 5001 -> 5000 is stored as server 5000, client 5001.
    const ChannelEntry udp{L"UDP", L"a", L"b", 5001, 5000};
    EXPECT_EQ(dialogs::PortPairOf(udp), (PortPair{5000, 5001}));
    EXPECT_EQ(
        dialogs::ChannelEntryOf(Group(L"a", L"b", {}), channel::SchemeProtocol::Udp, {5000, 5001}),
        udp);
}

TEST(ChannelEntryConversion, ChannelsComeGroupByGroupTcpThenUdpThenIp)
{
    const std::vector<SchemeGroup> groups{
        Group(L"z", L"y", {{1, 0}}, {{3, 4}}, {{17, 0}}),
        Group(L"a", L"b", {{5, 6}}),
    };
    const std::vector<ChannelEntry> expected{
        {L"TCP", L"z", L"y", 1, 1},
        {L"UDP", L"z", L"y", 4, 3},
        {L"IP", L"z", L"y", 17, 17},
        {L"TCP", L"a", L"b", 6, 5},
    };
    EXPECT_EQ(dialogs::ChannelEntriesOf(groups), expected);
}

TEST(ChannelEntryConversion, CollectedGroupsAreOrderedByTheirTextAndKeepRowOrder)
{
    const std::vector<ChannelEntry> rows{
        {L"UDP", L"b", L"c", 9, 8}, {L"TCP", L"a", L"z", 2, 2}, {L"IP", L"b", L"c", 6, 6},
        {L"UDP", L"b", L"c", 7, 5}, {L"TCP", L"b", L"c", 3, 3}, {L"tcp", L"q", L"q", 1, 1},
        {L"TCP", L"a", L"z", 1, 1},
    };
    const std::vector<SchemeGroup> expected{
        Group(L"a", L"z", {{2, 0}, {1, 0}}),
        Group(L"b", L"c", {{3, 0}}, {{8, 9}, {5, 7}}, {{6, 0}}),
    };
    EXPECT_EQ(dialogs::GroupsOfChannels(rows), expected)
        << "a row with another protocol text adds nothing";
    // And back: the conversion is lossless for what the dialog can enter.
    EXPECT_EQ(dialogs::GroupsOfChannels(dialogs::ChannelEntriesOf(expected)), expected);
}

TEST(ChannelEntryConversion, GroupsAreKeyedByTheSenderReceiverTextInCodeUnits)
{
    // The text of (a, b) is "a <-> b", of (a b, c) "a b <-> c": they first
    // differ at index 2, '<' against 'b', so (a, b) comes first. Code units put
    // U+1F600 (0xD83D first) before U+FF01, code points would not.
    const std::vector<ChannelEntry> rows{
        {L"TCP", L"\uFF01", L"x", 1, 1},
        {L"TCP", L"a b", L"c", 2, 2},
        {L"TCP", L"\U0001F600", L"x", 3, 3},
        {L"TCP", L"a", L"b", 4, 4},
    };
    const auto groups = dialogs::GroupsOfChannels(rows);
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[0].senderName, L"a");
    EXPECT_EQ(groups[1].senderName, L"a b");
    EXPECT_EQ(groups[2].senderName, L"\U0001F600");
    EXPECT_EQ(groups[3].senderName, L"\uFF01");
}

TEST(ChannelEntryConversion, PairsWhoseTextsCoincideStayApart)
{
    // "a <-> b" + "c" and "a" + "b <-> c" make the same text; merging them
    // would move a channel to nodes it never had.
    const std::vector<ChannelEntry> rows{
        {L"TCP", L"a <-> b", L"c", 1, 1},
        {L"TCP", L"a", L"b <-> c", 2, 2},
    };
    const auto groups = dialogs::GroupsOfChannels(rows);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].senderName, L"a");
    EXPECT_EQ(groups[0].receiverName, L"b <-> c");
    EXPECT_EQ(groups[1].senderName, L"a <-> b");
    EXPECT_EQ(groups[1].receiverName, L"c");
}

class SchemeGridModel : public ::testing::Test
{
protected:
    SchemeGridModel() : tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning)
    {
        model.SetChannels({
            {L"UDP", L"b", L"c", 9, 8},
            {L"TCP", L"a", L"z", 2, 2},
            {L"IP", L"b", L"c", 6, 6},
            {L"TCP", L"b", L"c", 3, 3},
            {L"UDP", L"b", L"c", 7, 5},
        });
    }

    QString Text(const QModelIndex& index) { return model.data(index).toString(); }
    QString Text(int row, int column, const QModelIndex& parent = {})
    {
        return Text(model.index(row, column, parent));
    }

    dialogs::test::ModelTesterGuard guard;
    CSchemeGridModel model;
    QAbstractItemModelTester tester;
};

TEST_F(SchemeGridModel, FlatRowsShowEveryFieldInRowOrder)
{
    EXPECT_EQ(model.rowCount(), 5);
    EXPECT_EQ(model.columnCount(), 5);
    const QStringList headers{"Отправитель", "Получатель", "Протокол", "Порт ->", "<- Порт"};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), headers[c]);
    EXPECT_EQ(Text(4, 0), "b");
    EXPECT_EQ(Text(4, 1), "c");
    EXPECT_EQ(Text(4, 2), "UDP");
    EXPECT_EQ(Text(4, 3), "7");
    EXPECT_EQ(Text(4, 4), "5");
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(model.RowOf(model.index(row, 2)), row);
        EXPECT_FALSE(model.IsGroupRow(model.index(row, 0)));
        EXPECT_EQ(model.rowCount(model.index(row, 0)), 0);
    }
}

TEST_F(SchemeGridModel, GroupedRowsAreSenderReceiverProtocolThenChannels)
{
    model.SetGrouped(true);
    // Ports first; the grouping fields after them, for the view to hide.
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Порт ->");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "<- Порт");
    for (Field f : {Field::Sender, Field::Receiver, Field::Protocol})
        EXPECT_GE(model.ColumnOf(f), 2);

    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(Text(0, 0), "Отправитель: a");
    const QModelIndex b = model.index(1, 0);
    EXPECT_EQ(Text(b), "Отправитель: b");
    EXPECT_TRUE(model.IsGroupRow(b));
    EXPECT_FALSE(model.RowOf(b).has_value());
    ASSERT_EQ(model.rowCount(b), 1);
    const QModelIndex bc = model.index(0, 0, b);
    EXPECT_EQ(Text(bc), "Получатель: c");
    // TCP, UDP, IP whatever order the rows came in.
    ASSERT_EQ(model.rowCount(bc), 3);
    EXPECT_EQ(Text(0, 0, bc), "Протокол: TCP");
    EXPECT_EQ(Text(1, 0, bc), "Протокол: UDP");
    EXPECT_EQ(Text(2, 0, bc), "Протокол: IP");
    // The UDP channels in row order.
    const QModelIndex udp = model.index(1, 0, bc);
    ASSERT_EQ(model.rowCount(udp), 2);
    EXPECT_EQ(model.RowOf(model.index(0, 0, udp)), 0);
    EXPECT_EQ(model.RowOf(model.index(1, 0, udp)), 4);
    EXPECT_EQ(Text(1, 0, udp), "7");
    EXPECT_EQ(Text(1, 1, udp), "5");
    EXPECT_EQ(Text(model.index(1, model.ColumnOf(Field::Sender), udp)), "b");
    EXPECT_EQ(model.parent(model.index(1, 0, udp)), udp);
    EXPECT_EQ(model.IndexOfRow(4), model.index(1, 0, udp));
}

TEST_F(SchemeGridModel, ChangesKeepTheListAndTheTreeInStep)
{
    for (bool grouped : {false, true}) {
        SCOPED_TRACE(grouped ? "grouped" : "flat");
        model.SetGrouped(grouped);
        const int added = model.AddChannel({L"TCP", L"0", L"1", 4, 4});
        EXPECT_EQ(added, 5);
        EXPECT_EQ(model.RowOf(model.IndexOfRow(added)), added);
        model.ReplaceChannel(1, {L"IP", L"a", L"z", 1, 1});
        EXPECT_EQ(model.Channels()[1].protocol, L"IP");
        model.RemoveChannel(added);
        model.RemoveChannel(99); // nothing
        EXPECT_EQ(model.Channels().size(), 5u);
        model.ReplaceChannel(1, {L"TCP", L"a", L"z", 2, 2});
        for (int row = 0; row < 5; ++row)
            EXPECT_EQ(model.RowOf(model.IndexOfRow(row)), row);
    }
    model.SetChannels({});
    EXPECT_EQ(model.rowCount(), 0);
    model.SetGrouped(false);
    EXPECT_EQ(model.rowCount(), 0);
}

} // namespace
