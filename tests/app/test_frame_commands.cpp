// The ribbon's commands: every command of the table with its caption and
// identifier, and which of them are enabled (and checked) in each state.

#include "app/CommandIds.h"
#include "app/CRibbonBar.h"
#include "app/support/CAppFixture.h"
#include "app/support/CFakePanes.h"
#include "core/CAppLogic.h"

#include <QAbstractButton>
#include <QAction>
#include <QTabBar>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace app::cmd;
using apptest::CAppFixture;

namespace {

struct Expected
{
    int id;
    const char* caption;
};

const Expected kTable[] = {
    {ID_FILE_NEW, "&Создать"},
    {ID_FILE_OPEN, "&Открыть..."},
    {ID_FILE_SAVE, "Со&хранить"},
    {ID_FILE_SAVE_AS, "Сохранить &как..."},
    {ID_APP_EXIT, "В&ыход"},
    {IDC_CMB_ADDR_CL, "IP адрес"},
    {IDC_BTN_START_CL, "Старт"},
    {IDC_BTN_STOP_CL, "Стоп"},
    {IDC_BTN_SETTINGS_CL, "Настройки"},
    {IDC_BTN_SCHEMA, "Редактировать схему"},
    {IDC_BTN_CC, "Проверить связь с СД"},
    {ID_VIEW_CLIENT, "Каналы связи"},
    {ID_VIEW_EVENTS, "События"},
    {IDC_CMB_ADDR_PING, "IP адрес"},
    {IDC_BTN_START_PING, "Старт"},
    {IDC_BTN_STOP_PING, "Стоп"},
    {ID_VIEW_SETTINGS_PING, "Настройки"},
    {IDC_CMB_ADDR_TR, "IP адрес"},
    {IDC_BTN_START_TR, "Старт"},
    {IDC_BTN_STOP_TR, "Стоп"},
    {ID_VIEW_SETTINGS_TR, "Настройки"},
    {ID_APP_ABOUT, "О программе"},
};

// The enabled commands of the frame, by identifier.
std::set<int> EnabledIds(app::CMainFrame& frame)
{
    std::set<int> enabled;
    for (const Expected& row : kTable)
        if (frame.Action(row.id)->isEnabled())
            enabled.insert(row.id);
    return enabled;
}

// Always enabled, whatever runs.
const std::set<int> kAlways = {ID_FILE_NEW,         ID_FILE_OPEN,          ID_FILE_SAVE,
                               ID_FILE_SAVE_AS,     ID_APP_EXIT,           ID_APP_ABOUT,
                               IDC_BTN_SETTINGS_CL, IDC_BTN_SCHEMA,        ID_VIEW_CLIENT,
                               ID_VIEW_EVENTS,      ID_VIEW_SETTINGS_PING, ID_VIEW_SETTINGS_TR};

std::set<int> With(std::set<int> ids, std::initializer_list<int> more)
{
    ids.insert(more);
    return ids;
}

} // namespace

TEST(FrameCommands, EveryCommandOfTheTableIsOneActionWithItsCaptionAndId)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("scheme.xml"))}));
    const QList<QAction*> actions = fixture.Frame().findChildren<QAction*>();
    for (const Expected& row : kTable) {
        int found = 0;
        for (QAction* action : actions) {
            bool isInt = false;
            if (action->data().toInt(&isInt) == row.id && isInt) {
                ++found;
                EXPECT_EQ(action->text(), QString::fromUtf8(row.caption)) << row.id;
            }
        }
        EXPECT_EQ(found, 1) << "command " << row.id;
    }
    // The view toggles are check-style; the categories are the three tabs.
    for (int id : {ID_VIEW_CLIENT, ID_VIEW_EVENTS, ID_VIEW_SETTINGS_PING, ID_VIEW_SETTINGS_TR})
        EXPECT_TRUE(fixture.Frame().Action(id)->isCheckable()) << id;
    app::CRibbonBar* ribbon = fixture.Frame().Ribbon();
    ASSERT_EQ(ribbon->CategoryCount(), 3);
    EXPECT_EQ(ribbon->CategoryCaption(0), QStringLiteral("Каналы связи"));
    EXPECT_EQ(ribbon->CategoryCaption(1), QStringLiteral("Эхо-запрос"));
    EXPECT_EQ(ribbon->CategoryCaption(2), QStringLiteral("Маршрут"));
    // Standard keys for the file commands.
    EXPECT_EQ(fixture.Frame().Action(ID_FILE_SAVE)->shortcut(), QKeySequence(QKeySequence::Save));
    EXPECT_EQ(fixture.Frame().Action(ID_APP_EXIT)->shortcut(),
              QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST(FrameCommands, EveryRibbonControlIsNamedAndReachableByKeyboard)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({}));
    app::CRibbonBar* ribbon = fixture.Frame().Ribbon();
    int controls = 0;
    for (QWidget* widget : ribbon->findChildren<QWidget*>()) {
        if (!qobject_cast<QAbstractButton*>(widget) && !qobject_cast<QComboBox*>(widget) &&
            !qobject_cast<QTabBar*>(widget))
            continue;
        ++controls;
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
        EXPECT_TRUE(widget->focusPolicy() & Qt::TabFocus) << widget->objectName().toStdString();
    }
    // Файл, three quick-access buttons, О программе, the tabs, three boxes and
    // eleven large buttons.
    EXPECT_GE(controls, 20);
}

TEST(FrameCommands, EnablingFollowsTheStateIdleCheckEchoRoute)
{
    CAppFixture fixture(30); // 30 s per peer: the check runs until stopped
    apptest::FakePanes panes;
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("empty.xml", false))},
                              panes.Factory()));
    app::CMainFrame& frame = fixture.Frame();

    const std::set<int> idle =
        With(kAlways, {IDC_CMB_ADDR_CL, IDC_BTN_START_CL, IDC_BTN_CC, IDC_CMB_ADDR_PING,
                       IDC_BTN_START_PING, IDC_CMB_ADDR_TR, IDC_BTN_START_TR});
    EXPECT_EQ(EnabledIds(frame), idle);

    // A check running (a scheme without ports: nothing is sent anywhere).
    frame.AddressBox(0)->setEditText(QStringLiteral("198.18.0.1"));
    frame.Action(IDC_BTN_START_CL)->trigger();
    ASSERT_TRUE(frame.ClientCheckRunning());
    EXPECT_EQ(EnabledIds(frame), With(kAlways, {IDC_BTN_STOP_CL, IDC_CMB_ADDR_PING,
                                                IDC_BTN_START_PING, IDC_CMB_ADDR_TR,
                                                IDC_BTN_START_TR}));
    EXPECT_FALSE(frame.AddressBox(0)->isEnabled());
    frame.Action(IDC_BTN_STOP_CL)->trigger();
    EXPECT_FALSE(frame.ClientCheckRunning());
    EXPECT_EQ(EnabledIds(frame), idle);
    EXPECT_TRUE(frame.AddressBox(0)->isEnabled());

    // Echo running.
    frame.SwitchCategory(app::CMainFrame::CategoryEcho);
    frame.AddressBox(1)->setEditText(QStringLiteral("198.18.0.5"));
    frame.Action(IDC_BTN_START_PING)->trigger();
    ASSERT_TRUE(frame.EchoRunning());
    ASSERT_EQ(panes.echo->started.size(), 1u);
    EXPECT_EQ(panes.echo->started[0], std::vector<std::string>{"198.18.0.5"});
    EXPECT_EQ(EnabledIds(frame), With(kAlways, {IDC_CMB_ADDR_CL, IDC_BTN_START_CL, IDC_BTN_CC,
                                                IDC_BTN_STOP_PING, IDC_CMB_ADDR_TR,
                                                IDC_BTN_START_TR}));
    frame.Action(IDC_BTN_STOP_PING)->trigger();
    EXPECT_EQ(panes.echo->stops, 1);
    EXPECT_EQ(EnabledIds(frame), idle);

    // Route running.
    frame.SwitchCategory(app::CMainFrame::CategoryRoute);
    frame.AddressBox(2)->setEditText(QStringLiteral("198.18.0.6"));
    frame.Action(IDC_BTN_START_TR)->trigger();
    ASSERT_TRUE(frame.RouteRunning());
    EXPECT_EQ(EnabledIds(frame), With(kAlways, {IDC_CMB_ADDR_CL, IDC_BTN_START_CL, IDC_BTN_CC,
                                                IDC_CMB_ADDR_PING, IDC_BTN_START_PING,
                                                IDC_BTN_STOP_TR}));
    frame.Action(IDC_BTN_STOP_TR)->trigger();
    EXPECT_EQ(EnabledIds(frame), idle);

    // A start without a valid target does not run.
    frame.AddressBox(2)->setEditText(QStringLiteral("300.1.1.1"));
    frame.Action(IDC_BTN_START_TR)->trigger();
    EXPECT_FALSE(frame.RouteRunning());
    EXPECT_EQ(panes.route->started.size(), 1u);
    EXPECT_EQ(fixture.Prompt().Texts(dialogs::test::CScriptedPrompt::Call::Kind::Tell),
              QStringList{QStringLiteral("Адрес 300.1.1.1 содержит ошибку")});
}

TEST(FrameCommands, AnEmptySchemeWithoutAFileCannotStartTheCheck)
{
    CAppFixture fixture;
    // No argument and no settings.xml in the current folder: no path, no group.
    ASSERT_TRUE(fixture.Start({}));
    app::CMainFrame& frame = fixture.Frame();
    EXPECT_EQ(EnabledIds(frame), With(kAlways, {IDC_CMB_ADDR_PING, IDC_BTN_START_PING,
                                                IDC_CMB_ADDR_TR, IDC_BTN_START_TR}));
    EXPECT_TRUE(fixture.Program().Logic()->Settings().SchemePath().empty());
}

TEST(FrameCommands, EnterInAnAddressBoxRunsThatCategorysStart)
{
    CAppFixture fixture;
    apptest::FakePanes panes;
    ASSERT_TRUE(fixture.Start({}, panes.Factory()));
    app::CMainFrame& frame = fixture.Frame();
    frame.SwitchCategory(app::CMainFrame::CategoryEcho);
    QLineEdit* edit = frame.AddressBox(1)->lineEdit();
    edit->setText(QStringLiteral("  198.18.0.7  "));
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_EQ(panes.echo->started.size(), 1u);
    EXPECT_EQ(panes.echo->started[0], std::vector<std::string>{"198.18.0.7"});
    // The text is trimmed and, being valid, kept in the list.
    EXPECT_EQ(frame.AddressBox(1)->currentText(), QStringLiteral("198.18.0.7"));
    EXPECT_GE(frame.AddressBox(1)->findText(QStringLiteral("198.18.0.7")), 0);
    EXPECT_TRUE(panes.route->started.empty());
}
