// Start-up and the end: the window state kept across a restart, the two init
// blocks' failures, and the notices shown one at a time.

#include "app/CNoticeQueue.h"
#include "app/CommandIds.h"
#include "app/support/CAppFixture.h"
#include "ferrox/exceptions/EGeneric.h"
#include "panes/CDockPane.h"
#include "support/TestFiles.h"

#include <QAction>

#include <gtest/gtest.h>

using namespace app::cmd;
using apptest::CAppFixture;
using Kind = dialogs::test::CScriptedPrompt::Call::Kind;
using Frame = app::CMainFrame;

TEST(WindowState, GeometryCategoryAndFlagsSurviveARestart)
{
    CAppFixture fixture;
    const QString scheme = QString::fromStdString(fixture.WriteScheme("scheme.xml"));
    ASSERT_TRUE(fixture.Start({scheme}));
    {
        Frame& frame = fixture.Frame();
        frame.resize(900, 640);
        frame.Action(ID_VIEW_EVENTS)->trigger(); // events off
        frame.SwitchCategory(Frame::CategoryRoute);
        frame.Action(ID_VIEW_SETTINGS_TR)->trigger(); // route settings off
        ASSERT_TRUE(frame.close());
    }
    fixture.Stop();

    ASSERT_TRUE(fixture.Start({scheme}));
    Frame& frame = fixture.Frame();
    EXPECT_EQ(frame.size(), QSize(900, 640));
    EXPECT_EQ(frame.CurrentCategory(), Frame::CategoryRoute);
    EXPECT_FALSE(frame.ShowEvents());
    EXPECT_FALSE(frame.ShowRouteSettings());
    EXPECT_TRUE(frame.ShowClient());
    EXPECT_TRUE(frame.ShowEchoSettings());
    EXPECT_TRUE(frame.Dock(PANE_ROUTE_SETTINGS)->isHidden());
    EXPECT_FALSE(frame.Dock(PANE_ROUTE_TARGETS)->isHidden());
    frame.SwitchCategory(Frame::CategoryChannels);
    EXPECT_TRUE(frame.Dock(PANE_EVENTS)->isHidden());
    EXPECT_FALSE(frame.Dock(PANE_CLIENT)->isHidden());
}

TEST(WindowState, ADamagedSchemeIsReportedAsApplicationInitAndStartUpGoesOn)
{
    CAppFixture fixture;
    const std::string broken = fixture.Folder().File("broken.xml");
    testsupport::WriteBytes(broken, "<Chanels><Group");
    ASSERT_TRUE(fixture.Start({QString::fromStdString(broken)}));
    const auto errors = fixture.Prompt().CallsOf(Kind::ShowError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, QStringLiteral("Инициализация приложения"));
    EXPECT_FALSE(errors[0].technical.isEmpty());
    EXPECT_TRUE(fixture.Frame().isVisible());
    // The scheme in memory is not that file's.
    EXPECT_FALSE(fixture.Frame().Document().IsSaved());
}

TEST(WindowState, AFailingPaneIsReportedAsUserInterfaceInitAndStartUpEnds)
{
    CAppFixture fixture;
    panes::PaneFactory failing;
    failing.eventsPane = [](panes::IPaneHost&, QWidget*) -> panes::IEventsPane* {
        EGeneric error(false); // no report file for a test's own failure
        error.put_value("Text", _value_t("no grid"));
        throw error;
    };
    testsupport::StreamCapture error(Error);
    EXPECT_FALSE(fixture.Start({}, failing));
    EXPECT_NE(error.Text().find("Failed to create output bar\n"), std::string::npos);
    const auto errors = fixture.Prompt().CallsOf(Kind::ShowError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, QStringLiteral("Инициализация пользовательского интерфейса"));
    EXPECT_EQ(errors[0].error, QStringLiteral("no grid"));
}

TEST(WindowState, NoticesRaisedWhileOneIsUpWaitAndComeOneAtATime)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({}));
    app::CNoticeQueue& notices = fixture.Program().Notices();
    dialogs::test::CScriptedPrompt& prompt = fixture.Prompt();
    prompt.Clear();

    int shownDuringFirst = -1;
    prompt.OnNextCall([&] {
        // While the first box is up, two more notices arrive (as from a socket
        // notification handled inside the box's own event loop).
        notices.ShowError("Обработка серверных сообщений", "Code: 1", "второе");
        notices.ShowMessage("третье", true);
        shownDuringFirst = static_cast<int>(prompt.Calls().size());
    });
    notices.ShowError("Обработка клиентских сообщений", "Code: 2", "первое");
    EXPECT_TRUE(prompt.Calls().empty()); // nothing from inside the raiser
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return prompt.Calls().size() == 3; }));
    EXPECT_EQ(shownDuringFirst, 1);
    EXPECT_EQ(prompt.Calls()[0].error, QStringLiteral("первое"));
    EXPECT_EQ(prompt.Calls()[1].text, QStringLiteral("Обработка серверных сообщений"));
    EXPECT_EQ(prompt.Calls()[2].kind, Kind::Tell);
    EXPECT_EQ(prompt.Calls()[2].icon, dialogs::PromptIcon::Error);
    EXPECT_EQ(notices.Pending(), 0u);
}
