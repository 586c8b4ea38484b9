// Categories, views and docks: which view and which docks each category shows,
// and the four visibility flags that the "Вид" toggles flip.

#include "app/CommandIds.h"
#include "app/support/CAppFixture.h"
#include "panes/CDockPane.h"

#include <QAction>
#include <QApplication>
#include <QStackedWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace app::cmd;
using apptest::CAppFixture;
using Frame = app::CMainFrame;

namespace {

bool Shown(Frame& frame, int paneId)
{
    return !frame.Dock(paneId)->isHidden();
}

QWidget* CurrentView(Frame& frame)
{
    return frame.findChild<QStackedWidget*>(QStringLiteral("views"))->currentWidget();
}

} // namespace

TEST(FrameViews, EachCategoryShowsItsViewAndItsDocks)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({}));
    Frame& frame = fixture.Frame();

    EXPECT_EQ(frame.Dock(PANE_CLIENT)->windowTitle(), QStringLiteral("Каналы связи"));
    EXPECT_EQ(frame.Dock(PANE_EVENTS)->windowTitle(), QStringLiteral("События"));
    EXPECT_EQ(frame.Dock(PANE_ECHO_TARGETS)->windowTitle(), QStringLiteral("Узлы"));
    EXPECT_EQ(frame.Dock(PANE_ECHO_SETTINGS)->windowTitle(), QStringLiteral("Настройки"));
    EXPECT_EQ(frame.Dock(PANE_ROUTE_TARGETS)->windowTitle(), QStringLiteral("Узлы"));
    EXPECT_EQ(frame.Dock(PANE_ROUTE_SETTINGS)->windowTitle(), QStringLiteral("Настройки"));
    EXPECT_EQ(frame.CurrentCategory(), Frame::CategoryChannels);
    EXPECT_EQ(CurrentView(frame), frame.View(Frame::CategoryChannels));
    EXPECT_TRUE(Shown(frame, PANE_CLIENT));
    EXPECT_TRUE(Shown(frame, PANE_EVENTS));
    for (int pane : {PANE_ECHO_TARGETS, PANE_ECHO_SETTINGS, PANE_ROUTE_TARGETS, PANE_ROUTE_SETTINGS})
        EXPECT_FALSE(Shown(frame, pane)) << pane;

    frame.SwitchCategory(Frame::CategoryEcho);
    EXPECT_EQ(CurrentView(frame), frame.View(Frame::CategoryEcho));
    EXPECT_TRUE(Shown(frame, PANE_ECHO_TARGETS));
    EXPECT_TRUE(Shown(frame, PANE_ECHO_SETTINGS));
    for (int pane : {PANE_CLIENT, PANE_EVENTS, PANE_ROUTE_TARGETS, PANE_ROUTE_SETTINGS})
        EXPECT_FALSE(Shown(frame, pane)) << pane;
    // The settings are attached to their targets pane as a tab.
    EXPECT_TRUE(frame.tabifiedDockWidgets(frame.Dock(PANE_ECHO_TARGETS))
                    .contains(frame.Dock(PANE_ECHO_SETTINGS)));

    // Ctrl+3: the route category from the keyboard.
    QApplication::setActiveWindow(&frame);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QTest::keyClick(&frame, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(frame.CurrentCategory(), Frame::CategoryRoute);
    EXPECT_EQ(CurrentView(frame), frame.View(Frame::CategoryRoute));
    EXPECT_TRUE(Shown(frame, PANE_ROUTE_TARGETS));
    EXPECT_TRUE(Shown(frame, PANE_ROUTE_SETTINGS));
    for (int pane : {PANE_CLIENT, PANE_EVENTS, PANE_ECHO_TARGETS, PANE_ECHO_SETTINGS})
        EXPECT_FALSE(Shown(frame, pane)) << pane;
    EXPECT_TRUE(frame.tabifiedDockWidgets(frame.Dock(PANE_ROUTE_TARGETS))
                    .contains(frame.Dock(PANE_ROUTE_SETTINGS)));
}

TEST(FrameViews, AHiddenPaneStaysHiddenAcrossCategorySwitches)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({}));
    Frame& frame = fixture.Frame();

    QAction* events = frame.Action(ID_VIEW_EVENTS);
    ASSERT_TRUE(events->isChecked());
    events->trigger();
    EXPECT_FALSE(frame.ShowEvents());
    EXPECT_FALSE(events->isChecked());
    EXPECT_FALSE(Shown(frame, PANE_EVENTS));
    EXPECT_TRUE(Shown(frame, PANE_CLIENT));

    frame.SwitchCategory(Frame::CategoryEcho);
    // The echo settings off as well, then back to channels.
    frame.Action(ID_VIEW_SETTINGS_PING)->trigger();
    EXPECT_FALSE(Shown(frame, PANE_ECHO_SETTINGS));
    EXPECT_TRUE(Shown(frame, PANE_ECHO_TARGETS));
    frame.SwitchCategory(Frame::CategoryChannels);
    EXPECT_FALSE(frame.ShowEvents());
    EXPECT_FALSE(Shown(frame, PANE_EVENTS));
    EXPECT_TRUE(Shown(frame, PANE_CLIENT));
    frame.SwitchCategory(Frame::CategoryEcho);
    EXPECT_FALSE(Shown(frame, PANE_ECHO_SETTINGS));
    EXPECT_FALSE(frame.Action(ID_VIEW_SETTINGS_PING)->isChecked());

    // On again: shown, and still shown after a round trip.
    frame.SwitchCategory(Frame::CategoryChannels);
    events->trigger();
    EXPECT_TRUE(Shown(frame, PANE_EVENTS));
    frame.SwitchCategory(Frame::CategoryRoute);
    frame.SwitchCategory(Frame::CategoryChannels);
    EXPECT_TRUE(Shown(frame, PANE_EVENTS));
    EXPECT_TRUE(events->isChecked());
}

TEST(FrameViews, ClosingADockWithItsButtonClearsItsFlag)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({}));
    Frame& frame = fixture.Frame();
    frame.Dock(PANE_CLIENT)->close();
    EXPECT_FALSE(frame.ShowClient());
    EXPECT_FALSE(frame.Action(ID_VIEW_CLIENT)->isChecked());
    frame.SwitchCategory(Frame::CategoryRoute);
    frame.SwitchCategory(Frame::CategoryChannels);
    EXPECT_FALSE(Shown(frame, PANE_CLIENT));
}

// The left column holds the channel tree or the echo or route targets: each
// category keeps its own width there, so the narrow targets do not leave their
// results squeezed, and the tree gets its width back.
TEST(FrameViews, EachCategoryKeepsItsOwnWidthOfTheLeftColumn)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({}));
    Frame& frame = fixture.Frame();
    frame.resize(1366, 768);
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return frame.Dock(PANE_CLIENT)->width() > 0; }));
    QApplication::processEvents(); // the first sizing of the docks
    const int line = frame.fontMetrics().height();

    frame.SwitchCategory(Frame::CategoryEcho);
    QApplication::processEvents();
    const int echo = frame.Dock(PANE_ECHO_TARGETS)->width();
    EXPECT_LT(echo, line * 30) << "the targets get a narrow column";
    EXPECT_GT(frame.View(Frame::CategoryEcho)->width(), frame.width() / 2);

    frame.SwitchCategory(Frame::CategoryChannels);
    QApplication::processEvents();
    const int channels = frame.Dock(PANE_CLIENT)->width();
    EXPECT_GT(channels, line * 36) << "the channel tree gets its width back";

    // A width the user gave a category comes back with it.
    frame.resizeDocks({frame.Dock(PANE_CLIENT)}, {channels - line * 4}, Qt::Horizontal);
    QApplication::processEvents();
    const int narrowed = frame.Dock(PANE_CLIENT)->width();
    frame.SwitchCategory(Frame::CategoryRoute);
    QApplication::processEvents();
    EXPECT_LT(frame.Dock(PANE_ROUTE_TARGETS)->width(), line * 30);
    frame.SwitchCategory(Frame::CategoryChannels);
    QApplication::processEvents();
    EXPECT_EQ(frame.Dock(PANE_CLIENT)->width(), narrowed);
}
