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
#include "dialogs/CAddChanelDlg.h"
#include "dialogs/COptionsDlg.h"
#include "dialogs/CSchemaEditorDlg.h"
#include "dialogs/CSchemeGridModel.h"
#include "dialogs/ChannelEntry.h"
#include "dialogs/support/ModalDriver.h"
#include "dialogs/support/ModelTesterGuard.h"
#include "support/FreePorts.h"
#include "panes/CClientBar.h"
#include "panes/CClientGridModel.h"
#include "panes/CEventBar.h"
#include "panes/CEventGrid.h"
#include "panes/CEventsModel.h"
#include "panes/CDockPane.h"
#include "panes/CPaneView.h"
#include "panes/CServerBar.h"
#include "panes/CServerReportModel.h"
#include "support/NetNamespaces.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeView>
#include <QElapsedTimer>
#include <QMenu>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
        events =
            qobject_cast<panes::CEventBar*>(fixture.Frame().Dock(app::cmd::PANE_EVENTS)->widget());
        return client && server && events;
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
    panes::CEventBar* events = nullptr;
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

// The event log in the window: the store's messages reach the program's own
// events pane once (it is the store's receiver, the window forwards nothing),
// and what the window does to the events (the purge of a restart and of a
// check's start, a filter from the other panes' menus, the clear of a scheme
// change, the server pane's double click, the pane's own export) acts on it.
TEST(ChannelPanes, TheEventLogFollowsEveryCommandOfTheWindow)
{
    ChannelProgram program(1, 200, false);
    std::vector<channel::SchemeGroup> edited = program.scheme.groups;
    app::FrameDialogs dialogs;
    dialogs.schemeEditor = [&edited](QWidget*, const std::vector<channel::SchemeGroup>&) {
        return std::optional<std::vector<channel::SchemeGroup>>(edited);
    };
    ASSERT_TRUE(program.Start(std::move(dialogs)));
    app::CMainFrame& frame = program.fixture.Frame();
    core::CAppLogic& logic = *frame.AttachedLogic();
    events::CEventStore& store = logic.Events();
    panes::CEventBar& bar = *program.events;
    panes::CEventsModel& model = *bar.Model();
    dialogs::test::ModelTesterGuard guard;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    EXPECT_EQ(store.EventsWindow(), bar.EventsWindow()) << "the pane is the store's receiver";

    // Every row the store shows is in the grid, once, and the status bar counts them.
    const auto inStep = [&] {
        return model.rowCount() == store.ShownRowCount() &&
               frame.StatusTexts().last() == QStringLiteral("События: %1 из %2")
                                                 .arg(store.ShownRowCount())
                                                 .arg(store.GetEventCount());
    };
    const int ports = program.PortRows();
    ASSERT_TRUE(CAppFixture::WaitFor(
        [&] { return program.server->Model()->Rows().OpenCount() == ports && inStep(); }));
    EXPECT_GE(model.rowCount(), ports) << "one event per open port at least";

    // The server pane's restart purges the events: the grid follows at once.
    program.server->RestartAction()->trigger();
    EXPECT_EQ(model.rowCount(), store.ShownRowCount());
    ASSERT_TRUE(CAppFixture::WaitFor(
        [&] { return program.server->Model()->Rows().OpenCount() == ports && inStep(); }));

    // A check of this node: the events of its probes come in.
    QSignalSpy finished(&frame, &app::CMainFrame::clientCheckFinished);
    frame.AddressBox(app::CMainFrame::CategoryChannels)->setEditText(QStringLiteral("127.0.0.1"));
    frame.Action(app::cmd::IDC_BTN_START_CL)->trigger();
    EXPECT_EQ(model.rowCount(), store.ShownRowCount()) << "the purge of the start is shown at once";
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return finished.count() == 1; }, 60s));
    ASSERT_TRUE(CAppFixture::WaitFor(inStep));
    const int all = model.rowCount();
    EXPECT_GT(all, ports);

    // A filter from the client pane's menu: the log shows it filtered at once.
    const core::CPortRows& rows = program.client->Model()->Rows();
    program.client->OpenContextMenu(
        program.client->Model()->IndexOfNode(PortNodes(rows, Level::Pair)[0]), QPoint());
    program.client->FilterAction()->trigger();
    program.client->ContextMenu()->hide();
    EXPECT_TRUE(bar.IsFiltered());
    EXPECT_TRUE(bar.FilterAction()->isChecked());
    EXPECT_TRUE(bar.RemoveFilterAction()->isEnabled());
    // The filter runs through the events on the pool; the grid follows.
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return inStep() && model.rowCount() > 0; }));
    EXPECT_LT(model.rowCount(), all) << "only the first channel pair's events";

    // The pane's own "Убрать фильтр": the window sees it too.
    bar.RemoveFilterAction()->trigger();
    EXPECT_FALSE(frame.FilterShown());
    EXPECT_FALSE(bar.RemoveFilterAction()->isEnabled());
    EXPECT_EQ(model.rowCount(), store.ShownRowCount());

    // The server pane's double click selects that port's latest event in the log.
    const int reportRow = 0;
    const std::optional<std::uint32_t> sequence =
        program.server->Model()->Rows().At(reportRow).eventSequence;
    ASSERT_TRUE(sequence.has_value());
    ASSERT_TRUE(program.server->SelectLatestEvent(program.server->Model()->IndexOfRow(reportRow)));
    ASSERT_TRUE(bar.SelectedSequence().has_value());
    EXPECT_EQ(*bar.SelectedSequence(), *sequence);

    // A filter from the server pane, then a scheme change clears it.
    program.server->OpenContextMenu(program.server->Model()->index(0, 0), QPoint());
    program.server->FilterAction()->trigger();
    program.server->ContextMenu()->hide();
    EXPECT_TRUE(bar.IsFiltered());
    frame.EditScheme();
    EXPECT_FALSE(bar.IsFiltered());
    EXPECT_FALSE(bar.FilterAction()->isChecked());
    EXPECT_FALSE(bar.RemoveFilterAction()->isEnabled());
    ASSERT_TRUE(CAppFixture::WaitFor(inStep));

    // "Сохранить данные в файл": the shown rows and a header line.
    const std::string csv = program.fixture.Folder().File("events");
    program.fixture.Prompt().QueuePath(QString::fromStdString(csv));
    QSignalSpy exported(&bar, &panes::CEventBar::exportFinished);
    bar.SaveAction()->trigger();
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return exported.count() == 1; }));
    EXPECT_EQ(exported.at(0).at(0).value<panes::CEventExport::Result>(),
              panes::CEventExport::Result::Saved);
    std::ifstream file(csv + ".csv", std::ios::binary);
    ASSERT_TRUE(file.good());
    int lines = 0;
    for (std::string line; std::getline(file, line);)
        ++lines;
    EXPECT_GE(lines, 1 + ports);
}

// The scheme editor and the options dialog from the window, as a user runs them:
// "Редактировать схему", a channel edited, one deleted, one added, "Применить";
// the window then serves the new scheme, marks it unsaved, empties the client
// tree and drops the filter; "Со&хранить" writes what the editor made. Then
// "Настройки" with new values and "Применить": the logic has them and
// options.xml holds them.
namespace {

// Fills the channel dialog as a user would and presses "Применить".
void FillChannel(dialogs::CAddChanelDlg& dialog, const dialogs::ChannelEntry& entry)
{
    auto* protocolBox = dialog.findChild<QComboBox*>("protocol");
    protocolBox->setCurrentIndex(protocolBox->findText(QString::fromStdWString(entry.protocol)));
    const auto name = [](QComboBox* combo, const std::wstring& text) {
        const int listed = combo->findText(QString::fromStdWString(text));
        if (listed >= 0) {
            combo->setCurrentIndex(listed);
        } else {
            combo->lineEdit()->selectAll();
            QTest::keyClick(combo->lineEdit(), Qt::Key_Backspace);
            combo->lineEdit()->insert(QString::fromStdWString(text));
        }
    };
    name(dialog.findChild<QComboBox*>("senderName"), entry.senderName);
    name(dialog.findChild<QComboBox*>("receiverName"), entry.receiverName);
    for (auto [field, port] : {std::pair{"senderPort", entry.senderPort},
                               std::pair{"receiverPort", entry.receiverPort}}) {
        auto* edit = dialog.findChild<QLineEdit*>(field);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, QString::number(port));
    }
    QTest::mouseClick(dialog.findChild<QPushButton*>("apply"), Qt::LeftButton);
}

std::vector<channel::SchemeGroup> GroupsOf(const core::CAppLogic& logic)
{
    std::vector<channel::SchemeGroup> groups;
    for (const auto& group : logic.Settings().Groups())
        groups.push_back(*group);
    return groups;
}

bool HasPort(const channel::PortList& ports, std::uint16_t port)
{
    return std::find(ports.begin(), ports.end(), port) != ports.end();
}

} // namespace

TEST(SchemeRoundTrip, TheEditorsApplyServesTheNewSchemeAndSaveWritesIt)
{
    using dialogs::test::ActOnNextModal;
    ChannelProgram program(1, 200, false);
    ASSERT_TRUE(program.Start(app::ProgramDialogs()));
    app::CMainFrame& frame = program.fixture.Frame();
    core::CAppLogic& logic = *frame.AttachedLogic();
    const int ports = program.PortRows();
    ASSERT_TRUE(CAppFixture::WaitFor(
        [&] { return program.server->Model()->Rows().OpenCount() == ports; }));

    // What the user changes, as channels of the editor's list.
    std::vector<dialogs::ChannelEntry> channels = dialogs::ChannelEntriesOf(GroupsOf(logic));
    std::vector<std::size_t> tcp;
    for (std::size_t i = 0; i < channels.size(); ++i)
        if (channels[i].protocol == L"TCP")
            tcp.push_back(i);
    ASSERT_GE(tcp.size(), 2u);
    const std::uint16_t deletedPort = channels[tcp[0]].senderPort;
    const std::uint16_t editedOldPort = channels[tcp[1]].senderPort;
    const std::uint16_t editedPort = testsupport::FreePort(SOCK_STREAM);
    std::uint16_t addedPort = testsupport::FreePort(SOCK_STREAM);
    while (addedPort == editedPort)
        addedPort = testsupport::FreePort(SOCK_STREAM);
    dialogs::ChannelEntry edited = channels[tcp[1]];
    edited.senderPort = edited.receiverPort = editedPort;
    const dialogs::ChannelEntry added{L"TCP", L"Новый", L"Узел", addedPort, addedPort};
    std::vector<dialogs::ChannelEntry> expectedChannels = channels;
    expectedChannels[tcp[1]] = edited;
    expectedChannels.erase(expectedChannels.begin() + static_cast<std::ptrdiff_t>(tcp[0]));
    expectedChannels.push_back(added);
    const std::vector<channel::SchemeGroup> expected = dialogs::GroupsOfChannels(expectedChannels);

    // A tree in the client pane and a filter, both to go with the change.
    program.client->SetPeers({"198.18.0.1"});
    const core::CPortRows& rows = program.client->Model()->Rows();
    program.client->OpenContextMenu(
        program.client->Model()->IndexOfNode(PortNodes(rows, Level::Pair)[0]), QPoint());
    program.client->FilterAction()->trigger();
    program.client->ContextMenu()->hide();
    ASSERT_TRUE(frame.FilterShown());
    ASSERT_TRUE(frame.Document().IsSaved());

    auto editor = ActOnNextModal<dialogs::CSchemaEditorDlg>([&](dialogs::CSchemaEditorDlg& d) {
        auto* grid = d.findChild<QTreeView*>("grid");
        auto* model = qobject_cast<dialogs::CSchemeGridModel*>(grid->model());
        grid->setCurrentIndex(model->IndexOfRow(static_cast<int>(tcp[1])));
        ActOnNextModal<dialogs::CAddChanelDlg>(
            [&](dialogs::CAddChanelDlg& c) { FillChannel(c, edited); });
        d.EditChannel();
        grid->setCurrentIndex(model->IndexOfRow(static_cast<int>(tcp[0])));
        d.DeleteChannel();
        ActOnNextModal<dialogs::CAddChanelDlg>(
            [&](dialogs::CAddChanelDlg& c) { FillChannel(c, added); });
        d.AddChannel();
        QTest::mouseClick(d.findChild<QPushButton*>("apply"), Qt::LeftButton);
    });
    frame.Action(app::cmd::IDC_BTN_SCHEMA)->trigger();
    ASSERT_TRUE(editor.Done());

    EXPECT_EQ(GroupsOf(logic), expected);
    EXPECT_FALSE(frame.Document().IsSaved());
    EXPECT_TRUE(frame.windowTitle().startsWith(QStringLiteral("*"))) << frame.windowTitle().toStdString();
    EXPECT_EQ(program.client->Model()->rowCount(), 0) << "the client tree is emptied";
    EXPECT_FALSE(frame.FilterShown());
    EXPECT_FALSE(program.events->IsFiltered());

    // The servers follow the scheme: the new ports listen, the old ones do not.
    const channel::PortList& tcpPorts = logic.Settings().TcpPorts();
    ASSERT_TRUE(HasPort(tcpPorts, editedPort));
    ASSERT_TRUE(HasPort(tcpPorts, addedPort));
    const core::CServerRows& report = program.server->Model()->Rows();
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return report.OpenCount() == report.Count(); }))
        << program.server->CopyText().toStdString();
    EXPECT_TRUE(CAppFixture::TcpPortAnswers(editedPort));
    EXPECT_TRUE(CAppFixture::TcpPortAnswers(addedPort));
    bool listed = false;
    for (int row = 0; row < report.Count(); ++row)
        listed = listed || (report.At(row).port == addedPort &&
                            report.At(row).protocol == channel::PROTOCOL_TCP);
    EXPECT_TRUE(listed) << program.server->CopyText().toStdString();
    for (std::uint16_t gone : {deletedPort, editedOldPort}) {
        if (!HasPort(tcpPorts, gone)) {
            EXPECT_FALSE(CAppFixture::TcpPortAnswers(gone)) << gone;
        }
    }

    // "Со&хранить" writes the edited scheme to its file.
    frame.Action(app::cmd::ID_FILE_SAVE)->trigger();
    EXPECT_TRUE(frame.Document().IsSaved());
    EXPECT_FALSE(frame.windowTitle().startsWith(QStringLiteral("*")));
    core::CXmlSettings reread;
    reread.ReadScheme(program.fixture.Folder().File("example.xml"));
    std::vector<channel::SchemeGroup> saved;
    for (const auto& group : reread.Groups())
        saved.push_back(*group);
    EXPECT_EQ(saved, expected);

    // "Настройки": "Отмена" leaves options.xml as it was, "Применить" writes it.
    const std::string optionsPath = program.fixture.Folder().File("config") + "/Kanaliko/options.xml";
    const std::string before = testsupport::ReadBytes(optionsPath);
    auto cancelled = ActOnNextModal<dialogs::COptionsDlg>([](dialogs::COptionsDlg& d) {
        d.findChild<QSpinBox*>("timeOut")->setValue(4321);
        QTest::mouseClick(d.findChild<QPushButton*>("cancel"), Qt::LeftButton);
    });
    frame.Action(app::cmd::IDC_BTN_SETTINGS_CL)->trigger();
    ASSERT_TRUE(cancelled.Done());
    EXPECT_EQ(testsupport::ReadBytes(optionsPath), before);
    EXPECT_EQ(logic.Settings().TimeOut(), 200);

    auto applied = ActOnNextModal<dialogs::COptionsDlg>([](dialogs::COptionsDlg& d) {
        d.findChild<QSpinBox*>("timeOut")->setValue(4321);
        d.findChild<QSpinBox*>("maxSendCount")->setValue(7);
        d.findChild<QSpinBox*>("sendDataSize")->setValue(123);
        // Typed and not yet committed: counts all the same.
        auto* delay = d.findChild<QSpinBox*>("timeSendDelay");
        delay->findChild<QLineEdit*>()->selectAll();
        QTest::keyClicks(delay->findChild<QLineEdit*>(), QStringLiteral("3"));
        QTest::mouseClick(d.findChild<QPushButton*>("apply"), Qt::LeftButton);
    });
    frame.Action(app::cmd::IDC_BTN_SETTINGS_CL)->trigger();
    ASSERT_TRUE(applied.Done());
    EXPECT_EQ(logic.Settings().TimeOut(), 4321);
    EXPECT_EQ(logic.Settings().MaxSendCount(), 7);
    EXPECT_EQ(logic.Settings().SendDataSize(), 123);
    EXPECT_EQ(logic.Settings().TimeSendDelay(), 3);
    core::CXmlSettings written;
    written.ReadOptions(optionsPath);
    EXPECT_EQ(written.TimeOut(), 4321);
    EXPECT_EQ(written.MaxSendCount(), 7);
    EXPECT_EQ(written.SendDataSize(), 123);
    EXPECT_EQ(written.TimeSendDelay(), 3);
}

// "Стоп" in the middle of a check of this node: the check ends long before its
// three rounds would, the rows keep what came so far, and Start is back.
TEST(ChannelPanes, StopInTheMiddleOfACheckKeepsTheRowsSoFar)
{
    ChannelProgram program(3, 1000, false);
    ASSERT_TRUE(program.Start());
    app::CMainFrame& frame = program.fixture.Frame();
    const int ports = program.PortRows();
    ASSERT_TRUE(CAppFixture::WaitFor(
        [&] { return program.server->Model()->Rows().OpenCount() == ports; }));
    const core::CPortRows& rows = program.client->Model()->Rows();
    QSignalSpy finished(&frame, &app::CMainFrame::clientCheckFinished);
    frame.AddressBox(app::CMainFrame::CategoryChannels)->setEditText(QStringLiteral("127.0.0.1"));
    frame.Action(app::cmd::IDC_BTN_START_CL)->trigger();
    // The first round's answers (a round a second: three rounds take three).
    ASSERT_TRUE(CAppFixture::WaitFor([&] {
        for (int node : PortNodes(rows))
            if (rows.At(node).replies > 0)
                return true;
        return false;
    }));
    EXPECT_FALSE(frame.Action(app::cmd::IDC_BTN_START_CL)->isEnabled());
    frame.Action(app::cmd::IDC_BTN_STOP_CL)->trigger();
    EXPECT_FALSE(frame.ClientCheckRunning());
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return finished.count() == 1; }, 10s));
    int unfinished = 0;
    int answered = 0;
    for (int node : PortNodes(rows)) {
        unfinished += rows.At(node).attempts < 3 ? 1 : 0;
        answered += rows.At(node).replies > 0 ? 1 : 0;
    }
    EXPECT_GT(unfinished, 0) << "stopped before the last round";
    EXPECT_GT(answered, 0) << "the rows keep what came";
    EXPECT_TRUE(frame.Action(app::cmd::IDC_BTN_START_CL)->isEnabled());
    EXPECT_FALSE(frame.Action(app::cmd::IDC_BTN_STOP_CL)->isEnabled());
}
