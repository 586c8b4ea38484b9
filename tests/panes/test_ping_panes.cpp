// The echo request's panes with a scripted engine (panes/support): the
// settings and their read-back, the statistics tree, the results in table and
// list mode, the clipboard texts and the keyboard. Every model runs under a
// QAbstractItemModelTester.

#include "panes/CClampedSpinBox.h"
#include "panes/CPaneClipboard.h"
#include "panes/CPingBar.h"
#include "panes/CPingGridModel.h"
#include "panes/CPingResultBar.h"
#include "panes/CPingResultModel.h"
#include "panes/CPingScreen.h"
#include "panes/CPingSettingsBar.h"
#include "panes/CRttChart.h"
#include "panes/CSourceAddressEdit.h"

#include "dialogs/support/ModelTesterGuard.h"
#include "panes/support/CScriptedDiagInfo.h"
#include "support/TestFiles.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <cstdlib>
#include <ctime>
#include <memory>

#include <gtest/gtest.h>

using namespace panes;
using panestest::CScriptedPingInfo;
using panestest::Result;

namespace {

constexpr std::int64_t kNoon = 1717243200; // 2024-06-01 12:00:00 UTC

// Local time is UTC while a test runs, so the formatted times are known.
class ScopedUtc
{
public:
    ScopedUtc()
    {
        if (const char* tz = std::getenv("TZ"))
            m_previous = tz, m_had = true;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~ScopedUtc()
    {
        if (m_had)
            ::setenv("TZ", m_previous.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string m_previous;
    bool m_had = false;
};

// A clipboard whose steps fail on request, recording what it was given.
class CFailingClipboard final : public IPaneClipboard
{
public:
    bool openFails = false, emptyFails = false, closeFails = false;
    int closes = 0;
    QString text;
    bool Open() override { return !openFails; }
    bool Empty() override { return !emptyFails; }
    void SetText(const QString& t) override { text = t; }
    bool Close() override
    {
        ++closes;
        return !closeFails;
    }
};

QString Text(const QAbstractItemModel& model, int row, int column, const QModelIndex& parent = {})
{
    return model.index(row, column, parent).data().toString();
}

class PingPanes : public ::testing::Test
{
protected:
    ScopedUtc utc;
    dialogs::test::ModelTesterGuard guard;
    QWidget window;
    CFailingClipboard clipboard;
};

} // namespace

// ---------------------------------------------------------------------------
// Settings

TEST_F(PingPanes, SettingsStartWithTheirRangesAndInitialValues)
{
    CPingSettingsBar bar(true, QStringLiteral("198.18.1.2"), &window);
    struct Box
    {
        CClampedSpinBox* box;
        int minimum, maximum, value;
        const char* name;
    } boxes[] = {{bar.RecordLimitBox(), 1, 100000, 1000, "Количество записей в окне События"},
                 {bar.SizeBox(), 1, 65500, 32, "Размер пакета"},
                 {bar.TtlBox(), 1, 255, 200, "TTL"},
                 {bar.IntervalBox(), 200, 60000, 1000, "Интервал"},
                 {bar.TimeOutBox(), 200, 5000, 500, "Тайм-аут"}};
    for (const Box& b : boxes) {
        EXPECT_EQ(b.box->minimum(), b.minimum) << b.name;
        EXPECT_EQ(b.box->maximum(), b.maximum) << b.name;
        EXPECT_EQ(b.box->value(), b.value) << b.name;
        EXPECT_EQ(b.box->accessibleName(), QString::fromUtf8(b.name));
    }
    EXPECT_EQ(bar.UseSourceBox()->text(), QStringLiteral("Использовать адрес источника"));
    EXPECT_TRUE(bar.UseSourceBox()->isChecked());
    EXPECT_TRUE(bar.UseSourceBox()->isEnabled());
    EXPECT_EQ(bar.SourceEdit()->text(), QStringLiteral("198.18.1.2"));
    EXPECT_TRUE(bar.SourceEdit()->isEnabled());
    EXPECT_EQ(bar.ApplyButton()->text(), QStringLiteral("Применить"));

    const diag::EchoSettings settings = bar.ReadSettings();
    EXPECT_EQ(settings.RecordLimit, 1000u);
    EXPECT_EQ(settings.Size, 32u);
    EXPECT_EQ(settings.Ttl, 200u);
    EXPECT_EQ(settings.Interval, 1000u);
    EXPECT_EQ(settings.TimeOut, 500u);
    EXPECT_EQ(settings.Source, "198.18.1.2");

    // The check box enables the address; unchecked, the system chooses.
    QTest::mouseClick(bar.UseSourceBox(), Qt::LeftButton);
    EXPECT_FALSE(bar.SourceEdit()->isEnabled());
    EXPECT_EQ(bar.ReadSettings().Source, "");
    bar.UseSourceBox()->setChecked(true);
    bar.SourceEdit()->setText(QStringLiteral("10.1"));
    EXPECT_EQ(bar.ReadSettings().Source, "10.1.0.0"); // untyped numbers count as 0
}

TEST_F(PingPanes, WithoutTheExtendedCallTheSourceIsOffAndEmpty)
{
    CPingSettingsBar bar(false, QStringLiteral("198.18.1.2"), &window);
    EXPECT_FALSE(bar.UseSourceBox()->isChecked());
    EXPECT_FALSE(bar.UseSourceBox()->isEnabled());
    EXPECT_FALSE(bar.SourceEdit()->isEnabled());
    EXPECT_EQ(bar.ReadSettings().Source, "");
}

TEST_F(PingPanes, TypedValuesAreClampedToTheirRangesAndShownAsUsed)
{
    CPingSettingsBar bar(true, QString(), &window);
    window.show();
    const auto type = [](CClampedSpinBox* box, const char* text) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QString::fromLatin1(text));
    };
    type(bar.TtlBox(), "300"); // a plain spin box would refuse the third key
    EXPECT_EQ(bar.TtlBox()->text(), QStringLiteral("300"));
    type(bar.IntervalBox(), "50");
    type(bar.RecordLimitBox(), "999999");
    type(bar.SizeBox(), "0");
    const diag::EchoSettings settings = bar.ReadSettings();
    EXPECT_EQ(settings.Ttl, 255u);
    EXPECT_EQ(bar.TtlBox()->text(), QStringLiteral("255"));
    EXPECT_EQ(settings.Interval, 200u);
    EXPECT_EQ(bar.IntervalBox()->text(), QStringLiteral("200"));
    EXPECT_EQ(settings.RecordLimit, 100000u);
    EXPECT_EQ(settings.Size, 1u);
    EXPECT_EQ(bar.SizeBox()->text(), QStringLiteral("1"));
    // Letters never get in.
    type(bar.TimeOutBox(), "1x2");
    EXPECT_EQ(bar.TimeOutBox()->text(), QStringLiteral("12"));
    EXPECT_EQ(bar.ReadSettings().TimeOut, 200u);
}

// The acceptance case: 300 typed into TTL, then Start: the engine gets 255 and
// the edit shows 255.
TEST_F(PingPanes, StartUsesTheClampedTtlAndTheEditShowsIt)
{
    auto screen = std::make_unique<CPingScreen>(&window, PingScreenOptions{});
    CClampedSpinBox* ttl = screen->SettingsBar()->TtlBox();
    ttl->setFocus();
    ttl->selectAll();
    QTest::keyClicks(ttl, QStringLiteral("300"));
    ASSERT_TRUE(screen->Start({"127.0.0.1"}));
    ASSERT_NE(screen->Engine(), nullptr);
    EXPECT_EQ(screen->Engine()->Settings().Ttl, 255u);
    EXPECT_EQ(ttl->text(), QStringLiteral("255"));

    // "Применить" hands new values to the running engine.
    QTest::keyClicks(screen->SettingsBar()->IntervalBox(), QString()); // nothing typed
    screen->SettingsBar()->IntervalBox()->setValue(2500);
    QTest::mouseClick(screen->SettingsBar()->ApplyButton(), Qt::LeftButton);
    EXPECT_EQ(screen->Engine()->Settings().Interval, 2500u);
    screen->Stop();
    screen.reset();
}

// ---------------------------------------------------------------------------
// Statistics tree

TEST_F(PingPanes, StatisticsTreeShowsEachTargetsCountersOnceTheyCome)
{
    CPingBar bar(&window, &clipboard);
    QAbstractItemModelTester tester(bar.Model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    CScriptedPingInfo info({"127.0.0.1", "198.18.3.2"});
    bar.SetTargets({"127.0.0.1", "198.18.3.2"});
    bar.SetEngine(&info);
    const CPingGridModel& model = *bar.Model();

    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Значение"));
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString());
    const QModelIndex second = model.index(1, 0);
    EXPECT_EQ(second.data().toString(), QStringLiteral("198.18.3.2"));
    EXPECT_FALSE(second.data(Qt::DecorationRole).value<QIcon>().isNull());
    ASSERT_EQ(model.rowCount(second), 2);
    const QModelIndex packets = model.index(0, 0, second);
    const QModelIndex times = model.index(1, 0, second);
    EXPECT_EQ(packets.data().toString(), QStringLiteral("Пакеты"));
    EXPECT_EQ(times.data().toString(), QStringLiteral("Время отправки/получения (мс)"));
    EXPECT_FALSE(packets.data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(Text(model, 0, 0, packets), QStringLiteral("Отправлено:"));
    EXPECT_EQ(Text(model, 1, 0, packets), QStringLiteral("Получено:"));
    EXPECT_EQ(Text(model, 2, 0, packets), QStringLiteral("Потеряно:"));
    EXPECT_EQ(Text(model, 0, 0, times), QStringLiteral("Среднее:"));
    EXPECT_EQ(Text(model, 1, 0, times), QStringLiteral("Минимальное:"));
    EXPECT_EQ(Text(model, 2, 0, times), QStringLiteral("Максимальное:"));
    EXPECT_EQ(Text(model, 0, 1, packets), QString()); // empty until the first message

    diag::EchoStatistics s;
    s.Sent = 10;
    s.Received = 7;
    s.Lost = 3;
    s.Average = 6;
    s.Minimum = 0;
    s.Maximum = 12;
    info.SetStatistics(1, s);
    QSignalSpy changed(bar.Model(), &QAbstractItemModel::dataChanged);
    bar.OnStatistics(1);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(Text(model, 0, 1, packets), QStringLiteral("10"));
    EXPECT_EQ(Text(model, 1, 1, packets), QStringLiteral("7"));
    EXPECT_EQ(Text(model, 2, 1, packets), QStringLiteral("3"));
    EXPECT_EQ(Text(model, 0, 1, times), QStringLiteral("6"));
    EXPECT_EQ(Text(model, 1, 1, times), QStringLiteral("0"));
    EXPECT_EQ(Text(model, 2, 1, times), QStringLiteral("12"));
    // The other target is untouched.
    EXPECT_EQ(Text(model, 0, 1, model.index(0, 0, model.index(0, 0))), QString());

    // The copy, with its tabs per level; "%d" of a value not yet known is 0.
    bar.Copy();
    EXPECT_EQ(clipboard.text,
              QStringLiteral("127.0.0.1\r\n\tПакеты\r\n\t\tОтправлено:\t0\r\n\t\tПолучено:\t0\r\n"
                             "\t\tПотеряно:\t0\r\n\tВремя отправки/получения (мс)\r\n"
                             "\t\tСреднее:\t0\r\n\t\tМинимальное:\t0\r\n\t\tМаксимальное:\t0\r\n"
                             "198.18.3.2\r\n\tПакеты\r\n\t\tОтправлено:\t10\r\n\t\tПолучено:\t7\r\n"
                             "\t\tПотеряно:\t3\r\n\tВремя отправки/получения (мс)\r\n"
                             "\t\tСреднее:\t6\r\n\t\tМинимальное:\t0\r\n\t\tМаксимальное:\t12\r\n"));
}

// A target typed twice used to map to its first copy (IndexOf by text): the
// second row showed, and selected, the first copy's results.
TEST_F(PingPanes, EachRowOfADuplicatedTargetKeepsItsOwnIndex)
{
    CPingBar bar(&window, &clipboard);
    QAbstractItemModelTester tester(bar.Model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    CScriptedPingInfo info({"127.0.0.1", "127.0.0.1"});
    bar.SetTargets({"127.0.0.1", "127.0.0.1"});
    bar.SetEngine(&info);
    window.show();
    QSignalSpy selected(&bar, &CPingBar::targetSelected);

    diag::EchoStatistics s;
    s.Sent = 4;
    info.SetStatistics(1, s);
    bar.OnStatistics(1);
    const QModelIndex secondSent =
        bar.Model()->index(0, 1, bar.Model()->index(0, 0, bar.Model()->index(1, 0)));
    EXPECT_EQ(secondSent.data().toString(), QStringLiteral("4"));

    // A click on a counter row of the second copy selects the second copy.
    QTreeView* tree = bar.Tree();
    const QModelIndex counter = bar.Model()->index(2, 0, bar.Model()->index(1, 0, bar.Model()->index(1, 0)));
    tree->scrollTo(counter);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(counter).center());
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected.at(0).at(0).toInt(), 1);
    // Another row of the same target: no new selection.
    const QModelIndex group = bar.Model()->index(0, 0, bar.Model()->index(1, 0));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(group).center());
    EXPECT_EQ(selected.count(), 1);
    // The keyboard reaches the first copy.
    bar.SelectTarget(0);
    ASSERT_EQ(selected.count(), 2);
    EXPECT_EQ(selected.at(1).at(0).toInt(), 0);
}

// ---------------------------------------------------------------------------
// Results

class PingResults : public PingPanes
{
protected:
    void SetUp() override
    {
        bar = std::make_unique<CPingResultBar>(&window, &clipboard);
        tester = std::make_unique<QAbstractItemModelTester>(
            bar->Model(), QAbstractItemModelTester::FailureReportingMode::Warning);
        bar->SetEngine(&info);
        bar->ShowTarget(0);
        window.resize(900, 600);
        window.show();
    }
    void Store(int target, const diag::EchoRecord& record, std::uint32_t limit = 1000)
    {
        bar->OnRecords(target, info.Store(target, record, limit));
    }

    CScriptedPingInfo info{{"127.0.0.1", "198.18.3.2"}};
    std::unique_ptr<CPingResultBar> bar;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(PingResults, TableShowsTheFiveColumnsAndFailuresInRed)
{
    Store(0, Result(kNoon, 0, 7));
    Store(0, Result(kNoon + 1, 11010, 0));
    Store(0, Result(kNoon + 2, 0, 0, 64, 128));
    const CPingResultModel& model = *bar->Model();
    ASSERT_EQ(model.rowCount(), 3);
    const char* headers[] = {"Время отправки", "Статус", "Количество байт", "Время(мс)", "TTL"};
    for (int column = 0; column < 5; ++column)
        EXPECT_EQ(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(),
                  QString::fromUtf8(headers[column]));
    EXPECT_EQ(Text(model, 0, 0), QStringLiteral("12:00:00 01-06-2024"));
    EXPECT_EQ(Text(model, 0, 1), QStringLiteral("Успешно"));
    EXPECT_EQ(Text(model, 0, 2), QStringLiteral("32"));
    EXPECT_EQ(Text(model, 0, 3), QStringLiteral("7"));
    EXPECT_EQ(Text(model, 0, 4), QStringLiteral("200"));
    EXPECT_EQ(Text(model, 1, 1), QStringLiteral("Превышен интервал ожидания для запроса."));
    EXPECT_EQ(Text(model, 2, 2), QStringLiteral("64"));
    EXPECT_EQ(Text(model, 2, 4), QStringLiteral("128"));

    // Red: the failed row, every column; the others in the normal colour.
    for (int column = 0; column < 5; ++column) {
        EXPECT_FALSE(model.index(0, column).data(Qt::ForegroundRole).isValid());
        const QColor red = model.index(1, column).data(Qt::ForegroundRole).value<QColor>();
        EXPECT_TRUE(red.isValid());
        EXPECT_GT(red.red(), 150);
        EXPECT_LT(red.green(), red.red() / 2 + 60);
    }
    EXPECT_TRUE(bar->Table()->horizontalHeader()->isVisible());
    EXPECT_TRUE(bar->TableAction()->isChecked());
    EXPECT_FALSE(bar->ListAction()->isChecked());

    bar->Copy();
    EXPECT_EQ(clipboard.text,
              QStringLiteral("Время отправки\tСтатус\tКоличество байт\tВремя(мс)\tTTL\r\n"
                             "12:00:00 01-06-2024\tУспешно\t32\t7\t200\r\n"
                             "12:00:01 01-06-2024\tПревышен интервал ожидания для запроса.\t32\t0\t200\r\n"
                             "12:00:02 01-06-2024\tУспешно\t64\t0\t128\r\n"));
}

TEST_F(PingResults, RedStaysReadableOnADarkBase)
{
    Store(0, Result(kNoon, 11013, 3));
    const QColor light = bar->Model()->index(0, 0).data(Qt::ForegroundRole).value<QColor>();
    QPalette dark = bar->palette();
    dark.setColor(QPalette::Base, QColor(30, 31, 34));
    dark.setColor(QPalette::Text, QColor(225, 228, 232));
    bar->setPalette(dark);
    const QColor onDark = bar->Model()->index(0, 0).data(Qt::ForegroundRole).value<QColor>();
    // Relative luminance contrast (WCAG) against each base: at least 4.5.
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const auto contrast = [&](const QColor& a, const QColor& b) {
        const double x = luminance(a) + 0.05, y = luminance(b) + 0.05;
        return std::max(x, y) / std::min(x, y);
    };
    EXPECT_GE(contrast(light, Qt::white), 4.5);
    EXPECT_GE(contrast(onDark, QColor(30, 31, 34)), 4.5);
    EXPECT_NE(light, onDark);
}

TEST_F(PingResults, ListModeShowsSentencesOnlyAndCopiesOneSentencePerLine)
{
    Store(0, Result(kNoon, 0, 7));
    Store(0, Result(kNoon + 1, 11010, 0));
    Store(0, Result(kNoon + 2, 0, 0));
    QSignalSpy reset(bar->Model(), &QAbstractItemModel::modelReset);
    QTest::mouseClick(bar->findChild<QToolBar*>()->widgetForAction(bar->ListAction()),
                      Qt::LeftButton);
    EXPECT_EQ(reset.count(), 1); // rows rebuilt
    EXPECT_TRUE(bar->ListAction()->isChecked());
    EXPECT_FALSE(bar->TableAction()->isChecked());
    EXPECT_FALSE(bar->Table()->horizontalHeader()->isVisible());
    for (int column = 1; column < 5; ++column)
        EXPECT_TRUE(bar->Table()->isColumnHidden(column)) << column;
    EXPECT_EQ(Text(*bar->Model(), 0, 0),
              QStringLiteral("[12:00:00 01-06-2024] ответ получен: число байт 32, время 7 мс, TTL=200"));
    // The whole sentence fits in its column.
    const int needed = bar->Table()->fontMetrics().horizontalAdvance(Text(*bar->Model(), 1, 0));
    EXPECT_GT(bar->Table()->columnWidth(0), needed);

    bar->Copy();
    EXPECT_EQ(clipboard.text,
              QStringLiteral("[12:00:00 01-06-2024] ответ получен: число байт 32, время 7 мс, TTL=200\r\n"
                             "[12:00:01 01-06-2024] ответ не получен: Превышен интервал ожидания для запроса.\r\n"
                             "[12:00:02 01-06-2024] ответ получен: число байт 32, время <1мс, TTL=200\r\n"));

    // The same mode again changes nothing; table brings the columns back.
    bar->SetTableMode(false);
    EXPECT_EQ(reset.count(), 1);
    bar->SetTableMode(true);
    EXPECT_EQ(reset.count(), 2);
    EXPECT_TRUE(bar->Table()->horizontalHeader()->isVisible());
    EXPECT_FALSE(bar->Table()->isColumnHidden(3));
}

TEST_F(PingResults, AResultForAnotherTargetChangesNothing)
{
    Store(0, Result(kNoon, 0, 1));
    QSignalSpy inserted(bar->Model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(bar->Model(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(bar->Model(), &QAbstractItemModel::modelReset);
    const QPixmap before = bar->Table()->viewport()->grab();
    for (int i = 0; i < 5; ++i)
        Store(1, Result(kNoon + i, 11010, 0));
    EXPECT_EQ(bar->Model()->rowCount(), 1);
    EXPECT_EQ(inserted.count() + changed.count() + reset.count(), 0);
    EXPECT_EQ(bar->Table()->viewport()->grab().toImage(), before.toImage());
    EXPECT_EQ(bar->Chart()->Samples().size(), 1u);
}

// Once the record limit was reached, results used to come in storage order, so
// the view showed them out of order and auto-scroll missed the newest.
TEST_F(PingResults, AfterTheLimitIsPassedRowsStayInTimeOrderAndAreRepainted)
{
    bar->SetAutoScroll(true);
    for (int i = 0; i < 3; ++i)
        Store(0, Result(kNoon + i, 0, static_cast<std::uint32_t>(i)), 3);
    QSignalSpy changed(bar->Model(), &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(bar->Model(), &QAbstractItemModel::rowsInserted);
    for (int i = 3; i < 5; ++i)
        Store(0, Result(kNoon + i, 0, static_cast<std::uint32_t>(i)), 3);
    // Storage order is 3, 4, 2 now; the rows read 2, 3, 4.
    ASSERT_EQ(info.GetRecord(0, 0)->RoundTripTime, 3u);
    ASSERT_EQ(bar->Model()->rowCount(), 3);
    EXPECT_EQ(inserted.count(), 0);   // the count stayed 3 ...
    EXPECT_EQ(changed.count(), 2);    // ... and the rows were repainted each time
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Text(*bar->Model(), row, 3), QString::number(row + 2)) << row;
    EXPECT_EQ(Text(*bar->Model(), 2, 0), QStringLiteral("12:00:04 01-06-2024"));
    // The chart follows the ring as well.
    ASSERT_EQ(bar->Chart()->Samples().size(), 3u);
    EXPECT_EQ(bar->Chart()->Samples().back().sequence, 5u);
    EXPECT_EQ(bar->Chart()->Samples().front().sequence, 3u);

    // A lowered limit drops the oldest: the rows read 4 alone... then 4, 5.
    Store(0, Result(kNoon + 5, 0, 5), 2);
    ASSERT_EQ(bar->Model()->rowCount(), 2);
    EXPECT_EQ(Text(*bar->Model(), 0, 3), QStringLiteral("4"));
    EXPECT_EQ(Text(*bar->Model(), 1, 3), QStringLiteral("5"));
}

TEST_F(PingResults, AutoScrollBringsTheNewestResultIntoViewOnlyWhenOn)
{
    for (int i = 0; i < 200; ++i)
        Store(0, Result(kNoon + i, 0, 1));
    QScrollBar* scroll = bar->Table()->verticalScrollBar();
    EXPECT_EQ(scroll->value(), 0); // off at first
    EXPECT_FALSE(bar->AutoScrollAction()->isChecked());
    QTest::mouseClick(bar->findChild<QToolBar*>()->widgetForAction(bar->AutoScrollAction()),
                      Qt::LeftButton);
    EXPECT_TRUE(bar->AutoScroll());
    EXPECT_EQ(scroll->value(), scroll->maximum()); // at once, as it turns on
    scroll->setValue(0);
    Store(0, Result(kNoon + 300, 0, 1));
    EXPECT_EQ(scroll->value(), scroll->maximum());
    const QModelIndex newest = bar->Model()->index(bar->Model()->rowCount() - 1, 0);
    EXPECT_TRUE(bar->Table()->viewport()->rect().contains(bar->Table()->visualRect(newest).center()));
    bar->SetAutoScroll(false);
    scroll->setValue(0);
    Store(0, Result(kNoon + 301, 0, 1));
    EXPECT_EQ(scroll->value(), 0);
}

TEST_F(PingResults, TheSelectedRowStaysSelectedAsResultsCome)
{
    for (int i = 0; i < 5; ++i)
        Store(0, Result(kNoon + i, 0, 1), 5);
    bar->Table()->selectRow(2);
    // A message posted before the last ones (an older count) takes no row away.
    QSignalSpy removed(bar->Model(), &QAbstractItemModel::rowsRemoved);
    bar->OnRecords(0, 3);
    EXPECT_EQ(removed.count(), 0);
    EXPECT_EQ(bar->Model()->rowCount(), 5);
    Store(0, Result(kNoon + 10, 0, 1), 5); // ring: the same count
    Store(0, Result(kNoon + 11, 0, 1), 6); // grows
    const auto rows = bar->Table()->selectionModel()->selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.front().row(), 2);
}

// ---------------------------------------------------------------------------
// Clipboard, keyboard, names

TEST_F(PingPanes, ClipboardFailuresAreOneLineEachOnTheErrorStream)
{
    testsupport::StreamCapture errors(Error);
    clipboard.openFails = true;
    EXPECT_FALSE(CPaneClipboard::Copy(clipboard, QStringLiteral("x")));
    clipboard.openFails = false;
    clipboard.emptyFails = true;
    EXPECT_FALSE(CPaneClipboard::Copy(clipboard, QStringLiteral("x")));
    EXPECT_EQ(clipboard.closes, 1); // closed after the failed empty
    clipboard.emptyFails = false;
    clipboard.closeFails = true;
    EXPECT_FALSE(CPaneClipboard::Copy(clipboard, QStringLiteral("x")));
    EXPECT_EQ(errors.Text(), "Open clipboard error.\nEmpty clipboard error.\nClose clipboard error.\n");

    // The system clipboard (offscreen) takes the text.
    EXPECT_TRUE(CPaneClipboard::Copy(CPaneClipboard::System(), QStringLiteral("12:00\tУспешно")));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("12:00\tУспешно"));
}

TEST_F(PingPanes, EveryControlIsReachableByKeyboardAndNamed)
{
    auto screen = std::make_unique<CPingScreen>(&window, PingScreenOptions{});
    for (QWidget* pane : {screen->TargetsPane(), screen->SettingsPane(), screen->ResultsPane()})
        pane->show();
    window.show();
    QApplication::processEvents(); // the toolbars lay their buttons out
    int seen = 0;
    for (QWidget* pane : {screen->TargetsPane(), screen->SettingsPane(), screen->ResultsPane()}) {
        EXPECT_FALSE(pane->accessibleName().isEmpty());
        for (QWidget* widget : pane->findChildren<QWidget*>()) {
            // (A view's header and corner button are parts of the view.)
            const bool partOfView = qobject_cast<QAbstractItemView*>(widget->parentWidget());
            const bool control = !partOfView && (qobject_cast<QAbstractButton*>(widget) ||
                                 qobject_cast<QAbstractSpinBox*>(widget) ||
                                 qobject_cast<QAbstractItemView*>(widget) ||
                                 (qobject_cast<QLineEdit*>(widget) &&
                                  !qobject_cast<QAbstractSpinBox*>(widget->parentWidget())));
            if (!control || !widget->isVisibleTo(pane))
                continue;
            ++seen;
            const std::string what = widget->metaObject()->className() + std::string(" ") +
                                     widget->objectName().toStdString();
            EXPECT_TRUE(widget->focusPolicy() & Qt::TabFocus) << what;
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << what;
        }
    }
    // Two views, five tool buttons, five boxes, the check box, the address
    // and "Применить".
    EXPECT_GE(seen, 15);
    // The results toolbar's buttons have their tooltips.
    QStringList tips;
    for (QAction* action : screen->ResultBar()->findChild<QToolBar*>()->actions())
        if (!action->isSeparator())
            tips << action->toolTip();
    EXPECT_EQ(tips, (QStringList{QStringLiteral("Отобразить в виде таблицы"),
                                 QStringLiteral("Отобразить в виде списка"),
                                 QStringLiteral("Скопировать значения в буфер обмена"),
                                 QStringLiteral("Автопрокрутка")}));
    EXPECT_EQ(screen->Bar()->CopyAction()->toolTip(),
              QStringLiteral("Скопировать значения в буфер обмена"));

    // Ctrl+C in the results copies them.
    CScriptedPingInfo info({"127.0.0.1"});
    screen->ResultBar()->SetEngine(&info);
    screen->ResultBar()->ShowTarget(0);
    screen->ResultBar()->OnRecords(0, info.Store(0, Result(kNoon, 0, 1)));
    window.show();
    screen->ResultBar()->Table()->setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(screen->ResultBar()->Table(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith(QStringLiteral("Время отправки\t")));
    screen->ResultBar()->SetEngine(nullptr);
    screen.reset();
}
