// The echo and route screens with their real engines: echo on loopback, route
// through the routed test network (diag/support/EchoTestKit.h)
//
//     A 198.18.1.2 --- R1 --- R2 --- B 198.18.3.2      (198.18.9.0/24 blackholed)
//
// Route traces run in a child process inside host A with a private /etc
// (diag/support/IsolatedHelper.h): a reverse look-up sees only the names a
// test gives, or a name server that never answers, and can never reach a real
// DNS server. The child prints what its panes show; the test checks it.

#include "panes/CPingBar.h"
#include "panes/CPingGridModel.h"
#include "panes/CPingResultBar.h"
#include "panes/CPingResultModel.h"
#include "panes/CPingScreen.h"
#include "panes/CPingSettingsBar.h"
#include "panes/CClampedSpinBox.h"
#include "panes/CRttChart.h"
#include "panes/CTraceBar.h"
#include "panes/CTraceGridModel.h"
#include "panes/CTraceResultBar.h"
#include "panes/CTraceResultModel.h"
#include "panes/CTraceScreen.h"
#include "panes/CTraceSettingsBar.h"

#include "diag/support/IsolatedHelper.h"
#include "dialogs/support/ModelTesterGuard.h"
#include "loop/EventLoop.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

using namespace panes;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

bool WaitFor(const std::function<bool()>& condition, milliseconds limit)
{
    return loop::RunUntil(condition, limit);
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// The longest time the GUI thread's loop went without running a 5 ms timer.
class CLoopProbe
{
public:
    CLoopProbe()
    {
        m_last = Clock::now();
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_timer.start();
    }
    long long LongestGapMs()
    {
        m_longest = std::max(m_longest, Clock::now() - m_last);
        return std::chrono::duration_cast<milliseconds>(m_longest).count();
    }

private:
    QTimer m_timer;
    Clock::time_point m_last;
    Clock::duration m_longest{};
};

QString Cell(const QAbstractItemModel& model, int row, int column, const QModelIndex& parent = {})
{
    return model.index(row, column, parent).data().toString();
}

// "Отправлено:" of a target in the statistics tree (-1 while empty).
int SentShown(const CPingGridModel& model, int target)
{
    const QString text = Cell(model, 0, 1, model.index(0, 0, model.index(target, 0)));
    return text.isEmpty() ? -1 : text.toInt();
}

// The route state text of a target in the targets tree.
std::string StateShown(CTraceScreen& screen, int target)
{
    const CTraceGridModel& model = *screen.Bar()->Model();
    return Cell(model, 0, 0, model.index(target, 0)).toStdString();
}

// hop=<row>|<column 0>|...|<column 9>|<red or not>
void PrintHops(CTraceScreen& screen, const char* key)
{
    const CTraceResultModel& model = *screen.ResultBar()->Model();
    for (int row = 0; row < model.rowCount(); ++row) {
        std::string line;
        for (int column = 0; column < CTraceResultModel::ColumnCount; ++column)
            line += Cell(model, row, column).toStdString() + "|";
        line += model.index(row, 0).data(Qt::ForegroundRole).isValid() ? "red" : "normal";
        std::printf("%s=%s\n", key, line.c_str());
    }
}

void AppendHosts(const std::string& line)
{
    std::ofstream(std::getenv("KANALIKO_HOSTS_FILE"), std::ios::app) << line << "\n";
}

// ---- the children's side (in host A, private /etc) ----

KANALIKO_ECHO_HELPER_MODE(route_screen_built_and_not_built)
{
    dialogs::test::ModelTesterGuard guard;
    QWidget window;
    auto screen = std::make_unique<CTraceScreen>(&window, TraceScreenOptions{});
    QAbstractItemModelTester targetsTester(screen->Bar()->Model(),
                                           QAbstractItemModelTester::FailureReportingMode::Warning);
    QAbstractItemModelTester hopsTester(screen->ResultBar()->Model(),
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
    screen->SettingsBar()->StepsBox()->setValue(5);
    screen->SettingsBar()->TimeOutBox()->setValue(300);
    screen->SettingsBar()->IntervalBox()->setValue(60000);
    window.show();
    screen->Start({echotest::kHostB, echotest::kBlackholed});
    std::printf("state_at_start=%s\n", StateShown(*screen, 0).c_str());
    const bool done = WaitFor(
        [&] {
            return StateShown(*screen, 0) == "Маршрут построен" &&
                   StateShown(*screen, 1) == "Маршрут не построен";
        },
        milliseconds(15000));
    std::printf("done=%d\nstate0=%s\nstate1=%s\n", done ? 1 : 0, StateShown(*screen, 0).c_str(),
                StateShown(*screen, 1).c_str());
    PrintHops(*screen, "first"); // the first target is shown at start
    screen->Bar()->SelectTarget(1);
    PrintHops(*screen, "second");
    screen->Stop();
    screen.reset();
    return 0;
}

KANALIKO_ECHO_HELPER_MODE(route_screen_stop_during_lookup)
{
    diagtest::CSilentNameServer nameServer;
    QWidget window;
    auto screen = std::make_unique<CTraceScreen>(&window, TraceScreenOptions{});
    screen->SettingsBar()->IntervalBox()->setValue(60000);
    window.show();
    screen->Start({echotest::kHostB});
    // R1 answered step 1; its name is being looked up (the server never answers).
    std::printf("lookup_started=%d\n", nameServer.QueryArrived(10000) ? 1 : 0);

    // Names of the next run's hops come from the hosts file at once.
    AppendHosts("198.18.1.1 r1.kanaliko.test\n198.18.2.2 r2.kanaliko.test");
    CLoopProbe probe;
    const auto stopping = Clock::now();
    screen->Stop();
    std::printf("stop_ms=%lld\n", MsSince(stopping));
    const auto starting = Clock::now();
    screen->Start({echotest::kRouter2});
    std::printf("restart_ms=%lld\n", MsSince(starting));
    std::printf("rows_after_restart=%d\ntargets_after_restart=%d\n",
                screen->ResultBar()->Model()->rowCount(), screen->Bar()->Model()->rowCount());
    const bool built =
        WaitFor([&] { return StateShown(*screen, 0) == "Маршрут построен"; }, milliseconds(10000));
    // The old engine ends when its look-up does (about 3 s after it began).
    const bool ended = WaitFor([&] { return screen->EnginesEnding() == 0; }, milliseconds(15000));
    loop::ProcessEventsFor(milliseconds(50)); // anything it could still have posted
    std::printf("built=%d\nold_ended=%d\nlongest_gap_ms=%lld\n", built ? 1 : 0, ended ? 1 : 0,
                probe.LongestGapMs());
    std::printf("targets=%d\ntarget0=%s\n", screen->Bar()->Model()->rowCount(),
                Cell(*screen->Bar()->Model(), 0, 0).toStdString().c_str());
    PrintHops(*screen, "hop");
    screen.reset();
    return 0;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t bar = line.find('|'); bar != std::string::npos; bar = line.find('|', start)) {
        fields.push_back(line.substr(start, bar - start));
        start = bar + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

class ScreensRouted : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KANALIKO_SKIP_UNLESS_NAMESPACES();
        network = std::make_unique<echotest::CRoutedNetwork>();
    }
    std::unique_ptr<echotest::CRoutedNetwork> network;
};

} // namespace

// ---------------------------------------------------------------------------
// Echo on loopback

TEST(ScreensLoopback, EchoFillsTheStatisticsResultsAndChartInTimeOrder)
{
    KANALIKO_SKIP_UNLESS_RAW();
    dialogs::test::ModelTesterGuard guard;
    QWidget window;
    auto screen = std::make_unique<CPingScreen>(&window, PingScreenOptions{});
    QAbstractItemModelTester gridTester(screen->Bar()->Model(),
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
    QAbstractItemModelTester resultsTester(screen->ResultBar()->Model(),
                                           QAbstractItemModelTester::FailureReportingMode::Warning);
    screen->SettingsBar()->IntervalBox()->setValue(200);
    screen->SettingsBar()->RecordLimitBox()->setValue(3);
    screen->SettingsBar()->UseSourceBox()->setChecked(false);
    window.show();
    ASSERT_TRUE(screen->Start({"127.0.0.1", "127.0.0.2"}));
    const CPingGridModel& grid = *screen->Bar()->Model();
    const CPingResultModel& results = *screen->ResultBar()->Model();
    EXPECT_EQ(results.Target(), 0); // the first target is shown at start
    // Past the record limit of 3: the list has become a ring.
    ASSERT_TRUE(WaitFor([&] { return SentShown(grid, 0) >= 5 && SentShown(grid, 1) >= 1; },
                        milliseconds(10000)));
    screen->Stop();
    loop::ProcessEventsFor(milliseconds(50)); // what was posted before the stop
    EXPECT_EQ(Cell(grid, 1, 1, grid.index(0, 0, grid.index(0, 0))),
              QString::number(SentShown(grid, 0))); // all received
    EXPECT_EQ(Cell(grid, 2, 1, grid.index(0, 0, grid.index(0, 0))), QStringLiteral("0"));
    ASSERT_EQ(results.rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(results, row, 1), QStringLiteral("Успешно"));
        EXPECT_FALSE(results.index(row, 0).data(Qt::ForegroundRole).isValid());
    }
    // Oldest first: the newest result is the last row, as the chart has it.
    const auto& samples = screen->ResultBar()->Chart()->Samples();
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[1].sequence, samples[0].sequence + 1);
    EXPECT_EQ(samples[2].sequence, samples[1].sequence + 1);
    EXPECT_EQ(static_cast<int>(samples[2].sequence), SentShown(grid, 0));

    // A row of the second target shows its results.
    screen->Bar()->SelectTarget(1);
    EXPECT_EQ(results.Target(), 1);
    EXPECT_GE(results.rowCount(), 1);
    screen.reset();
}

TEST(ScreensLoopback, ANewStartShowsOnlyTheNewRunsTargetsAndResults)
{
    KANALIKO_SKIP_UNLESS_RAW();
    QWidget window;
    auto screen = std::make_unique<CPingScreen>(&window, PingScreenOptions{});
    screen->SettingsBar()->IntervalBox()->setValue(200);
    screen->SettingsBar()->UseSourceBox()->setChecked(false);
    ASSERT_TRUE(screen->Start({"127.0.0.1", "127.0.0.2"}));
    const CPingGridModel& grid = *screen->Bar()->Model();
    ASSERT_TRUE(WaitFor([&] { return SentShown(grid, 0) >= 2; }, milliseconds(10000)));
    diag::CPing* first = screen->Engine();
    const auto stopping = Clock::now();
    screen->Stop();
    ASSERT_TRUE(screen->Start({"127.0.0.3"}));
    EXPECT_LT(MsSince(stopping), 100);
    EXPECT_NE(screen->Engine(), first);
    ASSERT_EQ(grid.rowCount(), 1);
    EXPECT_EQ(Cell(grid, 0, 0), QStringLiteral("127.0.0.3"));
    EXPECT_EQ(SentShown(grid, 0), -1);
    EXPECT_EQ(screen->ResultBar()->Model()->rowCount(), 0);
    ASSERT_TRUE(WaitFor([&] { return SentShown(grid, 0) >= 2; }, milliseconds(10000)));
    screen->Stop();
    WaitFor([&] { return screen->EnginesEnding() == 0; }, milliseconds(5000));
    loop::ProcessEventsFor(milliseconds(50)); // what was posted before the stop
    EXPECT_EQ(screen->ResultBar()->Model()->rowCount(), SentShown(grid, 0));
    screen.reset();
}

// ---------------------------------------------------------------------------
// Route through the test network

TEST_F(ScreensRouted, RouteShowsThreeHopsBuiltAndABlackholedTargetNotBuilt)
{
    const auto child = diagtest::RunIsolatedHelper(network->a, "route_screen_built_and_not_built",
                                                   "198.18.1.1 r1.kanaliko.test\n");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.Value("state_at_start"), "Маршрут строится");
    ASSERT_EQ(child.Value("done"), "1") << child.output;

    const auto first = child.All("first");
    ASSERT_EQ(first.size(), 3u) << child.output;
    const char* addresses[] = {echotest::kRouter1, echotest::kRouter2, echotest::kHostB};
    const char* names[] = {"r1.kanaliko.test", "", ""};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto f = Fields(first[i]);
        ASSERT_EQ(f.size(), 11u) << first[i];
        EXPECT_EQ(f[0], std::to_string(i + 1));
        EXPECT_EQ(f[1], addresses[i]);
        EXPECT_EQ(f[2], names[i]); // "-" shows empty
        EXPECT_EQ(f[7], "1");
        EXPECT_EQ(f[9], "0%");
        EXPECT_EQ(f[10], "normal"); // 11013 and 0 are not red
    }

    const auto second = child.All("second");
    ASSERT_EQ(second.size(), 5u) << child.output;
    EXPECT_EQ(Fields(second[1])[1], echotest::kRouter2);
    for (std::size_t i = 2; i < 5; ++i) {
        const auto f = Fields(second[i]);
        EXPECT_EQ(f[1], "0.0.0.0") << second[i];
        EXPECT_EQ(f[2], "");
        EXPECT_EQ(f[3], "300"); // last = the time-out
        EXPECT_EQ(f[4], "0");
        EXPECT_EQ(f[5], "0");
        EXPECT_EQ(f[6], "300");
        EXPECT_EQ(f[9], "100%");
        EXPECT_EQ(f[10], "red"); // 11010
    }
}

// Stop used to wait for the route engine without limit, reverse look-ups
// included, on the GUI thread; and an old engine's late messages could reach
// the next run's panes.
TEST_F(ScreensRouted, StopDuringASlowLookUpIsImmediateAndTheNextRunShowsOnlyItsOwnHops)
{
    const auto child = diagtest::RunIsolatedHelper(network->a, "route_screen_stop_during_lookup",
                                                   "", {}, "timeout:3 attempts:1");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    ASSERT_EQ(child.Value("lookup_started"), "1") << child.output;
    EXPECT_LT(std::atoi(child.Value("stop_ms").c_str()), 100) << child.output;
    EXPECT_LT(std::atoi(child.Value("restart_ms").c_str()), 100) << child.output;
    EXPECT_EQ(child.Value("rows_after_restart"), "0");
    EXPECT_EQ(child.Value("targets_after_restart"), "1");
    EXPECT_EQ(child.Value("built"), "1") << child.output;
    EXPECT_EQ(child.Value("old_ended"), "1") << child.output;
    // The loop went on all the while (a 5 ms timer never waited 100 ms).
    EXPECT_LT(std::atoi(child.Value("longest_gap_ms").c_str()), 100) << child.output;
    EXPECT_EQ(child.Value("targets"), "1");
    EXPECT_EQ(child.Value("target0"), echotest::kRouter2);
    // Only the new run: R1 then R2 with the hosts file's names. The old run's
    // R1 (named "-" once its look-up failed, towards B) never shows.
    const auto hops = child.All("hop");
    ASSERT_EQ(hops.size(), 2u) << child.output;
    EXPECT_EQ(Fields(hops[0])[1], echotest::kRouter1);
    EXPECT_EQ(Fields(hops[0])[2], "r1.kanaliko.test");
    EXPECT_EQ(Fields(hops[1])[1], echotest::kRouter2);
    EXPECT_EQ(Fields(hops[1])[2], "r2.kanaliko.test");
    EXPECT_EQ(Fields(hops[1])[7], "1");
}
