// The events pane as the user drives it: the toolbar and its states, header
// clicks that sort (Ctrl+click adds a key), auto-scroll, navigation by sequence
// number, the filter dialog on the GUI thread, the column fit, and how it looks.

#include "channel/AppMessages.h"
#include "dialogs/CFilterDlg.h"
#include "events/EventText.h"
#include "panes/CEventGrid.h"
#include "panes/CEventHeader.h"
#include "panes/CEventsModel.h"
#include "loop/Window.h"
#include "panes/support/EventPaneKit.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>

namespace panestest {
namespace {

using events::COL_DESCRIPTION;
using events::COL_SENDER;
using events::COL_STATUS;
using events::COL_TIME;

std::uint32_t SequenceAt(panes::CEventBar& bar, int row)
{
    return bar.Model()->index(row, 0).data(panes::CEventsModel::SequenceRole).toUInt();
}

QString CellAt(panes::CEventBar& bar, int row, int column)
{
    return bar.Model()->index(row, column).data().toString();
}

void ClickHeader(panes::CEventBar& bar, int column, Qt::KeyboardModifiers modifiers = {})
{
    QHeaderView* header = bar.Grid()->horizontalHeader();
    const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, modifiers, centre);
}

bool LastRowInView(panes::CEventBar& bar)
{
    const int rows = bar.Model()->rowCount();
    if (rows == 0)
        return true;
    const QRect last = bar.Grid()->visualRect(bar.Model()->index(rows - 1, 0));
    return last.top() >= 0 && last.bottom() < bar.Grid()->viewport()->height();
}

bool RowInView(panes::CEventBar& bar, int row)
{
    const QRect rect = bar.Grid()->visualRect(bar.Model()->index(row, 0));
    return rect.isValid() && rect.top() >= 0 && rect.bottom() < bar.Grid()->viewport()->height();
}

TEST(EventBar, ToolbarCommandsTheirTooltipsAndStates)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    QAbstractItemModelTester tester(bar.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    const QList<QAction*> actions = bar.ToolBar()->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_EQ(actions[0], bar.SaveAction());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2], bar.FilterAction());
    EXPECT_EQ(actions[3], bar.RemoveFilterAction());
    EXPECT_TRUE(actions[4]->isSeparator());
    EXPECT_EQ(actions[5], bar.AutoScrollAction());
    EXPECT_EQ(bar.SaveAction()->toolTip(), QStringLiteral("Сохранить данные в файл"));
    EXPECT_EQ(bar.FilterAction()->toolTip(), QStringLiteral("Фильтровать"));
    EXPECT_EQ(bar.RemoveFilterAction()->toolTip(), QStringLiteral("Убрать фильтр"));
    EXPECT_EQ(bar.AutoScrollAction()->toolTip(), QStringLiteral("Автопрокрутка"));
    EXPECT_EQ(bar.windowTitle(), QStringLiteral("События"));

    // Every button is reachable by Tab and named for screen readers.
    for (QAction* action : {bar.SaveAction(), bar.FilterAction(), bar.RemoveFilterAction(),
                            bar.AutoScrollAction()}) {
        QWidget* button = bar.ToolBar()->widgetForAction(action);
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus) << action->toolTip().toStdString();
        EXPECT_EQ(button->accessibleName(), action->toolTip());
        EXPECT_FALSE(action->icon().isNull());
    }
    EXPECT_FALSE(bar.Grid()->accessibleName().isEmpty());
    EXPECT_FALSE(bar.Grid()->horizontalHeader()->accessibleName().isEmpty());
    EXPECT_TRUE(bar.Grid()->horizontalHeader()->focusPolicy() & Qt::TabFocus);
    EXPECT_FALSE(bar.Grid()->tabKeyNavigation()) << "Tab leaves the grid";
    EXPECT_EQ(bar.Grid()->contextMenuPolicy(), Qt::PreventContextMenu);

    EXPECT_TRUE(bar.SaveAction()->isEnabled());
    EXPECT_FALSE(bar.FilterAction()->isChecked());
    EXPECT_FALSE(bar.RemoveFilterAction()->isEnabled());

    rig.Add({.status = 2});
    rig.Add({.status = 0});
    ASSERT_TRUE(rig.WaitForRows());
    bar.FilterAction()->trigger();
    dialogs::CFilterDlg* dialog = bar.FilterDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(bar.FilterAction()->isChecked()) << "a click alone does not filter";
    dialog->CheckList(dialogs::CFilterDlg::LIST_STATUSES)->item(2)->setCheckState(Qt::Checked);
    QTest::mouseClick(dialog->ApplyButton(), Qt::LeftButton);
    EXPECT_TRUE(bar.IsFiltered());
    EXPECT_TRUE(bar.FilterAction()->isChecked()) << "pressed while filtered";
    EXPECT_TRUE(bar.RemoveFilterAction()->isEnabled());
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(bar.Model()->rowCount(), 1);

    bar.RemoveFilterAction()->trigger();
    EXPECT_FALSE(bar.IsFiltered());
    EXPECT_FALSE(bar.FilterAction()->isChecked());
    EXPECT_FALSE(bar.RemoveFilterAction()->isEnabled());
    EXPECT_FALSE(rig.Store().IsFilterActive());
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(bar.Model()->rowCount(), 2);
}

TEST(EventBar, TabReachesTheToolbarTheHeaderAndTheGrid)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    bar.window()->activateWindow();
    QWidget* save = bar.ToolBar()->widgetForAction(bar.SaveAction());
    save->setFocus(Qt::TabFocusReason);
    std::vector<QWidget*> reached;
    QWidget* focus = save;
    for (int i = 0; i < 8; ++i) {
        focus = focus->nextInFocusChain();
        while (!(focus->focusPolicy() & Qt::TabFocus) || !focus->isVisible() ||
               !focus->isEnabled())
            focus = focus->nextInFocusChain();
        reached.push_back(focus);
    }
    for (QWidget* expected :
         {bar.ToolBar()->widgetForAction(bar.FilterAction()),
          bar.ToolBar()->widgetForAction(bar.AutoScrollAction()),
          static_cast<QWidget*>(bar.Grid()->horizontalHeader()), static_cast<QWidget*>(bar.Grid())})
        EXPECT_NE(std::find(reached.begin(), reached.end(), expected), reached.end())
            << expected->accessibleName().toStdString();

    // Space on the focused auto-scroll button switches it.
    QWidget* autoScroll = bar.ToolBar()->widgetForAction(bar.AutoScrollAction());
    autoScroll->setFocus(Qt::TabFocusReason);
    QTest::keyClick(autoScroll, Qt::Key_Space);
    EXPECT_TRUE(bar.IsAutoScroll());
}

TEST(EventBar, ARedrawMessageRepaintsWithoutChangingTheRows)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    rig.Add({});
    ASSERT_TRUE(rig.WaitForRows());
    QSignalSpy redraw(bar.Model(), &panes::CEventsModel::redrawRequested);
    QSignalSpy reset(bar.Model(), &QAbstractItemModel::modelReset);
    ASSERT_TRUE(loop::PostToWindow(bar.EventsWindow(), channel::WM_EVENTS_REDRAW, 0, 0));
    ASSERT_TRUE(RunUntil([&] { return redraw.count() == 1; }));
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(bar.Model()->rowCount(), 1);
    EXPECT_EQ(rig.Logic().Events().EventsWindow(), bar.EventsWindow())
        << "the pane registered itself as the events pane";
}

TEST(EventBar, AutoScrollKeepsTheLastRowInViewAndTheSelectionOnItsPosition)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    for (int i = 0; i < 10; ++i)
        rig.Add({.senderPort = static_cast<std::uint16_t>(i)});
    ASSERT_TRUE(rig.WaitForRows());
    bar.AutoScrollAction()->trigger();
    ASSERT_TRUE(bar.IsAutoScroll());
    EXPECT_TRUE(bar.AutoScrollAction()->isChecked());
    bar.Grid()->SelectRow(2);
    for (int burst = 0; burst < 5; ++burst) {
        for (int i = 0; i < 100; ++i)
            rig.Add({.senderPort = static_cast<std::uint16_t>(1000 + burst * 100 + i)});
        ASSERT_TRUE(rig.WaitForRows());
        EXPECT_TRUE(LastRowInView(bar)) << "burst " << burst;
        EXPECT_EQ(bar.Grid()->SelectedRow(), 2) << "burst " << burst;
    }
    EXPECT_EQ(bar.Model()->rowCount(), 510);
    EXPECT_GT(bar.Grid()->verticalScrollBar()->value(), 0);

    bar.AutoScrollAction()->trigger();
    EXPECT_FALSE(bar.IsAutoScroll());
    rig.Add({});
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_FALSE(LastRowInView(bar)) << "off: the view stays where it was";
}

TEST(EventBar, AHeaderClickWithAutoScrollOnDoesNotSort)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    rig.Add({.sender = "10.0.0.9"});
    rig.Add({.sender = "10.0.0.1"});
    ASSERT_TRUE(rig.WaitForRows());
    bar.SetAutoScroll(true);
    ClickHeader(bar, COL_SENDER);
    EXPECT_FALSE(rig.Store().SortState().IsSorting());
    EXPECT_TRUE(bar.Grid()->Header()->SortMarks().empty());
    EXPECT_EQ(CellAt(bar, 0, COL_SENDER), QStringLiteral("10.0.0.9"));

    bar.SetAutoScroll(false);
    ClickHeader(bar, COL_SENDER);
    EXPECT_TRUE(rig.Store().SortState().IsSorting()) << "off again: a click sorts";
    EXPECT_EQ(CellAt(bar, 0, COL_SENDER), QStringLiteral("10.0.0.1"));
}

TEST(EventBar, SenderAscendingIsByTheStoredNetworkOrderValue)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    rig.Add({.sender = "1.0.0.2", .senderPort = 1});
    rig.Add({.sender = "2.0.0.1", .senderPort = 2});
    rig.Add({.sender = "1.0.0.2", .senderPort = 3});
    ASSERT_TRUE(rig.WaitForRows());
    ClickHeader(bar, COL_SENDER);
    ASSERT_EQ(bar.Grid()->Header()->SortMarks().size(), 1U);
    EXPECT_TRUE(bar.Grid()->Header()->SortMarks()[0].ascending);
    EXPECT_EQ(CellAt(bar, 0, COL_SENDER), QStringLiteral("2.0.0.1"));
    EXPECT_EQ(CellAt(bar, 1, COL_SENDER), QStringLiteral("1.0.0.2"));
    EXPECT_EQ(CellAt(bar, 1, events::COL_SENDER_PORT), QStringLiteral("1"))
        << "equal senders by sequence number";
    EXPECT_EQ(CellAt(bar, 2, events::COL_SENDER_PORT), QStringLiteral("3"));

    ClickHeader(bar, COL_SENDER);
    EXPECT_FALSE(bar.Grid()->Header()->SortMarks()[0].ascending) << "a second click turns it";
    EXPECT_EQ(CellAt(bar, 2, COL_SENDER), QStringLiteral("2.0.0.1"));
}

TEST(EventBar, ADescriptionSortPutsCodeZeroFirstAndSixWithThirteen)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    for (int code : {13, 10, 0, 4, 6, 11, 13, 1, 6})
        rig.Add({.code = code});
    ASSERT_TRUE(rig.WaitForRows());
    ClickHeader(bar, COL_DESCRIPTION);
    std::vector<int> codes;
    for (int row = 0; row < bar.Model()->rowCount(); ++row)
        codes.push_back(bar.Model()->EventAtRow(row)->description);
    EXPECT_EQ(codes.front(), 0);
    const auto first = std::find_if(codes.begin(), codes.end(),
                                    [](int code) { return code == 6 || code == 13; });
    ASSERT_NE(first, codes.end());
    for (auto it = first; it != first + 4; ++it)
        EXPECT_TRUE(*it == 6 || *it == 13) << "the four share one text and one place";
    EXPECT_EQ(CellAt(bar, 0, COL_DESCRIPTION), QString());
}

TEST(EventBar, CtrlClickAddsAKeyAndTheSelectedEventStaysSelected)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    // Statuses 3, 0, 2 over and over, times running backwards.
    for (int i = 0; i < 60; ++i)
        rig.Add({.status = i % 3 == 0 ? 3 : (i % 3 == 1 ? 0 : 2),
                 .time = FileTimeOf(12, 0, 59 - i, 0)});
    ASSERT_TRUE(rig.WaitForRows());
    const std::uint32_t chosen = SequenceAt(bar, 7);
    bar.Grid()->SelectRow(7);

    ClickHeader(bar, COL_STATUS);
    ASSERT_EQ(bar.SelectedSequence(), chosen);
    EXPECT_TRUE(RowInView(bar, bar.Grid()->SelectedRow()));
    EXPECT_EQ(CellAt(bar, 0, COL_STATUS), QStringLiteral("Информация"));

    ClickHeader(bar, COL_TIME, Qt::ControlModifier);
    const std::vector<events::SortKey> keys = rig.Store().SortState().Keys();
    ASSERT_EQ(keys.size(), 3U) << "status, time and the closing sequence";
    EXPECT_EQ(keys[0].column, COL_STATUS);
    EXPECT_EQ(keys[1].column, COL_TIME);
    EXPECT_TRUE(keys[1].ascending);
    ASSERT_EQ(bar.Grid()->Header()->SortMarks().size(), 2U) << "a mark on each key";
    EXPECT_EQ(bar.SelectedSequence(), chosen);
    EXPECT_TRUE(RowInView(bar, bar.Grid()->SelectedRow()));
    for (int row = 1; row < bar.Model()->rowCount(); ++row) {
        const events::Event a = *bar.Model()->EventAtRow(row - 1);
        const events::Event b = *bar.Model()->EventAtRow(row);
        ASSERT_TRUE(a.status < b.status || (a.status == b.status && a.time < b.time))
            << "row " << row;
    }

    // A plain click starts over with one key.
    ClickHeader(bar, COL_TIME);
    EXPECT_EQ(rig.Store().SortState().KeyCount(), 2);
    EXPECT_EQ(bar.SelectedSequence(), chosen);

    // The keyboard does the same on the focused header.
    panes::CEventHeader& header = *bar.Grid()->Header();
    header.setFocus();
    QTest::keyClick(&header, Qt::Key_Home);
    QTest::keyClick(&header, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(rig.Store().SortState().KeyCount(), 3);
    EXPECT_EQ(rig.Store().SortState().Keys()[1].column, COL_STATUS);
}

TEST(EventBar, AutoScrollDropsTheSortAndItsMarks)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    for (int i = 0; i < 40; ++i)
        rig.Add({.sender = "10.0.0." + std::to_string(40 - i)});
    ASSERT_TRUE(rig.WaitForRows());
    ClickHeader(bar, COL_SENDER);
    ClickHeader(bar, COL_TIME, Qt::ControlModifier);
    ASSERT_EQ(bar.Grid()->Header()->SortMarks().size(), 2U);
    bar.Grid()->SelectRow(0);
    const std::uint32_t chosen = *bar.SelectedSequence();

    bar.SetAutoScroll(true);
    EXPECT_TRUE(bar.Grid()->Header()->SortMarks().empty());
    EXPECT_FALSE(rig.Store().SortState().IsSorting());
    EXPECT_FALSE(bar.Grid()->Header()->SortsOnClick());
    EXPECT_EQ(SequenceAt(bar, 0), rig.Store().GetEvent(0)->sequence) << "arrival order again";
    EXPECT_EQ(bar.SelectedSequence(), chosen);
    EXPECT_TRUE(LastRowInView(bar));
}

// Selecting by index went wrong after a purge, a sort or a filter.
TEST(EventBar, SelectingAnEventFindsItBySequenceAfterPurgeSortAndFilter)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    for (int i = 0; i < 30; ++i)
        rig.Add({.status = i % 2 == 0 ? 3 : 0, .code = i % 5 == 0 ? 1 : 10,
                 .sender = "10.0.0." + std::to_string(30 - i)});
    ASSERT_TRUE(rig.WaitForRows());
    const std::uint32_t kept = rig.Store().GetEvent(20)->sequence; // code 1, warning
    const std::uint32_t dropped = rig.Store().GetEvent(21)->sequence;

    ClickHeader(bar, COL_SENDER);
    ASSERT_TRUE(bar.SelectEventBySequence(kept));
    EXPECT_EQ(bar.SelectedSequence(), kept);
    EXPECT_EQ(bar.Grid()->SelectedRow(), 9) << "sender 10.0.0.10 is the ninth smallest";

    rig.Logic().PurgeEvents(true);
    bar.RefreshRows();
    EXPECT_EQ(bar.Model()->rowCount(), 6);
    EXPECT_FALSE(bar.SelectEventBySequence(dropped));
    ASSERT_TRUE(bar.SelectEventBySequence(kept));
    EXPECT_EQ(bar.SelectedSequence(), kept);

    events::FilterCriteria warnings;
    warnings.statuses = {3};
    bar.ApplyFilter(warnings);
    ASSERT_TRUE(rig.WaitForRows());
    ASSERT_TRUE(bar.SelectEventBySequence(kept));
    EXPECT_EQ(bar.SelectedSequence(), kept);
    EXPECT_TRUE(RowInView(bar, bar.Grid()->SelectedRow()));
}

TEST(EventBar, TheFilterDialogRunsModallyOnTheGuiThreadAndPreloadsTheCriteria)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    rig.Add({.status = 2, .code = 7});
    rig.Add({.status = 0, .code = 10});
    ASSERT_TRUE(rig.WaitForRows());
    bar.OpenFilterDialog();
    dialogs::CFilterDlg* dialog = bar.FilterDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->thread(), QThread::currentThread());
    EXPECT_EQ(dialog->thread(), bar.thread());
    bar.OpenFilterDialog();
    EXPECT_EQ(bar.FilterDialog(), dialog) << "one dialog at a time";

    // Events keep arriving while it is open: no nested loop holds them up.
    rig.Add({.status = 2, .code = 8});
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(bar.Model()->rowCount(), 3);

    QListWidget* statuses = dialog->CheckList(dialogs::CFilterDlg::LIST_STATUSES);
    statuses->item(2)->setCheckState(Qt::Checked); // "Ошибка"
    QTest::mouseClick(dialog->ApplyButton(), Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return bar.FilterDialog() == nullptr; }));
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(bar.Model()->rowCount(), 2);
    EXPECT_EQ(CellAt(bar, 0, COL_STATUS), QStringLiteral("Ошибка"));

    bar.OpenFilterDialog();
    dialog = bar.FilterDialog();
    ASSERT_NE(dialog, nullptr);
    statuses = dialog->CheckList(dialogs::CFilterDlg::LIST_STATUSES);
    EXPECT_EQ(statuses->item(2)->checkState(), Qt::Checked) << "the criteria in force";
    EXPECT_EQ(statuses->item(0)->checkState(), Qt::Unchecked);
    QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return bar.FilterDialog() == nullptr; }));
    EXPECT_EQ(rig.Store().Filter().Criteria()->statuses, std::vector<std::int32_t>{2})
        << "cancel leaves the filter as it was";
}

TEST(EventBar, ClearThenApplyShowsTheWholeLogYetTheFilterStaysActiveAndFollows)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    for (int i = 0; i < 8; ++i)
        rig.Add({.status = i % 2 == 0 ? 2 : 0});
    events::FilterCriteria errors;
    errors.statuses = {2};
    bar.ApplyFilter(errors);
    ASSERT_TRUE(rig.WaitForRows());
    ASSERT_EQ(bar.Model()->rowCount(), 4);

    bar.OpenFilterDialog();
    dialogs::CFilterDlg* dialog = bar.FilterDialog();
    ASSERT_NE(dialog, nullptr);
    QTest::mouseClick(dialog->ClearButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog->isVisible()) << "Очистить keeps the dialog open";
    QTest::mouseClick(dialog->ApplyButton(), Qt::LeftButton);
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(bar.Model()->rowCount(), 8) << "the whole log";
    EXPECT_TRUE(rig.Store().IsFilterActive());
    EXPECT_TRUE(bar.IsFiltered());
    EXPECT_TRUE(bar.RemoveFilterAction()->isEnabled());

    // A server event between checks (follow is off, the task has ended).
    ASSERT_FALSE(rig.Store().Filter().IsFollowing());
    rig.Add({.status = 3});
    ASSERT_TRUE(RunUntil([&] { return bar.Model()->rowCount() == 9; }));
    EXPECT_EQ(CellAt(bar, 8, COL_STATUS), QStringLiteral("Предупреждение"));
}

// Server events used to wait for the next check to start the filter's task.
TEST(EventBar, ServerEventsReachTheFilteredViewWithoutACheck)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    events::FilterCriteria warnings;
    warnings.statuses = {3};
    bar.ApplyFilter(warnings);
    ASSERT_TRUE(rig.WaitForRows());
    ASSERT_EQ(bar.Model()->rowCount(), 0);
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(RunUntil([&] { return !rig.Store().Filter().IsRunning(); }));
        rig.Logic().AddEvent(3, 2, 10048, 1, nullptr, static_cast<std::uint16_t>(7000 + round), 0,
                             false);
        rig.Logic().AddEvent(0, 1, 0, 1, nullptr, static_cast<std::uint16_t>(8000 + round), 0,
                             false);
        ASSERT_TRUE(RunUntil([&] { return bar.Model()->rowCount() == round; }))
            << "round " << round;
    }
    EXPECT_EQ(CellAt(bar, 2, events::COL_SENDER_PORT), QStringLiteral("7003"));
}

TEST(EventBar, ADividerDoubleClickFitsTheColumnMeasuringABoundedNumberOfRows)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    constexpr int kEvents = 100000;
    for (int i = 0; i < kEvents; ++i)
        rig.Add({.code = i >= kEvents - 5 ? 3 : 10}); // the longest texts at the end only
    ASSERT_TRUE(rig.WaitForRows());
    bar.Grid()->scrollToBottom();
    RunUntil([] { return false; }, std::chrono::milliseconds(20));

    QHeaderView* header = bar.Grid()->horizontalHeader();
    const int edge = bar.Grid()->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr,
                                                      bar.Grid());
    const int longest =
        bar.Grid()->fontMetrics().horizontalAdvance(QStringLiteral("Нужны права администратора"));
    header->resizeSection(COL_DESCRIPTION, 40);
    const QPoint divider(header->sectionViewportPosition(COL_DESCRIPTION) +
                             header->sectionSize(COL_DESCRIPTION) - 1,
                         header->height() / 2);
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, divider);
    EXPECT_EQ(header->sectionSize(COL_DESCRIPTION), longest + 2 * edge + 10)
        << "the widest text in view decides";

    EXPECT_LE(bar.Grid()->FitColumn(COL_DESCRIPTION), panes::CEventGrid::kFitRowLimit);
    // A column whose texts are narrower than its caption gets the caption's width.
    EXPECT_GT(bar.Grid()->FitColumn(events::COL_PROTOCOL), 0);
    EXPECT_EQ(header->sectionSize(events::COL_PROTOCOL),
              bar.Grid()->CaptionWidth(events::COL_PROTOCOL));
    // The status column counts its picture.
    bar.Grid()->FitColumn(COL_STATUS);
    EXPECT_EQ(header->sectionSize(COL_STATUS),
              std::max(bar.Grid()->fontMetrics().horizontalAdvance(QStringLiteral("Информация")) +
                           16 + 4 + 2 * edge + 10,
                       bar.Grid()->CaptionWidth(COL_STATUS)));
}

TEST(EventBar, CaptionsFitTheirColumnsAndTheTextsHaveTheirGlyphs)
{
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    rig.Add({.status = 2, .code = 7, .sender = "192.168.77.1", .receiver = "10.0.0.7",
             .detail = 10061});
    rig.Add({.status = 3, .code = 3, .protocol = 2, .receiver = "", .receiverPort = 0});
    rig.Add({.status = 0, .code = 11, .protocol = 3});
    ASSERT_TRUE(rig.WaitForRows());
    QHeaderView* header = bar.Grid()->horizontalHeader();
    const QFontMetrics metrics = header->fontMetrics();
    for (int column = 0; column < events::EVENT_COLUMN_COUNT; ++column) {
        const QString caption = bar.Model()->headerData(column, Qt::Horizontal).toString();
        EXPECT_GE(header->sectionSize(column), metrics.horizontalAdvance(caption) + 16)
            << caption.toStdString() << " would be cut";
        EXPECT_GE(header->sectionSize(column), panes::CEventsModel::InitialColumnWidth(column));
        for (const QChar c : caption)
            EXPECT_TRUE(metrics.inFontUcs4(c.unicode())) << caption.toStdString();
    }
    // One height for every row, room for the text and the 16-pixel picture.
    const QRect first = bar.Grid()->visualRect(bar.Model()->index(0, 0));
    const QRect third = bar.Grid()->visualRect(bar.Model()->index(2, 0));
    EXPECT_EQ(third.top() - first.top(), 2 * bar.Grid()->RowHeight());
    EXPECT_EQ(first.height(), bar.Grid()->RowHeight());
    EXPECT_GE(bar.Grid()->RowHeight(), std::max(bar.Grid()->fontMetrics().height(), 16));

    // A picture of the pane for a person to look at, when asked for.
    if (const char* folder = std::getenv("KANALIKO_SCREENSHOT_DIR")) {
        ClickHeader(bar, COL_STATUS);
        ClickHeader(bar, COL_TIME, Qt::ControlModifier);
        bar.Grid()->SelectRow(1);
        RunUntil([] { return false; }, std::chrono::milliseconds(50));
        EXPECT_TRUE(bar.grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/events.png")));
    }
}

} // namespace
} // namespace panestest
