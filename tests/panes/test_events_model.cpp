// The events pane's model: its row count follows the store's shown rows (one
// insertion for a burst, one reset for replaced rows), its cells are the
// store's texts, and Qt's model tester finds nothing wrong while four threads
// add events amid filters and sorts.

#include "events/EventText.h"
#include "panes/CEventGrid.h"
#include "panes/CEventHeader.h"
#include "panes/CEventsModel.h"
#include "panes/support/EventPaneKit.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <mutex>
#include <thread>

namespace panestest {
namespace {

using namespace std::chrono_literals;

// Collects what the model tester reports (it reports through qWarning in the
// category "qt.modeltest"); everything else goes on to the handler before.
class CModelTesterLog
{
public:
    CModelTesterLog() { s_previous = qInstallMessageHandler(&CModelTesterLog::Handle); }
    ~CModelTesterLog() { qInstallMessageHandler(s_previous); }
    static QStringList Failures()
    {
        std::lock_guard<std::mutex> lock(s_lock);
        return s_failures;
    }

private:
    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (context.category != nullptr && qstrcmp(context.category, "qt.modeltest") == 0 &&
            type != QtDebugMsg && type != QtInfoMsg) {
            std::lock_guard<std::mutex> lock(s_lock);
            s_failures.push_back(text);
            return;
        }
        if (s_previous)
            s_previous(type, context, text);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline std::mutex s_lock;
    static inline QStringList s_failures;
};

// Every cell of the rows in view is the store's text for that row.
void ExpectVisibleCellsAreTheStoresTexts(panes::CEventBar& bar, const events::CEventStore& store)
{
    panes::CEventGrid& grid = *bar.Grid();
    const int first = std::max(0, grid.rowAt(0));
    int last = grid.rowAt(grid.viewport()->height() - 1);
    if (last < 0)
        last = bar.Model()->rowCount() - 1;
    ASSERT_GE(last, first) << "rows are in view";
    for (int row = first; row <= last; ++row) {
        for (int column = 0; column < events::EVENT_COLUMN_COUNT; ++column) {
            ASSERT_EQ(bar.Model()->index(row, column).data().toString(),
                      StoreCellText(store, row, column))
                << "row " << row << ", column " << column;
        }
    }
}

TEST(EventsModel, FollowsFourWritersThroughFiltersAndSortsUnderTheModelTester)
{
    CModelTesterLog log;
    CEventPaneRig rig;
    panes::CEventBar& bar = rig.Bar();
    QAbstractItemModelTester tester(bar.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);

    constexpr int kThreads = 4;
    constexpr int kPerThread = 25000;
    // The writers add their share in phases; the GUI thread starts each phase
    // and then changes the view while the phase's events pour in.
    constexpr int kPhases = 8;
    constexpr int kPerPhase = kPerThread / kPhases;
    std::atomic<int> released{0};
    std::array<std::atomic<int>, kPhases> writersDone{};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int phase = 0; phase < kPhases; ++phase) {
                while (released.load() <= phase)
                    std::this_thread::sleep_for(1ms);
                for (int k = 0; k < kPerPhase; ++k) {
                    const int i = phase * kPerPhase + k;
                    rig.Add({.status = i % 3 == 0 ? 3 : (i % 3 == 1 ? 2 : 0),
                             .code = i % 15,
                             .protocol = 1 + i % 3,
                             .sender = "10.0." + std::to_string(t) + "." + std::to_string(i % 200),
                             .senderPort = static_cast<std::uint16_t>(i)});
                }
                writersDone[static_cast<std::size_t>(phase)].fetch_add(1);
            }
        });
    }

    events::FilterCriteria warnings;
    warnings.statuses = {3};
    events::FilterCriteria tcpErrors;
    tcpErrors.statuses = {2};
    tcpErrors.protocols = {1};
    panes::CEventHeader& header = *bar.Grid()->Header();
    for (int phase = 0; phase < kPhases; ++phase) {
        released.store(phase + 1);
        switch (phase) {
        case 0: bar.ApplyFilter(warnings); break;
        case 1: emit header.sortRequested(events::COL_SENDER, false); break;
        case 2: bar.RemoveFilter(); break;
        case 3: emit header.sortRequested(events::COL_TIME, true); break;
        case 4: bar.ApplyFilter(tcpErrors); break;
        case 5: bar.RemoveFilter(); break;
        case 6: emit header.sortRequested(events::COL_DESCRIPTION, false); break;
        default: bar.ApplyFilter(warnings); break;
        }
        EXPECT_LE(bar.Model()->rowCount(), rig.Store().GetEventCount());
        EXPECT_TRUE(RunUntil(
            [&] { return writersDone[static_cast<std::size_t>(phase)].load() == kThreads; }));
    }
    for (auto& writer : writers)
        writer.join();

    bar.ApplyFilter(warnings);
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(bar.Model()->rowCount(), kThreads * ((kPerThread + 2) / 3))
        << "every third event of each writer is a warning";
    ExpectVisibleCellsAreTheStoresTexts(bar, rig.Store());

    bar.RemoveFilter();
    emit bar.Grid()->Header()->sortRequested(events::COL_DESCRIPTION, false);
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(bar.Model()->rowCount(), kThreads * kPerThread);
    EXPECT_EQ(bar.Model()->rowCount(), rig.Store().ShownRowCount());
    ExpectVisibleCellsAreTheStoresTexts(bar, rig.Store());
    bar.Grid()->scrollToBottom();
    RunUntil([] { return false; }, 20ms);
    ExpectVisibleCellsAreTheStoresTexts(bar, rig.Store());

    EXPECT_TRUE(CModelTesterLog::Failures().isEmpty())
        << CModelTesterLog::Failures().join(QStringLiteral("\n")).toStdString();
}

// The pane used to add one row per WM_EVENT_ADDED and drift from the store after
// a purge or a filter; now a burst is one insertion and replaced rows one reset.
TEST(EventsModel, ABurstIsOneInsertionAndAPurgeOrFilterOneReset)
{
    CEventPaneRig rig;
    panes::CEventsModel& model = *rig.Bar().Model();
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    for (int i = 0; i < 5000; ++i)
        rig.Add({.code = i % 2 == 0 ? 1 : 10, .senderPort = static_cast<std::uint16_t>(i)});
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(model.rowCount(), 5000);
    ASSERT_EQ(inserted.count(), 1) << "5000 events before the GUI thread ran: one insertion";
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 4999);
    EXPECT_EQ(reset.count(), 0);

    // The frame purges through the logic; the store's notice brings the pane
    // along without anybody telling it.
    EXPECT_EQ(rig.Logic().PurgeEvents(true), 2500);
    ASSERT_TRUE(RunUntil([&] { return model.rowCount() == 2500; }));
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(model.index(2499, events::COL_DESCRIPTION).data().toString(),
              QStringLiteral("Порт открыт"));
    EXPECT_FALSE(model.index(2500, 0).isValid()) << "no blank rows left behind";

    events::FilterCriteria none;
    none.statuses = {3};
    rig.Bar().ApplyFilter(none);
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(reset.count(), 2);

    // Matches of the filter arrive as insertions.
    inserted.clear();
    for (int i = 0; i < 30; ++i)
        rig.Add({.status = 3, .code = 7});
    ASSERT_TRUE(rig.WaitForRows());
    EXPECT_EQ(model.rowCount(), 30);
    EXPECT_GE(inserted.count(), 1);
    EXPECT_EQ(reset.count(), 2);
}

TEST(EventsModel, CellsAreTheTextFormsAndTheStatusPictureFollowsTheStatus)
{
    CEventPaneRig rig;
    rig.Add({.status = 2,
             .code = 7,
             .protocol = 2,
             .sender = "192.168.77.1",
             .receiver = "10.0.0.7",
             .senderPort = 40000,
             .receiverPort = 5000,
             .detail = 10061,
             .time = FileTimeOf(9, 5, 7, 42)});
    rig.Add({.status = 3, .code = 13, .protocol = 3, .receiver = "", .receiverPort = 0});
    rig.Add({.status = 0, .code = 1, .protocol = 0, .receiverPort = 0});
    rig.Add({.status = 7});
    ASSERT_TRUE(rig.WaitForRows());
    panes::CEventsModel& model = *rig.Bar().Model();
    const auto text = [&](int row, int column) {
        return model.index(row, column).data().toString().toStdString();
    };
    EXPECT_EQ(text(0, events::COL_STATUS), "Ошибка");
    EXPECT_EQ(text(0, events::COL_TIME), "9:05:07.042");
    EXPECT_EQ(text(0, events::COL_DESCRIPTION), "Не удалось подключиться");
    EXPECT_EQ(text(0, events::COL_PROTOCOL), "UDP");
    EXPECT_EQ(text(0, events::COL_SENDER), "192.168.77.1");
    EXPECT_EQ(text(0, events::COL_RECEIVER), "10.0.0.7");
    EXPECT_EQ(text(0, events::COL_SENDER_PORT), "40000");
    EXPECT_EQ(text(0, events::COL_RECEIVER_PORT), "5000");
    EXPECT_EQ(text(0, events::COL_DETAIL).rfind("10061: ", 0), 0U) << text(0, events::COL_DETAIL);
    EXPECT_GT(text(0, events::COL_DETAIL).size(), std::string("10061: ").size());
    EXPECT_EQ(text(1, events::COL_DESCRIPTION), "Попытка подключения");
    EXPECT_EQ(text(1, events::COL_RECEIVER), "") << "no receiver port: no receiver";
    EXPECT_EQ(text(1, events::COL_RECEIVER_PORT), "");
    EXPECT_EQ(text(1, events::COL_DETAIL), "") << "code 0: the cell stays empty";
    EXPECT_EQ(text(2, events::COL_PROTOCOL), "");
    EXPECT_EQ(text(3, events::COL_STATUS), "???");

    // Pictures 0, 3, 2 of the strip for information, error, warning; none else.
    EXPECT_EQ(panes::CEventsModel::StatusImageIndex(0), 0);
    EXPECT_EQ(panes::CEventsModel::StatusImageIndex(2), 3);
    EXPECT_EQ(panes::CEventsModel::StatusImageIndex(3), 2);
    EXPECT_EQ(panes::CEventsModel::StatusImageIndex(7), -1);
    for (int row = 0; row < 3; ++row) {
        const QIcon icon = model.index(row, 0).data(Qt::DecorationRole).value<QIcon>();
        ASSERT_FALSE(icon.isNull()) << "row " << row;
        EXPECT_EQ(icon.pixmap(16, 16).toImage(),
                  panes::CEventsModel::StatusImage(
                      panes::CEventsModel::StatusImageIndex(row == 0 ? 2 : (row == 1 ? 3 : 0)))
                      .pixmap(16, 16)
                      .toImage());
    }
    EXPECT_NE(panes::CEventsModel::StatusImage(0).pixmap(16, 16).toImage(),
              panes::CEventsModel::StatusImage(3).pixmap(16, 16).toImage());
    EXPECT_TRUE(model.index(3, 0).data(Qt::DecorationRole).isNull());
    EXPECT_TRUE(model.index(0, 1).data(Qt::DecorationRole).isNull());

    // The sequence number rides along with every cell.
    EXPECT_EQ(model.index(1, 5).data(panes::CEventsModel::SequenceRole).toUInt(),
              rig.Store().GetEvent(1)->sequence);
    for (int column = 0; column < events::EVENT_COLUMN_COUNT; ++column)
        EXPECT_EQ(model.headerData(column, Qt::Horizontal).toString().toStdString(),
                  events::ColumnHeader(column));
}

TEST(EventsModel, ARowTheStoreNoLongerHasShowsEmptyCellsUntilTheNoticeArrives)
{
    CEventPaneRig rig;
    for (int i = 0; i < 10; ++i)
        rig.Add({.code = 10});
    ASSERT_TRUE(rig.WaitForRows());
    panes::CEventsModel& model = *rig.Bar().Model();
    ASSERT_EQ(model.rowCount(), 10);
    // Purged behind the model's back, before its notice is handled.
    rig.Store().Purge([](const events::Event&) { return false; });
    model.DropCache();
    EXPECT_EQ(model.rowCount(), 10);
    EXPECT_EQ(model.index(3, events::COL_DESCRIPTION).data().toString(), QString());
    ASSERT_TRUE(RunUntil([&] { return model.rowCount() == 0; }));
}

} // namespace
} // namespace panestest
