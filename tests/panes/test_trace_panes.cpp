// The route panes with a scripted engine (panes/support): the settings, the
// targets tree with its states, the hops with their colours and shares, and
// the clipboard texts. Every model runs under a QAbstractItemModelTester.

#include "panes/CClampedSpinBox.h"
#include "panes/CPaneClipboard.h"
#include "panes/CTraceBar.h"
#include "panes/CTraceGridModel.h"
#include "panes/CTraceResultBar.h"
#include "panes/CTraceResultModel.h"
#include "panes/CTraceScreen.h"
#include "panes/CTraceSettingsBar.h"

#include "dialogs/support/ModelTesterGuard.h"
#include "panes/support/CScriptedDiagInfo.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QTreeView>

#include <memory>

#include <gtest/gtest.h>

using namespace panes;
using panestest::CScriptedTraceInfo;
using panestest::Hop;

namespace {

class CRecordingClipboard final : public IPaneClipboard
{
public:
    QString text;
    bool Open() override { return true; }
    bool Empty() override { return true; }
    void SetText(const QString& t) override { text = t; }
    bool Close() override { return true; }
};

QString Text(const QAbstractItemModel& model, int row, int column, const QModelIndex& parent = {})
{
    return model.index(row, column, parent).data().toString();
}

class TracePanes : public ::testing::Test
{
protected:
    void SetUp() override
    {
        targets = std::make_unique<CTraceBar>(&window, &clipboard);
        hops = std::make_unique<CTraceResultBar>(&window, &clipboard);
        targetsTester = std::make_unique<QAbstractItemModelTester>(
            targets->Model(), QAbstractItemModelTester::FailureReportingMode::Warning);
        hopsTester = std::make_unique<QAbstractItemModelTester>(
            hops->Model(), QAbstractItemModelTester::FailureReportingMode::Warning);
        targets->SetTargets({"198.18.3.2", "198.18.9.9"});
        targets->SetEngine(&info);
        hops->SetEngine(&info);
        QObject::connect(targets.get(), &CTraceBar::targetSelected, hops.get(),
                         &CTraceResultBar::ShowTarget);
        window.resize(900, 500);
        window.show();
    }
    void Store(int target, const diag::HopRecord& hop) { hops->OnHops(target, info.SetHop(target, hop)); }

    dialogs::test::ModelTesterGuard guard;
    QWidget window;
    CRecordingClipboard clipboard;
    CScriptedTraceInfo info{{"198.18.3.2", "198.18.9.9"}};
    std::unique_ptr<CTraceBar> targets;
    std::unique_ptr<CTraceResultBar> hops;
    std::unique_ptr<QAbstractItemModelTester> targetsTester, hopsTester;
};

} // namespace

TEST(TraceSettings, RangesInitialValuesAndTheClampedReadBack)
{
    QWidget window;
    CTraceSettingsBar bar(&window);
    EXPECT_EQ(bar.SizeBox()->value(), 32);
    EXPECT_EQ(bar.SizeBox()->maximum(), 65500);
    EXPECT_EQ(bar.TimeOutBox()->value(), 500);
    EXPECT_EQ(bar.TimeOutBox()->minimum(), 200);
    EXPECT_EQ(bar.TimeOutBox()->maximum(), 5000);
    EXPECT_EQ(bar.IntervalBox()->value(), 5000);
    EXPECT_EQ(bar.IntervalBox()->maximum(), 60000);
    EXPECT_EQ(bar.StepsBox()->value(), 30);
    EXPECT_EQ(bar.StepsBox()->maximum(), 255);
    EXPECT_EQ(bar.StepsBox()->accessibleName(), QStringLiteral("Шаги"));
    EXPECT_EQ(bar.ApplyButton()->text(), QStringLiteral("Применить"));
    window.show();
    bar.StepsBox()->setFocus();
    bar.StepsBox()->selectAll();
    QTest::keyClicks(bar.StepsBox(), QStringLiteral("999"));
    const diag::RouteSettings settings = bar.ReadSettings();
    EXPECT_EQ(settings.Steps, 255u);
    EXPECT_EQ(bar.StepsBox()->text(), QStringLiteral("255"));
    EXPECT_EQ(settings.TimeOut, 500u);
    EXPECT_EQ(settings.Interval, 5000u);
    EXPECT_EQ(settings.Size, 32u);
}

TEST(TraceSettings, ApplyWritesTheValuesIntoTheRunningEngine)
{
    QWidget window;
    TraceScreenOptions options;
    options.resolveNames = false;
    auto screen = std::make_unique<CTraceScreen>(&window, options);
    QTest::mouseClick(screen->SettingsBar()->ApplyButton(), Qt::LeftButton); // no engine: nothing
    ASSERT_TRUE(screen->Start({"127.0.0.1"}));
    screen->SettingsBar()->StepsBox()->setValue(7);
    screen->SettingsBar()->IntervalBox()->setValue(1200);
    QTest::mouseClick(screen->SettingsBar()->ApplyButton(), Qt::LeftButton);
    const diag::RouteSettings used = screen->Engine()->Settings();
    EXPECT_EQ(used.Steps, 7u);
    EXPECT_EQ(used.Interval, 1200u);
    EXPECT_FALSE(used.ResolveNames);
    screen->Stop();
    screen.reset();
}

TEST_F(TracePanes, TargetsTreeShowsEachRouteStateWithItsPicture)
{
    const CTraceGridModel& model = *targets->Model();
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 1);
    const QModelIndex first = model.index(0, 0);
    EXPECT_EQ(first.data().toString(), QStringLiteral("198.18.3.2"));
    EXPECT_FALSE(first.data(Qt::DecorationRole).value<QIcon>().isNull());
    ASSERT_EQ(model.rowCount(first), 1);
    const QModelIndex state = model.index(0, 0, first);
    EXPECT_EQ(state.data().toString(), QStringLiteral("Маршрут строится"));
    EXPECT_FALSE(state.data(Qt::DecorationRole).isValid()); // no picture while building

    info.SetState(0, diag::ROUTE_BUILT);
    info.SetState(1, diag::ROUTE_NOT_BUILT);
    targets->OnRouteState(0);
    targets->OnRouteState(1);
    EXPECT_EQ(state.data().toString(), QStringLiteral("Маршрут построен"));
    const QIcon built = state.data(Qt::DecorationRole).value<QIcon>();
    const QModelIndex second = model.index(0, 0, model.index(1, 0));
    EXPECT_EQ(second.data().toString(), QStringLiteral("Маршрут не построен"));
    const QIcon failed = second.data(Qt::DecorationRole).value<QIcon>();
    ASSERT_FALSE(built.isNull());
    ASSERT_FALSE(failed.isNull());
    EXPECT_NE(built.pixmap(16).toImage(), failed.pixmap(16).toImage());

    targets->Copy();
    EXPECT_EQ(clipboard.text, QStringLiteral("198.18.3.2\r\n\tМаршрут построен\r\n"
                                             "198.18.9.9\r\n\tМаршрут не построен\r\n"));
    // Ctrl+C in the tree copies as well (the pane has no toolbar).
    clipboard.text.clear();
    targets->Tree()->setFocus();
    QTest::keyClick(targets->Tree(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(clipboard.text.startsWith(QStringLiteral("198.18.3.2\r\n")));
}

TEST_F(TracePanes, HopsShowAddressesNamesTimesAndLostShares)
{
    targets->SelectTarget(0);
    // Step 1: a router with a name, one lost of three (34%).
    diag::HopRecord router = Hop(1, "198.18.1.1", 11013, 3, 1, 4, L"r1.kanaliko.test");
    router.Minimum = 2;
    router.Maximum = 6;
    router.Average = 4;
    Store(0, router);
    // Step 2: a router whose name was not found.
    Store(0, Hop(2, "198.18.2.2", 11013, 3, 0, 5, L"-"));
    // Step 3: never answered (time-out 500).
    diag::HopRecord silent = Hop(3, "0.0.0.0", 11010, 3, 3, 500, L"");
    silent.Minimum = 500;
    silent.Maximum = 0;
    silent.Average = 0;
    Store(0, silent);
    // Step 4: the target.
    Store(0, Hop(4, "198.18.3.2", 0, 3, 0, 7, L"-"));

    const CTraceResultModel& model = *hops->Model();
    ASSERT_EQ(model.rowCount(), 4);
    const char* headers[] = {"Шаг",      "IP адрес", "DNS имя",    "Последний(мс)", "Средний(мс)",
                             "Макс.(мс)", "Мин.(мс)", "Отправлено", "Потеряно",      "Потеряно(%)"};
    for (int column = 0; column < 10; ++column)
        EXPECT_EQ(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(),
                  QString::fromUtf8(headers[column]));
    const QStringList first = {"1", "198.18.1.1", "r1.kanaliko.test", "4", "4", "6", "2", "3", "1", "34%"};
    for (int column = 0; column < 10; ++column)
        EXPECT_EQ(Text(model, 0, column), first[column]) << column;
    EXPECT_EQ(Text(model, 1, 2), QString()); // "-": looked up, not found
    const QStringList quiet = {"3", "0.0.0.0", "", "500", "0", "0", "500", "3", "3", "100%"};
    for (int column = 0; column < 10; ++column)
        EXPECT_EQ(Text(model, 2, column), quiet[column]) << column;
    EXPECT_EQ(Text(model, 3, 9), QStringLiteral("0%"));

    // Red only for what is neither an answer nor a router's time exceeded.
    for (int column = 0; column < 10; ++column) {
        EXPECT_FALSE(model.index(0, column).data(Qt::ForegroundRole).isValid());
        EXPECT_FALSE(model.index(3, column).data(Qt::ForegroundRole).isValid());
        EXPECT_TRUE(model.index(2, column).data(Qt::ForegroundRole).value<QColor>().isValid());
    }
    EXPECT_TRUE(CTraceResultModel::IsNormalStatus(11014));
    EXPECT_FALSE(CTraceResultModel::IsNormalStatus(11002));
    EXPECT_EQ(CTraceResultModel::LostShareText(1, 3), QStringLiteral("34%"));
    EXPECT_EQ(CTraceResultModel::LostShareText(2, 3), QStringLiteral("67%"));
    EXPECT_EQ(CTraceResultModel::LostShareText(0, 0), QStringLiteral("0%"));

    // The copy leaves the name and the share out.
    hops->Copy();
    EXPECT_EQ(clipboard.text,
              QStringLiteral("Шаг\tIP адрес\tПоследний(мс)\tСредний(мс)\tМакс.(мс)\tМин.(мс)\t"
                             "Отправлено\tПотеряно\r\n"
                             "1\t198.18.1.1\t4\t4\t6\t2\t3\t1\r\n"
                             "2\t198.18.2.2\t5\t5\t5\t5\t3\t0\r\n"
                             "3\t0.0.0.0\t500\t0\t0\t500\t3\t3\r\n"
                             "4\t198.18.3.2\t7\t7\t7\t7\t3\t0\r\n"));
}

TEST_F(TracePanes, HopsOfAnotherTargetLeaveTheViewUnchanged)
{
    targets->SelectTarget(0);
    Store(0, Hop(1, "198.18.1.1", 11013, 1, 0, 1, L"-"));
    QSignalSpy inserted(hops->Model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(hops->Model(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(hops->Model(), &QAbstractItemModel::modelReset);
    const QImage before = hops->Table()->viewport()->grab().toImage();
    for (int step = 1; step <= 5; ++step)
        Store(1, Hop(step, "0.0.0.0", 11010, 1, 1, 500, L""));
    EXPECT_EQ(hops->Model()->rowCount(), 1);
    EXPECT_EQ(inserted.count() + changed.count() + reset.count(), 0);
    EXPECT_EQ(hops->Table()->viewport()->grab().toImage(), before);

    // Selecting the other target shows its hops, with the engine's count.
    const QModelIndex state = targets->Model()->index(0, 0, targets->Model()->index(1, 0));
    QTreeView* tree = targets->Tree();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(state).center());
    EXPECT_EQ(hops->Model()->Target(), 1);
    EXPECT_EQ(hops->Model()->rowCount(), 5);
}

TEST_F(TracePanes, AHopStoredAgainIsRepaintedAndLoweredStepsShortenTheList)
{
    targets->SelectTarget(0);
    for (int step = 1; step <= 4; ++step)
        Store(0, Hop(step, "198.18.1.1", 11013, 1, 0, 1, L"-"));
    QSignalSpy changed(hops->Model(), &QAbstractItemModel::dataChanged);
    Store(0, Hop(2, "198.18.2.2", 11013, 2, 0, 3, L"-")); // a later pass, same count
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(Text(*hops->Model(), 1, 1), QStringLiteral("198.18.2.2"));
    hops->OnHops(0, info.Truncate(0, 2)); // the steps were lowered to 2
    EXPECT_EQ(hops->Model()->rowCount(), 2);
}

TEST_F(TracePanes, DuplicatedTargetRowsKeepTheirOwnIndexes)
{
    CScriptedTraceInfo twice({"198.18.3.2", "198.18.3.2"});
    targets->SetTargets({"198.18.3.2", "198.18.3.2"});
    targets->SetEngine(&twice);
    hops->SetEngine(&twice);
    twice.SetState(1, diag::ROUTE_BUILT);
    targets->OnRouteState(1);
    EXPECT_EQ(Text(*targets->Model(), 0, 0, targets->Model()->index(0, 0)),
              QStringLiteral("Маршрут строится"));
    EXPECT_EQ(Text(*targets->Model(), 0, 0, targets->Model()->index(1, 0)),
              QStringLiteral("Маршрут построен"));
    hops->OnHops(1, twice.SetHop(1, Hop(1, "198.18.3.2", 0, 1, 0, 1, L"-")));
    QSignalSpy selected(targets.get(), &CTraceBar::targetSelected);
    const QModelIndex state = targets->Model()->index(0, 0, targets->Model()->index(1, 0));
    QTreeView* tree = targets->Tree();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(state).center());
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected.at(0).at(0).toInt(), 1);
    EXPECT_EQ(hops->Model()->rowCount(), 1);
}

TEST(TraceScreenLooks, EveryControlIsReachableByKeyboardAndNamed)
{
    QWidget window;
    auto screen = std::make_unique<CTraceScreen>(&window, TraceScreenOptions{});
    int controls = 0;
    for (QWidget* pane : {screen->TargetsPane(), screen->SettingsPane(), screen->ResultsPane()})
        pane->show();
    window.show();
    QApplication::processEvents(); // the toolbars lay their buttons out
    for (QWidget* pane : {screen->TargetsPane(), screen->SettingsPane(), screen->ResultsPane()}) {
        EXPECT_FALSE(pane->accessibleName().isEmpty());
        for (QWidget* widget : pane->findChildren<QWidget*>()) {
            // (A view's header and corner button are parts of the view.)
            const bool partOfView = qobject_cast<QAbstractItemView*>(widget->parentWidget());
            const bool control =
                !partOfView && (qobject_cast<QAbstractButton*>(widget) ||
                                qobject_cast<QAbstractSpinBox*>(widget) ||
                                qobject_cast<QAbstractItemView*>(widget));
            if (!control || !widget->isVisibleTo(pane))
                continue;
            ++controls;
            const std::string what = widget->metaObject()->className() + std::string(" ") +
                                     widget->objectName().toStdString();
            EXPECT_TRUE(widget->focusPolicy() & Qt::TabFocus) << what;
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << what;
        }
    }
    // The tree, the table, the copy button, four boxes and "Применить".
    EXPECT_GE(controls, 8);
    EXPECT_EQ(screen->ResultBar()->CopyAction()->toolTip(),
              QStringLiteral("Скопировать значения в буфер обмена"));
    screen.reset();
}
