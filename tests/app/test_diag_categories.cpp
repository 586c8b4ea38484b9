// The "Эхо-запрос" and "Маршрут" categories of the whole program, with the
// program's own screens (app::ProgramPanes): the client pane's hand-over, the
// ribbon's Start and Stop, "Применить", and a live run of both in host A of the
// routed test network (diag/support/EchoTestKit.h)
//
//     A 198.18.1.2 --- R1 --- R2 --- B 198.18.3.2      (198.18.9.0/24 blackholed)
//
// in a child process with a private /etc (diag/support/IsolatedHelper.h), so
// that reverse look-ups never reach a real resolver. With
// KANALIKO_DIAG_SCREENSHOTS=<folder> the child also leaves pictures of both
// categories there, in a light and a dark palette.

#include "app/CommandIds.h"
#include "app/ProgramParts.h"
#include "app/support/CAppFixture.h"
#include "panes/CDockPane.h"
#include "panes/CPingBar.h"
#include "panes/CPingGridModel.h"
#include "panes/CPingResultBar.h"
#include "panes/CPingResultModel.h"
#include "panes/CPingSettingsBar.h"
#include "panes/CClampedSpinBox.h"
#include "panes/CTraceBar.h"
#include "panes/CTraceGridModel.h"
#include "panes/CTraceResultBar.h"
#include "panes/CTraceResultModel.h"
#include "panes/CTraceSettingsBar.h"

#include "diag/support/IsolatedHelper.h"
#include "loop/EventLoop.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPalette>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

using namespace app::cmd;
using apptest::CAppFixture;
using Frame = app::CMainFrame;
using std::chrono::milliseconds;

namespace {

QString Cell(const QAbstractItemModel& model, int row, int column, const QModelIndex& parent = {})
{
    return model.index(row, column, parent).data().toString();
}

int SentShown(const panes::CPingGridModel& model, int target)
{
    const QString text = Cell(model, 0, 1, model.index(0, 0, model.index(target, 0)));
    return text.isEmpty() ? -1 : text.toInt();
}

QString StateShown(const panes::CTraceGridModel& model, int target)
{
    return Cell(model, 0, 0, model.index(target, 0));
}

QPalette DarkPalette()
{
    QPalette dark;
    const QColor window(45, 47, 51), base(30, 31, 34), text(225, 228, 232);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window.lighter(115));
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, window);
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::Highlight, QColor(53, 132, 228));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Mid, window.darker(130));
    dark.setColor(QPalette::Dark, window.darker(160));
    dark.setColor(QPalette::Light, window.lighter(150));
    dark.setColor(QPalette::Midlight, window.lighter(125));
    return dark;
}

// ---- the child's side: the whole program in host A ----

KANALIKO_ECHO_HELPER_MODE(program_echo_and_route_live)
{
    CAppFixture fixture;
    if (!fixture.Start({}, app::ProgramPanes()))
        return 3;
    Frame& frame = fixture.Frame();
    frame.resize(1366, 768);
    frame.show();
    auto* grid = frame.findChild<panes::CPingBar*>()->Model();
    auto* results = frame.findChild<panes::CPingResultBar*>();
    auto* targets = frame.findChild<panes::CTraceBar*>()->Model();
    auto* hops = frame.findChild<panes::CTraceResultBar*>()->Model();
    auto* echoSettings = frame.findChild<panes::CPingSettingsBar*>();
    auto* routeSettings = frame.findChild<panes::CTraceSettingsBar*>();

    // The source address starts as A's own first adapter address.
    std::printf("source=%s\n", echoSettings->ReadSettings().Source.c_str());
    echoSettings->IntervalBox()->setValue(200);
    echoSettings->TimeOutBox()->setValue(300);
    frame.ShowEchoFor(QStringLiteral("198.18.3.2; 198.18.9.9"));
    frame.Action(IDC_BTN_START_PING)->trigger();
    routeSettings->StepsBox()->setValue(6);
    routeSettings->TimeOutBox()->setValue(300);
    routeSettings->IntervalBox()->setValue(1000);
    frame.ShowRouteFor(QStringLiteral("198.18.3.2 198.18.9.9"));
    frame.Action(IDC_BTN_START_TR)->trigger();
    std::printf("echo_running=%d\nroute_running=%d\n", frame.EchoRunning() ? 1 : 0,
                frame.RouteRunning() ? 1 : 0);

    const bool ready = CAppFixture::WaitFor(
        [&] {
            return SentShown(*grid, 0) >= 12 && SentShown(*grid, 1) >= 6 &&
                   StateShown(*targets, 0) == QStringLiteral("Маршрут построен") &&
                   StateShown(*targets, 1) == QStringLiteral("Маршрут не построен");
        },
        milliseconds(20000));
    std::printf("ready=%d\n", ready ? 1 : 0);
    std::printf("echo_rows=%d\nhop_rows=%d\n", results->Model()->rowCount(), hops->rowCount());
    std::printf("hop3=%s\n", Cell(*hops, 2, 1).toStdString().c_str());

    if (const char* folder = std::getenv("KANALIKO_DIAG_SCREENSHOTS")) {
        QDir().mkpath(QString::fromLocal8Bit(folder));
        // The blackholed targets: the red rows.
        frame.findChild<panes::CTraceBar*>()->SelectTarget(1);
        frame.findChild<panes::CPingBar*>()->SelectTarget(1);
        const auto shoot = [&](const char* suffix) {
            for (const int category : {Frame::CategoryEcho, Frame::CategoryRoute}) {
                frame.SwitchCategory(category);
                loop::ProcessEventsFor(milliseconds(300));
                const QString name = QString::fromLatin1(category == Frame::CategoryEcho
                                                             ? "echo"
                                                             : "route") +
                                     QString::fromLatin1(suffix) + QStringLiteral(".png");
                frame.grab().save(QDir(QString::fromLocal8Bit(folder)).filePath(name));
            }
        };
        shoot("");
        results->SetTableMode(false);
        frame.SwitchCategory(Frame::CategoryEcho);
        loop::ProcessEventsFor(milliseconds(200));
        frame.grab().save(QDir(QString::fromLocal8Bit(folder)).filePath(QStringLiteral("echo-list.png")));
        results->SetTableMode(true);
        frame.Dock(PANE_ECHO_SETTINGS)->raise();
        loop::ProcessEventsFor(milliseconds(200));
        frame.grab().save(
            QDir(QString::fromLocal8Bit(folder)).filePath(QStringLiteral("echo-settings.png")));
        frame.SwitchCategory(Frame::CategoryRoute);
        frame.Dock(PANE_ROUTE_SETTINGS)->raise();
        loop::ProcessEventsFor(milliseconds(200));
        frame.grab().save(
            QDir(QString::fromLocal8Bit(folder)).filePath(QStringLiteral("route-settings.png")));
        frame.Dock(PANE_ROUTE_TARGETS)->raise();
        frame.SwitchCategory(Frame::CategoryEcho);
        frame.Dock(PANE_ECHO_TARGETS)->raise();
        const QPalette light = QApplication::palette();
        QApplication::setPalette(DarkPalette());
        shoot("-dark");
        QApplication::setPalette(light);
    }

    // Stop returns at once; what was shown stays.
    const auto stopping = std::chrono::steady_clock::now();
    frame.Action(IDC_BTN_STOP_PING)->trigger();
    frame.Action(IDC_BTN_STOP_TR)->trigger();
    std::printf("stop_ms=%lld\n", static_cast<long long>(
                                      std::chrono::duration_cast<milliseconds>(
                                          std::chrono::steady_clock::now() - stopping)
                                          .count()));
    std::printf("echo_running_after=%d\nroute_running_after=%d\nrows_kept=%d\n",
                frame.EchoRunning() ? 1 : 0, frame.RouteRunning() ? 1 : 0,
                hops->rowCount() > 0 ? 1 : 0);
    fixture.Stop();
    return 0;
}

} // namespace

TEST(DiagCategories, TheClientPanesHandOverSwitchesAndFillsTheBoxWithoutStarting)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({}, app::ProgramPanes()));
    Frame& frame = fixture.Frame();
    frame.ShowEchoFor(QStringLiteral("198.18.3.2"));
    EXPECT_EQ(frame.CurrentCategory(), Frame::CategoryEcho);
    EXPECT_EQ(frame.AddressBox(Frame::CategoryEcho)->currentText(), QStringLiteral("198.18.3.2"));
    EXPECT_FALSE(frame.EchoRunning());
    frame.ShowRouteFor(QStringLiteral("198.18.3.3"));
    EXPECT_EQ(frame.CurrentCategory(), Frame::CategoryRoute);
    EXPECT_EQ(frame.AddressBox(Frame::CategoryRoute)->currentText(), QStringLiteral("198.18.3.3"));
    EXPECT_FALSE(frame.RouteRunning());
    // The program's screens are in their docks and views.
    EXPECT_NE(frame.findChild<panes::CPingBar*>(), nullptr);
    EXPECT_NE(frame.findChild<panes::CPingSettingsBar*>(), nullptr);
    EXPECT_NE(frame.findChild<panes::CPingResultBar*>(), nullptr);
    EXPECT_NE(frame.findChild<panes::CTraceBar*>(), nullptr);
    EXPECT_NE(frame.findChild<panes::CTraceSettingsBar*>(), nullptr);
    EXPECT_NE(frame.findChild<panes::CTraceResultBar*>(), nullptr);
}

TEST(DiagCategories, EchoStartStopAndApplyFromTheRibbon)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({}, app::ProgramPanes()));
    Frame& frame = fixture.Frame();
    auto* settings = frame.findChild<panes::CPingSettingsBar*>();
    auto* grid = frame.findChild<panes::CPingBar*>()->Model();
    settings->IntervalBox()->setValue(200);
    frame.SwitchCategory(Frame::CategoryEcho);
    // Loopback only: answered with the right to send, failed at once without.
    frame.AddressBox(Frame::CategoryEcho)->setEditText(QStringLiteral("127.0.0.5; 127.0.0.5"));
    frame.Action(IDC_BTN_START_PING)->trigger();
    ASSERT_TRUE(frame.EchoRunning());
    ASSERT_EQ(grid->rowCount(), 2); // typed twice, listed twice
    EXPECT_EQ(Cell(*grid, 1, 0), QStringLiteral("127.0.0.5"));
    settings->IntervalBox()->setValue(700);
    QTest::mouseClick(settings->ApplyButton(), Qt::LeftButton);
    ASSERT_TRUE(CAppFixture::WaitFor([&] { return SentShown(*grid, 1) >= 1; }, milliseconds(10000)));
    const auto stopping = std::chrono::steady_clock::now();
    frame.Action(IDC_BTN_STOP_PING)->trigger();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, milliseconds(100));
    EXPECT_FALSE(frame.EchoRunning());
    EXPECT_TRUE(frame.Action(IDC_BTN_START_PING)->isEnabled());
    EXPECT_GE(SentShown(*grid, 1), 1); // the results stay after the stop
}

TEST(DiagCategories, BothCategoriesRunLiveFromHostA)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    echotest::CRoutedNetwork network;
    std::vector<std::pair<std::string, std::string>> env;
    if (const char* folder = std::getenv("KANALIKO_DIAG_SCREENSHOTS"))
        env.emplace_back("KANALIKO_DIAG_SCREENSHOTS", folder);
    const auto child = diagtest::RunIsolatedHelper(network.a, "program_echo_and_route_live",
                                                   "198.18.1.1 r1.kanaliko.test\n", env);
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.Value("source"), echotest::kHostA);
    EXPECT_EQ(child.Value("echo_running"), "1");
    EXPECT_EQ(child.Value("route_running"), "1");
    ASSERT_EQ(child.Value("ready"), "1") << child.output;
    EXPECT_GE(std::atoi(child.Value("echo_rows").c_str()), 12);
    EXPECT_EQ(child.Value("hop_rows"), "3"); // B, three hops away, is shown first
    EXPECT_EQ(child.Value("hop3"), echotest::kHostB);
    EXPECT_LT(std::atoi(child.Value("stop_ms").c_str()), 100) << child.output;
    EXPECT_EQ(child.Value("echo_running_after"), "0");
    EXPECT_EQ(child.Value("route_running_after"), "0");
    EXPECT_EQ(child.Value("rows_kept"), "1");
}
