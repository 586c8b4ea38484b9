// The client pane over the application logic: the tree for the peers, rows as
// the engine reports them, the copy and its clipboard failures, the context
// menu's three commands, the latest event by sequence number, and the
// keyboard. Client rows here are made by the test; the whole check through
// the main window is tests/app/test_channel_panes.cpp.

#include "channel/EventCodes.h"
#include "channel/PeerAddress.h"
#include "dialogs/support/ModelTesterGuard.h"
#include "panes/CClientBar.h"
#include "panes/CClientGridModel.h"
#include "panes/CPaneTreeView.h"
#include "panes/ChannelPaneArtwork.h"
#include "panes/support/ChannelPaneKit.h"
#include "support/TestFiles.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {

using channeltest::CFailingClipboard;
using channeltest::CPaneHostRig;
using Level = core::CPortRows::Level;

// Two groups; TCP 5000 stands in both. Nothing listens or is probed here.
std::vector<channel::SchemeGroup> Scheme()
{
    channel::SchemeGroup a;
    a.senderName = L"Рабочая станция";
    a.receiverName = L"Сервер";
    a.tcpPairs = {{5000, 0}, {5001, 0}};
    a.udpPairs = {{7000, 7001}};
    channel::SchemeGroup b;
    b.senderName = L"gw";
    b.receiverName = L"mon";
    b.tcpPairs = {{5000, 0}};
    b.ipPairs = {{253, 0}};
    return {a, b};
}

channel::ClientRow Row(const char* peer, int protocol, std::uint16_t port, std::uint32_t code,
                       int attempts, int replies)
{
    channel::ClientRow row;
    channel::ParseAddress(row.peer, peer);
    row.protocol = static_cast<std::uint32_t>(protocol);
    row.port = port;
    row.code = code;
    row.port1 = row.port2 = port;
    row.attempts = attempts;
    row.replies = replies;
    return row;
}

class ClientBar : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host.Load(Scheme());
        bar = std::make_unique<panes::CClientBar>(host);
        host.SetPanes(bar.get(), nullptr);
        bar->resize(700, 500);
        bar->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(bar.get()));
    }

    panes::CClientGridModel& Model() { return *bar->Model(); }
    // The index of the first port row of the peer (by position) with that
    // protocol and server port; of its pair or protocol row with the level.
    QModelIndex Find(int peer, int protocol, std::uint16_t port, Level level = Level::Port)
    {
        const core::CPortRows& rows = Model().Rows();
        for (int node = 0; node < rows.NodeCount(); ++node) {
            const auto& n = rows.At(node);
            if (n.level == Level::Port && rows.PeerOf(node) == rows.Peers()[std::size_t(peer)] &&
                n.protocol == protocol && n.pair.serverPort == port) {
                int found = node;
                while (rows.At(found).level != level)
                    found = rows.At(found).parent;
                return Model().IndexOfNode(found);
            }
        }
        return {};
    }
    QString Cell(const QModelIndex& index, int column)
    {
        return Model().data(index.siblingAtColumn(column)).toString();
    }

    CPaneHostRig host;
    std::unique_ptr<panes::CClientBar> bar;
};

TEST_F(ClientBar, TheTreeIsBuiltForThePeersAndTakesTheEnginesRows)
{
    dialogs::test::ModelTesterGuard guard;
    QAbstractItemModelTester tester(&Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    bar->SetPeers({"10.0.0.1", "10.0.0.2"});
    ASSERT_EQ(Model().rowCount(), 2);
    EXPECT_EQ(Model().headerData(1, Qt::Horizontal).toString(), QStringLiteral("Порт ->"));
    EXPECT_EQ(Model().headerData(2, Qt::Horizontal).toString(), QStringLiteral("<- Порт"));
    EXPECT_EQ(Model().headerData(3, Qt::Horizontal).toString(), QStringLiteral("Отправлено"));
    EXPECT_EQ(Model().headerData(4, Qt::Horizontal).toString(), QStringLiteral("Успешно"));
    const QModelIndex peer = Model().index(1, 0);
    EXPECT_EQ(Cell(peer, 0), QStringLiteral("10.0.0.2"));
    const QModelIndex pair = Model().index(0, 0, peer);
    EXPECT_EQ(Cell(pair, 0), QStringLiteral("Рабочая станция <-> Сервер"));
    EXPECT_FALSE(Model().data(pair, Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(Cell(Model().index(0, 0, pair), 0), QStringLiteral("TCP(2)"));
    EXPECT_TRUE(bar->Grid()->isExpanded(pair)) << "the tree is shown open";

    QSignalSpy changes(&Model(), &QAbstractItemModel::dataChanged);
    bar->OnClientRow(Row("10.0.0.2", channel::PROTOCOL_TCP, 5000, channel::EC_CONNECTED, 0, 0));
    bar->OnClientRow(Row("10.0.0.2", channel::PROTOCOL_TCP, 5000, channel::EC_SENT, 1, 0));
    bar->OnClientRow(Row("10.0.0.2", channel::PROTOCOL_TCP, 5000, channel::EC_RECEIVED, 1, 1));
    const QModelIndex first = Find(1, 1, 5000);
    EXPECT_EQ(Cell(first, 0), QStringLiteral("Данные получены"));
    EXPECT_EQ(Cell(first, 3), QStringLiteral("1"));
    EXPECT_EQ(Cell(first, 4), QStringLiteral("1"));
    // Both groups' rows of TCP 5000 took the row.
    int updated = 0;
    for (int node = 0; node < Model().Rows().NodeCount(); ++node) {
        const auto& n = Model().Rows().At(node);
        if (n.level == Level::Port && n.updated) {
            ++updated;
            EXPECT_EQ(n.pair.serverPort, 5000);
            EXPECT_EQ(n.image, core::CPortRows::ImageStreamAnswered);
        }
    }
    EXPECT_EQ(updated, 2);
    EXPECT_EQ(Cell(Find(0, 1, 5000), 0), QStringLiteral("...")) << "the other peer's rows stay";
    EXPECT_EQ(Cell(Find(0, 1, 5000), 3), QString());

    // A row for a port no longer in the grid (the scheme changed) is ignored.
    const int before = static_cast<int>(changes.count());
    bar->OnClientRow(Row("10.0.0.2", channel::PROTOCOL_TCP, 5999, channel::EC_SENT, 1, 0));
    EXPECT_EQ(changes.count(), before);

    // Code 10 after a failed connect keeps the failure's image; a fresh row
    // (no image) goes to the datagram's send.
    bar->OnClientRow(
        Row("10.0.0.2", channel::PROTOCOL_TCP, 5001, channel::EC_CONNECT_FAILED, 1, 0));
    bar->OnClientRow(Row("10.0.0.2", channel::PROTOCOL_TCP, 5001, channel::EC_SENT, 2, 0));
    EXPECT_EQ(Model().Rows().At(Model().NodeOf(Find(1, 1, 5001))).image,
              core::CPortRows::ImageFailed);
    bar->OnClientRow(Row("10.0.0.2", channel::PROTOCOL_IP, 253, channel::EC_SENT, 1, 0));
    EXPECT_EQ(Model().Rows().At(Model().NodeOf(Find(1, 3, 253))).image,
              core::CPortRows::ImageDatagramSent);
    EXPECT_FALSE(Model().data(Find(1, 3, 253), Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(Model().Rows().At(Model().NodeOf(Find(1, 1, 5000, Level::Pair))).image,
              core::CPortRows::ImagePairIncomplete);

    bar->Clear();
    EXPECT_EQ(Model().rowCount(), 0);
    bar->SetPeers({"10.0.0.3"});
    EXPECT_EQ(Model().rowCount(), 1);
}

TEST_F(ClientBar, TheCopyIsTheShownTreeAsTabbedText)
{
    bar->SetPeers({"10.0.0.1"});
    bar->OnClientRow(Row("10.0.0.1", channel::PROTOCOL_TCP, 5001, channel::EC_RECEIVED, 3, 3));
    channel::ClientRow udp = Row("10.0.0.1", channel::PROTOCOL_UDP, 7000, channel::EC_SENT, 1, 0);
    udp.port1 = 7001;
    udp.port2 = 7000;
    bar->OnClientRow(udp);
    const QString whole = QStringLiteral("10.0.0.1\r\n"
                                         "\tРабочая станция <-> Сервер\r\n"
                                         "\t\tTCP(2)\r\n"
                                         "\t\t\t...\t5000\t5000\t0\t0\r\n"
                                         "\t\t\tДанные получены\t5001\t5001\t3\t3\r\n"
                                         "\t\tUDP(1)\r\n"
                                         "\t\t\tДанные отправлены\t7001\t7000\t1\t0\r\n"
                                         "\tgw <-> mon\r\n"
                                         "\t\tTCP(1)\r\n"
                                         "\t\t\t...\t5000\t5000\t0\t0\r\n"
                                         "\t\tIP(1)\r\n"
                                         "\t\t\t...\t253\t253\t0\t0\r\n");
    EXPECT_EQ(bar->CopyText(), whole);
    ASSERT_TRUE(bar->Copy());
    EXPECT_EQ(QApplication::clipboard()->text(), whole) << "Unicode text on the clipboard";

    // A collapsed row hides what is under it, and so does the copy.
    bar->Grid()->collapse(Find(0, 3, 253, Level::Pair));
    EXPECT_TRUE(bar->CopyText().endsWith(QStringLiteral("\r\n\tgw <-> mon\r\n")));

    // Ctrl+C in the pane is the same command.
    QApplication::clipboard()->clear();
    bar->Grid()->setFocus();
    QTest::keyClick(bar->Grid(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), bar->CopyText());
    EXPECT_EQ(bar->CopyAction()->toolTip(), QStringLiteral("Скопировать значения в буфер обмена"));
}

TEST_F(ClientBar, AClipboardThatFailsWritesItsStepToTheErrorStream)
{
    bar->SetPeers({"10.0.0.1"});
    const struct
    {
        CFailingClipboard::Step step;
        const char* line;
    } cases[] = {{CFailingClipboard::Step::Open, "Open clipboard error.\n"},
                 {CFailingClipboard::Step::Empty, "Empty clipboard error.\n"},
                 {CFailingClipboard::Step::SetText, "Close clipboard error.\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        CFailingClipboard clipboard(c.step);
        bar->SetClipboard(&clipboard);
        testsupport::StreamCapture errors(Error);
        EXPECT_FALSE(bar->Copy());
        EXPECT_EQ(errors.Text(), c.line);
        EXPECT_NE(clipboard.text, bar->CopyText()) << "the copy ended at the failed step";
    }
    CFailingClipboard working;
    bar->SetClipboard(&working);
    testsupport::StreamCapture errors(Error);
    EXPECT_TRUE(bar->Copy());
    EXPECT_EQ(working.text, bar->CopyText());
    EXPECT_EQ(errors.Text(), "");
    bar->SetClipboard(nullptr);
}

TEST_F(ClientBar, TheContextMenuActsForTheRowsPeer)
{
    bar->SetPeers({"10.0.0.1", "10.0.0.2"});
    bar->Grid()->setFocus();

    // The menu key on the current row (a port row of the second peer).
    const QModelIndex port = Find(1, channel::PROTOCOL_TCP, 5001);
    bar->Grid()->setCurrentIndex(port);
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(1, 1),
                          bar->Grid()->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(bar->Grid(), &key);
    ASSERT_TRUE(bar->ContextMenu()->isVisible());
    EXPECT_EQ(bar->ContextMenu()->objectName(), QStringLiteral("Client menu"));
    QStringList texts;
    for (QAction* action : bar->ContextMenu()->actions())
        texts << action->text();
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Отфильтровать события"),
                                  QStringLiteral("Эхо-запрос"), QStringLiteral("Маршрут")}));
    EXPECT_EQ(bar->MenuPeer(), QStringLiteral("10.0.0.2"));
    bar->EchoAction()->trigger();
    bar->ContextMenu()->hide();
    EXPECT_EQ(host.echoFor, QStringList{QStringLiteral("10.0.0.2")});
    EXPECT_TRUE(host.routeFor.isEmpty());

    // A right click on a pair row of the first peer makes it current.
    const QModelIndex pair = Find(0, channel::PROTOCOL_TCP, 5000, Level::Pair);
    const QPoint at = bar->Grid()->visualRect(pair).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, bar->Grid()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(bar->Grid()->viewport(), &click);
    ASSERT_TRUE(bar->ContextMenu()->isVisible());
    EXPECT_EQ(bar->Grid()->currentIndex(), pair);
    EXPECT_EQ(bar->MenuPeer(), QStringLiteral("10.0.0.1"));
    bar->RouteAction()->trigger();
    bar->ContextMenu()->hide();
    EXPECT_EQ(host.routeFor, QStringList{QStringLiteral("10.0.0.1")});

    // Below the rows there is nothing to open a menu for.
    const QPoint below(10, bar->Grid()->viewport()->height() - 2);
    QContextMenuEvent empty(QContextMenuEvent::Mouse, below,
                            bar->Grid()->viewport()->mapToGlobal(below));
    QApplication::sendEvent(bar->Grid()->viewport(), &empty);
    EXPECT_FALSE(bar->ContextMenu()->isVisible());
}

TEST_F(ClientBar, FilteringByARowBuildsTheCriteriaFromItAndAppliesThem)
{
    bar->SetPeers({"10.0.0.1"});
    core::CAppLogic& logic = host.Logic();
    const std::string local = logic.LocalAddress().text;
    const std::vector<std::string> senders = {"10.0.0.1", local};
    const std::vector<std::string> receivers = {"10.0.0.1", "", local};
    const std::vector<channel::SchemeGroup> scheme = Scheme();

    auto filterOn = [&](const QModelIndex& index) {
        bar->OpenContextMenu(index, QPoint());
        bar->FilterAction()->trigger();
        bar->ContextMenu()->hide();
        EXPECT_TRUE(logic.Events().IsFilterActive());
        return logic.Events().Filter().Criteria().value_or(events::FilterCriteria{});
    };

    events::FilterCriteria peer = filterOn(Model().index(0, 0));
    EXPECT_EQ(peer.senders, senders);
    EXPECT_EQ(peer.receivers, receivers);
    EXPECT_TRUE(peer.protocols.empty());
    EXPECT_TRUE(peer.portGroups.empty());

    events::FilterCriteria pair = filterOn(Find(0, channel::PROTOCOL_IP, 253, Level::Pair));
    EXPECT_EQ(pair.senders, senders);
    EXPECT_EQ(pair.portGroups, std::vector<channel::SchemeGroup>{scheme[1]});
    EXPECT_TRUE(pair.protocols.empty());

    events::FilterCriteria protocol =
        filterOn(Find(0, channel::PROTOCOL_UDP, 7000, Level::Protocol));
    EXPECT_EQ(protocol.protocols, std::vector<std::int32_t>{channel::PROTOCOL_UDP});
    EXPECT_EQ(protocol.portGroups, std::vector<channel::SchemeGroup>{scheme[0]});

    events::FilterCriteria port = filterOn(Find(0, channel::PROTOCOL_TCP, 5001));
    EXPECT_EQ(port.protocols, std::vector<std::int32_t>{channel::PROTOCOL_TCP});
    ASSERT_EQ(port.portGroups.size(), 1u);
    EXPECT_EQ(port.portGroups[0].tcpPairs, (std::vector<channel::PortPair>{{5001, 0}}));
    EXPECT_TRUE(port.portGroups[0].udpPairs.empty());
    EXPECT_EQ(host.filterShown, (std::vector<bool>{true, true, true, true}));

    // What the filter lets through: the probes to the peer and its replies,
    // not another peer's.
    events::Event sent = events::MakeEvent(0, channel::EC_SENT, 0, channel::PROTOCOL_TCP,
                                           local.c_str(), "10.0.0.1", 5001, 5001);
    events::Event reply = events::MakeEvent(0, channel::EC_RECEIVED, 0, channel::PROTOCOL_TCP,
                                            "10.0.0.1", local.c_str(), 5001, 5001);
    events::Event other = events::MakeEvent(0, channel::EC_SENT, 0, channel::PROTOCOL_TCP,
                                            local.c_str(), "10.0.0.2", 5001, 5001);
    EXPECT_TRUE(logic.Events().Filter().Matches(sent));
    EXPECT_TRUE(logic.Events().Filter().Matches(reply));
    EXPECT_FALSE(logic.Events().Filter().Matches(other));
    logic.ClearFilter();
}

// A row's latest event was kept as an index into the event list, which a purge
// renumbers: after the purge at the start of the next check it named another
// event. The pane keeps the sequence number and looks the row up when asked.
TEST_F(ClientBar, ARowsLatestEventIsFoundBySequenceAfterAPurgeAndASort)
{
    bar->SetPeers({"10.0.0.1"});
    core::CAppLogic& logic = host.Logic();
    for (int i = 0; i < 5; ++i) // dropped by the purge below
        logic.AddEvent(0, channel::EC_OPENED, 0, channel::PROTOCOL_UDP, "10.0.0.9", 9000, 9000,
                       false);
    channel::ClientRow row =
        Row("10.0.0.1", channel::PROTOCOL_TCP, 5001, channel::EC_PORT_BUSY, 1, 0);
    row.eventIndex = logic.AddEvent(3, channel::EC_PORT_BUSY, 10048, channel::PROTOCOL_TCP,
                                    "10.0.0.1", 5001, 5001, false);
    const std::uint32_t sequence = logic.GetEvent(row.eventIndex)->sequence;
    bar->OnClientRow(row);
    const QModelIndex port = Find(0, channel::PROTOCOL_TCP, 5001);
    EXPECT_EQ(Model().Rows().At(Model().NodeOf(port)).eventSequence, sequence);

    logic.PurgeEvents(true); // keeps "Порт занят", drops the five before it
    for (int i = 0; i < 6; ++i)
        logic.AddEvent(0, channel::EC_SENT, 0, channel::PROTOCOL_TCP, "10.0.0.1", 5000, 5000,
                       false);
    logic.SortEvents(6, false, false); // sender port, descending
    ASSERT_TRUE(logic.GetEvent(row.eventIndex));
    ASSERT_NE(logic.GetEvent(row.eventIndex)->sequence, sequence)
        << "the old index names another event";

    bar->Grid()->setCurrentIndex(port);
    bar->Grid()->setFocus();
    QTest::keyClick(bar->Grid(), Qt::Key_Return);
    ASSERT_EQ(host.selectedRows.size(), 1u);
    const auto shown = logic.ShownEventAtRow(host.selectedRows[0]);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->sequence, sequence);
    EXPECT_EQ(shown->description, channel::EC_PORT_BUSY);

    // A row whose index no longer names its event takes no sequence from it.
    channel::ClientRow stale =
        Row("10.0.0.1", channel::PROTOCOL_TCP, 5000, channel::EC_RECEIVED, 1, 1);
    stale.eventIndex = 0; // now the "Порт занят" of 5001
    bar->OnClientRow(stale);
    EXPECT_EQ(Model().Rows().At(Model().NodeOf(Find(0, 1, 5000))).eventSequence, std::nullopt);
    EXPECT_FALSE(bar->SelectLatestEvent(Find(0, 1, 5000)));
    EXPECT_EQ(host.selectedRows.size(), 1u);
}

TEST_F(ClientBar, EveryControlIsNamedAndTheKeyboardReachesIt)
{
    bar->SetPeers({"10.0.0.1"});
    for (QWidget* widget : bar->findChildren<QWidget*>()) {
        if (widget->focusPolicy() & Qt::TabFocus) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
        }
    }
    QWidget* copy = bar->ToolBar()->widgetForAction(bar->CopyAction());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->accessibleName(), QStringLiteral("Скопировать значения в буфер обмена"));
    EXPECT_EQ(bar->Grid()->accessibleName(), QStringLiteral("Ход проверки каналов"));
    // Tab goes round the pane's controls: the copy button and the tree.
    bar->Grid()->setFocus();
    bool reached = false;
    for (int i = 0; i < 6 && !reached; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached = QApplication::focusWidget() == copy;
    }
    EXPECT_TRUE(reached) << "Tab reaches the copy button";
    QApplication::clipboard()->clear();
    QTest::keyClick(copy, Qt::Key_Space);
    EXPECT_EQ(QApplication::clipboard()->text(), bar->CopyText());
}

} // namespace
