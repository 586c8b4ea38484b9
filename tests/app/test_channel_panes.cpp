// The whole channel check from the window with the program's own client and
// server panes: this node checks itself on a copy of the example scheme (free
// ports), and a peer behind a router that drops everything for it. Typed
// peers, "Старт", rows filling, the early move-on, the open ports, the client
// menu's commands and a scheme change.

#include "app/CommandIds.h"
#include "app/ProgramParts.h"
#include "app/support/CAppFixture.h"
#include "app/support/CFakePanes.h"
#include "channel/EventCodes.h"
#include "core/CAppLogic.h"
#include "core/support/LogicTestSupport.h"
#include "dialogs/support/ModelTesterGuard.h"
#include "panes/CClientBar.h"
#include "panes/CClientGridModel.h"
#include "panes/CDockPane.h"
#include "panes/CPaneView.h"
#include "panes/CServerBar.h"
#include "panes/CServerReportModel.h"
#include "support/NetNamespaces.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using apptest::CAppFixture;
using Level = core::CPortRows::Level;

namespace {

using namespace std::chrono_literals;

// The program with its own channel panes and recording echo and route screens.
struct ChannelProgram
{
    explicit ChannelProgram(int maxSendCount, int timeOut, bool withIp) : fixture(maxSendCount)
    {
        // A long TimeOut makes the peer's full wait long (it is counted from
        // TimeOut); answers on loopback come at once all the same.
        testsupport::WriteBytes(fixture.Folder().File("config") + "/Kanaliko/options.xml",
                                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options><TimeOut>" +
                                    std::to_string(timeOut) +
                                    "</TimeOut><TimeSendDelay>1</TimeSendDelay><MaxSendCount>" +
                                    std::to_string(maxSendCount) +
                                    "</MaxSendCount><SendDataSize>10</SendDataSize></Options>\n");
        scheme = coretest::WriteRelocatedExample(fixture.Folder().File("example.xml"), withIp);
    }

    bool Start(app::FrameDialogs dialogs = {})
    {
        panes::PaneFactory factory = app::ProgramPanes();
        const panes::PaneFactory fakes = screens.Factory();
        factory.echoScreen = fakes.echoScreen;
        factory.routeScreen = fakes.routeScreen;
        if (!fixture.Start({QString::fromStdString(fixture.Folder().File("example.xml"))},
                           std::move(factory), std::move(dialogs)))
            return false;
        client =
            qobject_cast<panes::CClientBar*>(fixture.Frame().Dock(app::cmd::PANE_CLIENT)->widget());
        server = qobject_cast<panes::CServerBar*>(
            static_cast<panes::CPaneView*>(fixture.Frame().View(0))->Content());
        return client && server;
    }

    // Port rows in the example copy (IP rows only when it has them).
    int PortRows() const
    {
        int rows = 0;
        for (const channel::SchemeGroup& group : scheme.groups)
            rows += static_cast<int>(group.tcpPairs.size() + group.udpPairs.size() +
                                     group.ipPairs.size());
        return rows;
    }

    CAppFixture fixture;
    apptest::FakePanes screens;
    coretest::RelocatedScheme scheme;
    panes::CClientBar* client = nullptr;
    panes::CServerBar* server = nullptr;
};

// Every port row of the tree, as nodes.
std::vector<int> PortNodes(const core::CPortRows& rows, Level level = Level::Port)
{
    std::vector<int> nodes;
    for (int node = 0; node < rows.NodeCount(); ++node)
        if (rows.At(node).level == level)
            nodes.push_back(node);
    return nodes;
}

void CheckThisNode(bool withIp)
{
    ChannelProgram program(3, 1000, withIp);
    ASSERT_TRUE(program.Start());
    app::CMainFrame& frame = program.fixture.Frame();
    panes::CClientGridModel& tree = *program.client->Model();
    panes::CServerReportModel& report = *program.server->Model();

    dialogs::test::ModelTesterGuard guard;
    QAbstractItemModelTester treeTester(&tree,
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
    QAbstractItemModelTester reportTester(&report,
                                          QAbstractItemModelTester::FailureReportingMode::Warning);
    // Nothing in a pane may be touched from the engine's or the check's threads.
    int offThread = 0;
    auto onGuiThread = [&offThread] {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            ++offThread;
    };
    for (QAbstractItemModel* model :
         {static_cast<QAbstractItemModel*>(&tree), static_cast<QAbstractItemModel*>(&report)}) {
        QObject::connect(model, &QAbstractItemModel::dataChanged, onGuiThread);
        QObject::connect(model, &QAbstractItemModel::modelReset, onGuiThread);
    }

    const int ports = program.PortRows();
    ASSERT_EQ(report.Rows().Count(), ports);
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return report.Rows().OpenCount() == ports; }))
        << program.server->CopyText().toStdString();

    QSignalSpy started(&frame, &app::CMainFrame::clientPeerStarted);
    QSignalSpy finished(&frame, &app::CMainFrame::clientCheckFinished);
    QElapsedTimer peerTime;
    QObject::connect(&frame, &app::CMainFrame::clientPeerStarted,
                     [&peerTime] { peerTime.start(); });
    frame.AddressBox(app::CMainFrame::CategoryChannels)->setEditText(QStringLiteral("127.0.0.1"));
    frame.Action(app::cmd::IDC_BTN_START_CL)->trigger();
    ASSERT_EQ(tree.rowCount(), 1) << "the tree is built for the peer at the start";
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return finished.count() == 1; }, 60s));
    const qint64 took = peerTime.elapsed();
    const std::uint32_t fullWait = frame.ClientCheck()->PeerWaitMs();
    EXPECT_EQ(fullWait, (3u * 1000 * 3 + 1000) * 3) << "three TCP ports of the example";
    EXPECT_LT(took, fullWait / 3) << "moved on once every port had finished";
    EXPECT_EQ(started.count(), 1);

    const core::CPortRows& rows = tree.Rows();
    ASSERT_EQ(static_cast<int>(PortNodes(rows).size()), ports);
    for (int node : PortNodes(rows)) {
        SCOPED_TRACE(std::to_string(rows.At(node).protocol) + ":" +
                     std::to_string(rows.At(node).pair.serverPort));
        const QModelIndex index = tree.IndexOfNode(node);
        EXPECT_EQ(tree.data(index).toString(), QStringLiteral("Данные получены"));
        EXPECT_EQ(tree.data(index.siblingAtColumn(3)).toString(), QStringLiteral("3"));
        EXPECT_EQ(tree.data(index.siblingAtColumn(4)).toString(), QStringLiteral("3"));
        EXPECT_EQ(rows.At(node).image, rows.At(node).protocol == channel::PROTOCOL_TCP
                                           ? core::CPortRows::ImageStreamAnswered
                                           : core::CPortRows::ImageDatagramAnswered);
        EXPECT_TRUE(rows.At(node).eventSequence.has_value());
    }
    for (int node : PortNodes(rows, Level::Pair))
        EXPECT_EQ(rows.At(node).image, core::CPortRows::ImagePairAnswered);
    EXPECT_EQ(report.Rows().OpenCount(), ports) << "the ports stay open through the check";
    EXPECT_EQ(offThread, 0);

    // "Эхо-запрос" and "Маршрут" on a port row: the category with the peer in
    // its box, and nothing started.
    const QModelIndex port = tree.IndexOfNode(PortNodes(rows).back());
    program.client->OpenContextMenu(port, frame.mapToGlobal(QPoint(10, 10)));
    program.client->EchoAction()->trigger();
    EXPECT_EQ(frame.CurrentCategory(), app::CMainFrame::CategoryEcho);
    EXPECT_EQ(frame.AddressBox(app::CMainFrame::CategoryEcho)->currentText(),
              QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(frame.EchoRunning());
    EXPECT_TRUE(program.screens.echo->started.empty());
    program.client->OpenContextMenu(port, frame.mapToGlobal(QPoint(10, 10)));
    program.client->RouteAction()->trigger();
    EXPECT_EQ(frame.CurrentCategory(), app::CMainFrame::CategoryRoute);
    EXPECT_EQ(frame.AddressBox(app::CMainFrame::CategoryRoute)->currentText(),
              QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(frame.RouteRunning());
    EXPECT_TRUE(program.screens.route->started.empty());
    program.client->ContextMenu()->hide();
    frame.SwitchCategory(app::CMainFrame::CategoryChannels);
}

} // namespace

TEST(ChannelPanes, ThisNodeChecksItselfAndBothPanesFill)
{
    CheckThisNode(false);
}

TEST(ChannelPanes, ThisNodeChecksItselfWithItsRawIpChannels)
{
    KANALIKO_SKIP_UNLESS_RAW();
    CheckThisNode(true);
}

// A filter from a pane's context menu and the clear of a scheme change: the
// window's filtered state follows the logic's filter both ways.
TEST(ChannelPanes, FilteredStateFollowsTheContextMenuAndTheSchemeChange)
{
    ChannelProgram program(1, 200, false);
    std::vector<channel::SchemeGroup> edited = program.scheme.groups;
    edited.pop_back();
    app::FrameDialogs dialogs;
    dialogs.schemeEditor = [&edited](QWidget*, const std::vector<channel::SchemeGroup>&) {
        return std::optional<std::vector<channel::SchemeGroup>>(edited);
    };
    ASSERT_TRUE(program.Start(std::move(dialogs)));
    app::CMainFrame& frame = program.fixture.Frame();
    program.client->SetPeers({"198.18.0.1"}); // a tree to act on; nothing is probed
    EXPECT_FALSE(frame.FilterShown());

    const core::CPortRows& rows = program.client->Model()->Rows();
    program.client->OpenContextMenu(
        program.client->Model()->IndexOfNode(PortNodes(rows, Level::Pair)[0]), QPoint());
    program.client->FilterAction()->trigger();
    program.client->ContextMenu()->hide();
    EXPECT_TRUE(frame.FilterShown()) << "a filter from the client pane";

    frame.EditScheme();
    EXPECT_FALSE(frame.FilterShown()) << "the scheme change removed it";
    EXPECT_FALSE(frame.AttachedLogic()->Events().IsFilterActive());
    EXPECT_EQ(program.client->Model()->rowCount(), 0) << "the tree is emptied";
    const int ports =
        program.PortRows() - static_cast<int>(program.scheme.groups.back().udpPairs.size() +
                                              program.scheme.groups.back().ipPairs.size() +
                                              program.scheme.groups.back().tcpPairs.size());
    EXPECT_EQ(program.server->Model()->Rows().Count(), ports) << "the report follows the scheme";

    // A group row of the report filters too.
    const QModelIndex group = program.server->Model()->index(0, 0);
    program.server->OpenContextMenu(group, QPoint());
    program.server->FilterAction()->trigger();
    program.server->ContextMenu()->hide();
    EXPECT_TRUE(frame.FilterShown()) << "a filter from the server pane";
}

// A peer that does not serve: this node (host a) probes 198.18.69.9, for which
// the router drops everything.
//
//   a 198.18.61.2 --- r 198.18.61.1   (r: blackhole 198.18.69.0/24)
//
// The test starts itself again inside host a and checks the child's result.
namespace {

constexpr const char* kChildMarker = "KANALIKO_APP_CHANNEL_PANES_CHILD";

void CheckAPeerThatDoesNotAnswer()
{
    const bool withIp = testsupport::HasCapNetRaw();
    ChannelProgram program(2, 50, withIp);
    ASSERT_TRUE(program.Start());
    app::CMainFrame& frame = program.fixture.Frame();
    QSignalSpy finished(&frame, &app::CMainFrame::clientCheckFinished);
    frame.AddressBox(app::CMainFrame::CategoryChannels)->setEditText(QStringLiteral("198.18.69.9"));
    frame.Action(app::cmd::IDC_BTN_START_CL)->trigger();
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return finished.count() == 1; }, 60s));

    const core::CPortRows& rows = program.client->Model()->Rows();
    ASSERT_EQ(static_cast<int>(PortNodes(rows).size()), program.PortRows());
    for (int node : PortNodes(rows)) {
        const core::CPortRows::Node& row = rows.At(node);
        SCOPED_TRACE(std::to_string(row.protocol) + ":" + std::to_string(row.pair.serverPort));
        EXPECT_TRUE(row.updated);
        EXPECT_GT(row.attempts, 0);
        EXPECT_EQ(row.replies, 0);
        if (row.protocol == channel::PROTOCOL_TCP) {
            EXPECT_EQ(row.code, static_cast<std::uint32_t>(channel::EC_CONNECT_FAILED));
            EXPECT_EQ(row.image, core::CPortRows::ImageFailed);
        } else {
            EXPECT_EQ(row.code, static_cast<std::uint32_t>(channel::EC_SENT));
            EXPECT_EQ(row.image, core::CPortRows::ImageDatagramSent);
        }
    }
    for (int node : PortNodes(rows, Level::Pair))
        EXPECT_EQ(rows.At(node).image, core::CPortRows::ImagePairIncomplete);
}

} // namespace

TEST(ChannelPanes, APeerThatDoesNotServeLeavesItsRowsWithoutReplies)
{
    if (std::getenv(kChildMarker)) {
        CheckAPeerThatDoesNotAnswer();
        return;
    }
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    testsupport::TestNamespaces net;
    const std::string a = net.Add("a");
    const std::string r = net.Add("r");
    net.Link(a, "198.18.61.2/24", r, "198.18.61.1/24");
    net.Route(a, "default", "198.18.61.1");
    net.Forwarding(r);
    net.Blackhole(r, "198.18.69.0/24");
    const std::string self =
        testsupport::CommandOutput("readlink -n /proc/" + std::to_string(::getpid()) + "/exe");
    ASSERT_FALSE(self.empty());
    const int status = testsupport::RunCommand(
        std::string(kChildMarker) + "=1 ip netns exec " + a + " " + self +
        " --gtest_filter=ChannelPanes.APeerThatDoesNotServeLeavesItsRowsWithoutReplies >&2");
    EXPECT_EQ(status, 0) << "the run inside host a failed (its output is above)";
}
