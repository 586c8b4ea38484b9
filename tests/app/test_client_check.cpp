// The client check from the ribbon: which peers it probes, the box for a bad
// address, the end by itself and by Stop. The schemes here have no channels,
// so the clients open no sockets and nothing is sent anywhere while the loop
// goes through the peers (198.18.0.x are unrouted test addresses all the same).

#include "app/CommandIds.h"
#include "app/support/CAppFixture.h"
#include "app/support/CFakePanes.h"

#include <QAction>
#include <QComboBox>
#include <QSignalSpy>

#include <gtest/gtest.h>

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
