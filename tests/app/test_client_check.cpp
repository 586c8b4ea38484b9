// The client check from the ribbon: which peers it probes, the box for a bad
// address, the end by itself and by Stop. The schemes here have no channels,
// so the clients open no sockets and nothing is sent anywhere while the loop
// goes through the peers (198.18.0.x are unrouted test addresses all the same).

#include "app/CommandIds.h"
#include "app/support/CAppFixture.h"
#include "app/support/CFakePanes.h"
#include "core/CAppLogic.h"
#include "support/NetNamespaces.h"

#include <QAction>
#include <QComboBox>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <unistd.h>

using namespace app::cmd;
using apptest::CAppFixture;
using Kind = dialogs::test::CScriptedPrompt::Call::Kind;

TEST(ClientCheck, ABadAddressGetsOneBoxAndTheValidOnesAreProbedInOrder)
{
    CAppFixture fixture(1); // about a second per peer
    apptest::FakePanes panes;
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("empty.xml", false))},
                              panes.Factory()));
    app::CMainFrame& frame = fixture.Frame();
    QSignalSpy peers(&frame, &app::CMainFrame::clientPeerStarted);
    QSignalSpy finished(&frame, &app::CMainFrame::clientCheckFinished);

    frame.AddressBox(0)->setEditText(QStringLiteral("198.18.0.1; 198.18.0.2 198.18.0.300"));
    frame.Action(IDC_BTN_START_CL)->trigger();

    EXPECT_EQ(fixture.Prompt().Texts(Kind::Tell),
              QStringList{QStringLiteral("Адрес 198.18.0.300 содержит ошибку")});
    const std::vector<std::string> expected{"198.18.0.1", "198.18.0.2"};
    EXPECT_EQ(frame.ClientAddresses(), expected);
    ASSERT_EQ(panes.client->peers.size(), 1u);
    EXPECT_EQ(panes.client->peers[0], expected);
    // Not every piece was valid: the text is not kept in the list.
    EXPECT_EQ(frame.AddressBox(0)->findText(QStringLiteral("198.18.0.1; 198.18.0.2 198.18.0.300")),
              -1);

    ASSERT_TRUE(CAppFixture::WaitFor([&] { return finished.count() == 1; }));
    ASSERT_EQ(peers.count(), 2);
    EXPECT_EQ(peers.at(0).at(0).toString(), QStringLiteral("198.18.0.1"));
    EXPECT_EQ(peers.at(0).at(1).toInt(), 1);
    EXPECT_EQ(peers.at(1).at(0).toString(), QStringLiteral("198.18.0.2"));
    EXPECT_EQ(peers.at(1).at(2).toInt(), 2);
    EXPECT_FALSE(frame.ClientCheckRunning());
    EXPECT_TRUE(frame.Action(IDC_BTN_START_CL)->isEnabled());
    EXPECT_FALSE(frame.Action(IDC_BTN_STOP_CL)->isEnabled());
}

TEST(ClientCheck, AnEmptyBoxEndsTheCheckAtOnceByItself)
{
    CAppFixture fixture(30);
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("empty.xml", false))}));
    app::CMainFrame& frame = fixture.Frame();
    QSignalSpy peers(&frame, &app::CMainFrame::clientPeerStarted);
    QSignalSpy finished(&frame, &app::CMainFrame::clientCheckFinished);
    frame.AddressBox(0)->setEditText(QStringLiteral("   "));
    frame.Action(IDC_BTN_START_CL)->trigger();
    // Well within one peer's 30 s: no peer at all.
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return finished.count() == 1; }, std::chrono::seconds(10)));
    EXPECT_EQ(peers.count(), 0);
    EXPECT_TRUE(fixture.Prompt().Calls().empty());
    EXPECT_FALSE(frame.ClientCheckRunning());
    EXPECT_TRUE(frame.Action(IDC_BTN_START_CL)->isEnabled());
}

TEST(ClientCheck, StopEndsTheWaitAtOnce)
{
    CAppFixture fixture(30); // 30 s per peer unless stopped
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("empty.xml", false))}));
    app::CMainFrame& frame = fixture.Frame();
    QSignalSpy peers(&frame, &app::CMainFrame::clientPeerStarted);
    QSignalSpy finished(&frame, &app::CMainFrame::clientCheckFinished);
    frame.AddressBox(0)->setEditText(QStringLiteral("198.18.0.1 198.18.0.2"));
    frame.Action(IDC_BTN_START_CL)->trigger();
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return peers.count() == 1; }));
    EXPECT_TRUE(frame.StatusTexts().join(' ').contains(QStringLiteral("198.18.0.1")));
    // Shift+F5 is the current category's Stop.
    frame.Actions().StopCurrent()->trigger();
    EXPECT_FALSE(frame.ClientCheckRunning());
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return finished.count() == 1; }, std::chrono::seconds(10)));
    // The second peer was never started.
    EXPECT_EQ(peers.count(), 1);
}

TEST(ClientCheck, ClosingTheWindowWhileACheckRunsEndsTheLoopFirst)
{
    CAppFixture fixture(30);
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("empty.xml", false))}));
    app::CMainFrame& frame = fixture.Frame();
    QSignalSpy peers(&frame, &app::CMainFrame::clientPeerStarted);
    frame.AddressBox(0)->setEditText(QStringLiteral("198.18.0.1"));
    frame.Actions().StartCurrent()->trigger(); // F5
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return peers.count() == 1; }));
    core::CClientCheck* check = frame.ClientCheck();
    ASSERT_TRUE(frame.close());
    // The loop is over before the frame (and then the logic) may go.
    EXPECT_TRUE(check->WaitForEnd(0));
    fixture.Stop();
}

// The same start with real channels, probing for real: the whole test process
// runs in a network namespace of its own that has nothing but a loopback, so
// the probes to 198.18.0.1 and .2 fail on the spot and nothing leaves the
// machine. The test starts itself again under `unshare --net` and checks the
// child's result.
namespace {

constexpr const char* kChildMarker = "KANALIKO_APP_NETNS_CHILD";

// In the child: the frame probes the two valid peers and never the bad one.
void ProbeInIsolatedNamespace()
{
    ASSERT_EQ(testsupport::RunCommand("ip link set lo up"), 0);
    // No route but loopback: the assumption that makes the probes harmless.
    ASSERT_EQ(testsupport::CommandOutput("ip -4 route show"), "");
    CAppFixture fixture(1);
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("scheme.xml"))}));
    app::CMainFrame& frame = fixture.Frame();
    QSignalSpy finished(&frame, &app::CMainFrame::clientCheckFinished);
    frame.AddressBox(0)->setEditText(QStringLiteral("198.18.0.1; 198.18.0.2 198.18.0.300"));
    frame.Action(IDC_BTN_START_CL)->trigger();
    EXPECT_EQ(fixture.Prompt().Texts(Kind::Tell),
              QStringList{QStringLiteral("Адрес 198.18.0.300 содержит ошибку")});
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return finished.count() == 1; }));
    CAppFixture::WaitFor([] { return false; }, std::chrono::milliseconds(200)); // last posts

    std::map<std::string, int> probed; // receiver -> events of the TCP or UDP port probed
    core::CAppLogic& logic = *fixture.Program().Logic();
    for (int i = 0; i < logic.GetEventCount(); ++i) {
        const auto event = logic.GetEvent(i);
        if (event && (event->receiverPort == fixture.tcpPort || event->receiverPort == fixture.udpPort))
            ++probed[event->receiverText];
    }
    EXPECT_GT(probed["198.18.0.1"], 0);
    EXPECT_GT(probed["198.18.0.2"], 0);
    EXPECT_EQ(probed.count("198.18.0.300"), 0u);
}

} // namespace

TEST(ClientCheck, InAnIsolatedNetworkTheTwoValidPeersAreProbed)
{
    if (std::getenv(kChildMarker)) {
        ProbeInIsolatedNamespace();
        return;
    }
    if (!testsupport::IsRoot())
        GTEST_SKIP() << "needs root for a network namespace of its own (CI runs as root)";
    const std::string self = testsupport::CommandOutput("readlink -n /proc/" +
                                                        std::to_string(::getpid()) + "/exe");
    ASSERT_FALSE(self.empty());
    const int status = testsupport::RunCommand(
        std::string(kChildMarker) + "=1 unshare --net -- " + self +
        " --gtest_filter=ClientCheck.InAnIsolatedNetworkTheTwoValidPeersAreProbed >&2");
    EXPECT_EQ(status, 0) << "the run inside the namespace failed (its output is above)";
}
