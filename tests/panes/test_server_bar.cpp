// The server pane over real servers on free loopback ports: the rows of the
// scheme, the states the servers report (an open port stays open), grouping,
// the copy, the restart, the group row's filter, and the latest event found
// by sequence number.

#include "channel/EventCodes.h"
#include "dialogs/support/ModelTesterGuard.h"
#include "events/CEventSort.h"
#include "panes/CPaneTreeView.h"
#include "panes/CServerBar.h"
#include "panes/CServerReportModel.h"
#include "panes/support/ChannelPaneKit.h"
#include "support/FreePorts.h"
#include "support/NetNamespaces.h"
#include "support/TestFiles.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <sys/socket.h>

namespace {

using channeltest::CPaneHostRig;
using channeltest::RunUntil;
using testsupport::FreePort;

class ServerBar : public ::testing::Test
{
protected:
    // Group A: TCP t1, UDP (u, uc); group B: TCP t1 again and TCP t2.
    void Start(bool withIp = false)
    {
        channel::SchemeGroup a;
        a.senderName = L"A";
        a.receiverName = L"B";
        a.tcpPairs = {{t1, 0}};
        a.udpPairs = {{u, uc}};
        if (withIp)
            a.ipPairs = {{253, 0}};
        channel::SchemeGroup b;
        b.senderName = L"C";
        b.receiverName = L"D";
        b.tcpPairs = {{t1, 0}, {t2, 0}};
        host.Load({a, b});
        bar = std::make_unique<panes::CServerBar>(host);
        host.SetPanes(nullptr, bar.get());
        bar->resize(700, 400);
        bar->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(bar.get()));
    }
    // Every row shows a report (all "Порт открыт" unless expected otherwise).
    bool WaitForOpen(int rows)
    {
        return RunUntil([&] { return bar->Model()->Rows().OpenCount() == rows; });
    }
    QString Cell(int row, int column)
    {
        return bar->Model()->data(bar->Model()->IndexOfRow(row, column)).toString();
    }

    const std::uint16_t t1 = FreePort(SOCK_STREAM);
    const std::uint16_t t2 = FreePort(SOCK_STREAM);
    const std::uint16_t u = FreePort(SOCK_DGRAM);
    const std::uint16_t uc = FreePort(SOCK_DGRAM);
    CPaneHostRig host;
    std::unique_ptr<panes::CServerBar> bar;
};

// The same TCP port in two groups is one listening socket: the logic's second
// row for it is "Порт занят" (its socket finds the port taken), yet the pane
// shows both groups' rows open, as the port is.
TEST_F(ServerBar, EveryPortOfTheSchemeOpensAndAnOpenRowKeepsItsState)
{
    Start();
    dialogs::test::ModelTesterGuard guard;
    QAbstractItemModelTester tester(bar->Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    bar->Refill(); // before the servers start: nothing reported yet
    ASSERT_EQ(bar->Model()->Rows().Count(), 4);
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(Cell(row, 0), QStringLiteral("..."));
    host.RestartServers();
    ASSERT_TRUE(WaitForOpen(4)) << bar->CopyText().toStdString();
    // The logic's four rows (TCP t1 twice, t2, UDP u) each posted its report.
    ASSERT_TRUE(RunUntil([&] { return host.serverRowMessages == 4; }));
    EXPECT_EQ(host.offThreadCalls, 0);
    EXPECT_EQ(bar->Model()->Rows().OpenCount(), 4);

    bool busySeen = false;
    for (const core::ServerRow& row : host.Logic().ServerRows())
        busySeen = busySeen || (row.port == t1 && row.state == channel::EC_PORT_BUSY);
    EXPECT_TRUE(busySeen) << "the logic's second row of the port";
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(Cell(row, 0), QStringLiteral("Порт открыт"));
        EXPECT_FALSE(bar->Model()
                         ->data(bar->Model()->IndexOfRow(row, 0), Qt::DecorationRole)
                         .value<QIcon>()
                         .isNull());
    }
    EXPECT_EQ(Cell(0, 1), QStringLiteral("TCP"));
    EXPECT_EQ(Cell(0, 2), QString::number(t1));
    EXPECT_EQ(Cell(0, 3), QStringLiteral("A <-> B"));
    EXPECT_EQ(Cell(0, 4), QString::number(100000 + t1)) << "the key";

    // A message for a row the logic has not reported yet changes nothing.
    host.Logic().ClearServerRows();
    bar->OnServerRowChanged(0);
    bar->OnServerRowChanged(99);
    EXPECT_EQ(bar->Model()->Rows().OpenCount(), 4);

    // Restart: rows made anew, and open again.
    bar->RestartAction()->trigger();
    EXPECT_EQ(host.restarts, 2);
    ASSERT_TRUE(WaitForOpen(4));
}

TEST_F(ServerBar, RawIpRowsOpenWithRightsAndSayWhenThereAreNone)
{
    if (!testsupport::HasCapNetRaw()) {
        std::printf("[   INFO   ] without root or CAP_NET_RAW: the IP row must say so\n");
        Start(true);
        host.RestartServers();
        ASSERT_TRUE(RunUntil([&] { return Cell(2, 0) != QStringLiteral("..."); }));
        EXPECT_EQ(Cell(2, 1), QStringLiteral("IP"));
        EXPECT_EQ(Cell(2, 0), QStringLiteral("Нужны права администратора"));
        EXPECT_EQ(bar->Model()->Rows().At(2).image, core::CServerRows::ImageFailed);
        GTEST_SKIP() << "needs root or CAP_NET_RAW to open the IP row (CI runs as root)";
    }
    Start(true);
    host.RestartServers();
    ASSERT_TRUE(WaitForOpen(5));
    EXPECT_EQ(Cell(2, 1), QStringLiteral("IP"));
    EXPECT_EQ(Cell(2, 2), QStringLiteral("253"));
    EXPECT_TRUE(bar->CopyText().contains(QStringLiteral("Порт открыт\tIP\t253\r\n")));
}

TEST_F(ServerBar, TheCopyFollowsTheGroupingAndThePairColumn)
{
    Start();
    host.RestartServers();
    ASSERT_TRUE(WaitForOpen(4));
    EXPECT_TRUE(bar->IsGrouped());
    EXPECT_TRUE(bar->GroupAction()->isChecked());
    EXPECT_TRUE(bar->Report()->isColumnHidden(panes::CServerReportModel::PairColumn));
    EXPECT_TRUE(bar->Report()->isColumnHidden(panes::CServerReportModel::IdColumn));
    EXPECT_EQ(bar->Report()->header()->sortIndicatorSection(), 1) << "sorted by protocol";
    const QString p1 = QString::number(t1), p2 = QString::number(t2), pu = QString::number(u);
    const QString grouped = "A <-> B\r\n"
                            "Порт открыт\tTCP\t" +
                            p1 +
                            "\r\n"
                            "Порт открыт\tUDP\t" +
                            pu +
                            "\r\n"
                            "C <-> D\r\n"
                            "Порт открыт\tTCP\t" +
                            p1 +
                            "\r\n"
                            "Порт открыт\tTCP\t" +
                            p2 + "\r\n";
    EXPECT_EQ(bar->CopyText(), grouped);
    ASSERT_TRUE(bar->Copy());
    EXPECT_EQ(QApplication::clipboard()->text(), grouped);

    // A collapsed group shows only its line.
    bar->Report()->collapse(bar->Model()->index(0, 0));
    EXPECT_TRUE(bar->CopyText().startsWith(QStringLiteral("A <-> B\r\nC <-> D\r\n")));

    // Off: the pair column is shown, and copied.
    bar->GroupAction()->trigger();
    EXPECT_FALSE(bar->IsGrouped());
    EXPECT_FALSE(bar->Report()->isColumnHidden(panes::CServerReportModel::PairColumn));
    EXPECT_TRUE(bar->Report()->isColumnHidden(panes::CServerReportModel::IdColumn));
    const QString flat = "Порт открыт\tTCP\t" + p1 +
                         "\tA <-> B\r\n"
                         "Порт открыт\tTCP\t" +
                         p1 +
                         "\tC <-> D\r\n"
                         "Порт открыт\tTCP\t" +
                         p2 +
                         "\tC <-> D\r\n"
                         "Порт открыт\tUDP\t" +
                         pu + "\tA <-> B\r\n";
    EXPECT_EQ(bar->CopyText(), flat);
    QApplication::clipboard()->clear();
    bar->Report()->setFocus();
    QTest::keyClick(bar->Report(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), flat);
    bar->GroupAction()->trigger();
    EXPECT_EQ(bar->CopyText(), grouped) << "grouped again, and open again";
    EXPECT_EQ(bar->GroupAction()->toolTip(),
              QStringLiteral("Группировать значения по отправителю и получателю"));
    EXPECT_EQ(bar->RestartAction()->toolTip(), QStringLiteral("Перезапустить сервер"));
    EXPECT_EQ(bar->CopyAction()->toolTip(), QStringLiteral("Скопировать значения в буфер обмена"));
}

TEST_F(ServerBar, AGroupRowFiltersTheEventsOfItsPorts)
{
    Start();
    host.RestartServers();
    ASSERT_TRUE(WaitForOpen(4));
    bar->Report()->setFocus();
    // A port row has no menu.
    bar->Report()->setCurrentIndex(bar->Model()->IndexOfRow(0));
    QContextMenuEvent onRow(QContextMenuEvent::Keyboard, QPoint(1, 1),
                            bar->Report()->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(bar->Report(), &onRow);
    EXPECT_FALSE(bar->ContextMenu()->isVisible());

    const QModelIndex group = bar->Model()->index(1, 0);
    const QPoint at = bar->Report()->visualRect(group).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at,
                            bar->Report()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(bar->Report()->viewport(), &click);
    ASSERT_TRUE(bar->ContextMenu()->isVisible());
    EXPECT_EQ(bar->ContextMenu()->objectName(), QStringLiteral("FilterSettings"));
    EXPECT_EQ(bar->MenuGroup(), QStringLiteral("C <-> D"));
    bar->FilterAction()->trigger();
    bar->ContextMenu()->hide();
    ASSERT_TRUE(host.Logic().Events().IsFilterActive());
    const events::FilterCriteria criteria = *host.Logic().Events().Filter().Criteria();
    ASSERT_EQ(criteria.portGroups.size(), 1u);
    EXPECT_EQ(criteria.portGroups[0].senderName, L"C");
    EXPECT_EQ(criteria.portGroups[0].tcpPairs, (std::vector<channel::PortPair>{{t1, 0}, {t2, 0}}));
    EXPECT_EQ(host.filterShown, std::vector<bool>{true});
    host.Logic().ClearFilter();
}

// A row's latest event was kept as an index into the event list: the purge at
// the start of a check renumbers the list, so a double click selected another
// event. The row keeps the event's sequence number and is found by it.
TEST_F(ServerBar, ADoubleClickAfterAPurgeAndASortSelectsTheRowsEvent)
{
    Start();
    // Events before the servers' reports, which the purge drops.
    for (int i = 0; i < 4; ++i)
        host.Logic().AddEvent(0, channel::EC_SENT, 0, channel::PROTOCOL_TCP, "10.0.0.1", 9000, 9000,
                              false);
    host.Logic().ClearServerRows();
    host.Logic().StartServers(0);
    bar->Refill();
    ASSERT_TRUE(WaitForOpen(4));
    const int t2Row = 3; // group C <-> D, second TCP port
    ASSERT_EQ(Cell(t2Row, 2), QString::number(t2));
    const std::optional<std::uint32_t> sequence = bar->Model()->Rows().At(t2Row).eventSequence;
    ASSERT_TRUE(sequence);

    host.Logic().PurgeEvents(true); // as a check's start does
    host.Logic().SortEvents(events::COL_SENDER_PORT, false, false);
    // What the logic's row says now names another event.
    for (const core::ServerRow& row : host.Logic().ServerRows()) {
        if (row.port == t2) {
            const auto stale = host.Logic().GetEvent(row.eventIndex);
            EXPECT_TRUE(!stale || stale->sequence != *sequence);
        }
    }

    const QModelIndex index = bar->Model()->IndexOfRow(t2Row, 1);
    bar->Report()->scrollTo(index);
    const QPoint at = bar->Report()->visualRect(index).center();
    QTest::mouseClick(bar->Report()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(bar->Report()->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(host.selectedRows.size(), 1u);
    const auto shown = host.Logic().ShownEventAtRow(host.selectedRows[0]);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->sequence, *sequence);
    EXPECT_EQ(shown->senderPort, t2);
    EXPECT_EQ(shown->description, channel::EC_PORT_OPEN);

    // A group row selects nothing.
    EXPECT_FALSE(bar->SelectLatestEvent(bar->Model()->index(0, 0)));
    // Enter on the current row does the same as the double click.
    bar->Report()->setCurrentIndex(index);
    QTest::keyClick(bar->Report(), Qt::Key_Return);
    EXPECT_EQ(host.selectedRows.size(), 2u);
}

TEST_F(ServerBar, EveryControlIsNamedAndTheKeyboardReachesIt)
{
    Start();
    for (QWidget* widget : bar->findChildren<QWidget*>()) {
        if (widget->focusPolicy() & Qt::TabFocus) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
        }
    }
    QWidget* restart = bar->ToolBar()->widgetForAction(bar->RestartAction());
    QWidget* group = bar->ToolBar()->widgetForAction(bar->GroupAction());
    ASSERT_TRUE(restart && group);
    bar->Report()->setFocus();
    bool reachedRestart = false, reachedGroup = false;
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reachedRestart = reachedRestart || QApplication::focusWidget() == restart;
        reachedGroup = reachedGroup || QApplication::focusWidget() == group;
    }
    EXPECT_TRUE(reachedRestart && reachedGroup);
    group->setFocus();
    QTest::keyClick(group, Qt::Key_Space);
    EXPECT_FALSE(bar->IsGrouped()) << "the toggle by keyboard";
    restart->setFocus();
    QTest::keyClick(restart, Qt::Key_Space);
    EXPECT_EQ(host.restarts, 1);
}

} // namespace
