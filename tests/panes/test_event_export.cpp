// The events pane's CSV export: the bytes (against a golden file and the
// headless front end's writer), the ".csv" rule, a file that cannot be
// written, and an export cancelled half-way, which leaves nothing behind.

#include "panes/CEventExport.h"
#include "panes/support/EventPaneKit.h"
#include "support/TestFiles.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

namespace panestest {
namespace {

namespace fs = std::filesystem;
using Call = dialogs::test::CScriptedPrompt::Call;
using panes::CEventExport;

std::string GoldenPath()
{
    const char* source = std::getenv("KANALIKO_SOURCE_DIR");
    return std::string(source ? source : ".") + "/tests/panes/data/events_export.csv";
}

// The fixed events of the golden file: every status, protocol and kind of
// receiver and detail the format treats differently.
void AddGoldenEvents(CEventPaneRig& rig)
{
    rig.Add({.status = 0, .code = 1, .protocol = 1, .sender = "192.168.77.1", .receiver = "",
             .senderPort = 5000, .receiverPort = 0, .time = FileTimeOf(9, 0, 0, 5)});
    rig.Add({.status = 0, .code = 6, .protocol = 1, .sender = "192.168.77.1",
             .receiver = "10.0.0.7", .senderPort = 40001, .receiverPort = 5000,
             .time = FileTimeOf(9, 0, 1, 250)});
    rig.Add({.status = 2, .code = 7, .protocol = 1, .sender = "192.168.77.1",
             .receiver = "10.0.0.7", .senderPort = 40001, .receiverPort = 5000, .detail = 10061,
             .time = FileTimeOf(9, 0, 1, 451)});
    rig.Add({.status = 3, .code = 2, .protocol = 2, .sender = "192.168.77.1", .receiver = "",
             .senderPort = 6000, .receiverPort = 0, .detail = 10048,
             .time = FileTimeOf(10, 30, 0, 0)});
    rig.Add({.status = 0, .code = 11, .protocol = 3, .sender = "10.0.0.7",
             .receiver = "192.168.77.1", .senderPort = 47, .receiverPort = 47,
             .time = FileTimeOf(23, 59, 59, 999)});
    rig.Add({.status = 7, .code = 0, .protocol = 0, .sender = "10.0.0.8", .receiver = "",
             .senderPort = 0, .receiverPort = 0, .detail = 4000000000U,
             .time = FileTimeOf(0, 0, 0, 0)});
}

// Saves through the pane's command with the path the prompt answers; returns
// the export's result.
CEventExport::Result Save(CEventPaneRig& rig, const QString& answer)
{
    QSignalSpy finished(&rig.Bar(), &panes::CEventBar::exportFinished);
    rig.Prompt().QueuePath(answer);
    rig.Bar().SaveAction()->trigger();
    EXPECT_TRUE(RunUntil([&] { return finished.count() == 1; }));
    return finished.isEmpty() ? CEventExport::Result::Failed
                              : finished.at(0).at(0).value<CEventExport::Result>();
}

std::vector<std::string> FilesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(EventExport, TheFileIsTheGoldenFileByteForByteAndTheFrontEndsCsv)
{
    CEventPaneRig rig;
    testsupport::TempFolder folder("event-export");
    AddGoldenEvents(rig);
    ASSERT_TRUE(rig.WaitForRows());
    const QString chosen = QString::fromStdString(folder.File("report"));
    ASSERT_EQ(Save(rig, chosen), CEventExport::Result::Saved);

    const std::vector<Call> dialogsShown = rig.Prompt().CallsOf(Call::Kind::SaveFile);
    ASSERT_EQ(dialogsShown.size(), 1U);
    EXPECT_EQ(dialogsShown[0].technical, QStringLiteral("Файлы с отчётами (*.csv)"));
    EXPECT_TRUE(rig.Prompt().CallsOf(Call::Kind::Tell).empty());

    const std::string written = testsupport::ReadBytes(folder.File("report.csv"));
    EXPECT_EQ(written, testsupport::ReadBytes(GoldenPath()));
    std::ostringstream frontEnd;
    rig.Logic().ExportCsv(frontEnd);
    EXPECT_EQ(written, frontEnd.str()) << "the same bytes as the headless front end";
    EXPECT_EQ(FilesIn(folder.Path()), std::vector<std::string>{"report.csv"})
        << "no temporary file is left";

    // The rows as shown: sorted and filtered, in display order.
    events::FilterCriteria tcp;
    tcp.protocols = {1};
    rig.Bar().ApplyFilter(tcp);
    ASSERT_TRUE(rig.WaitForRows());
    rig.Store().SortEvents(events::COL_STATUS, false, false);
    rig.Bar().RefreshRows();
    ASSERT_TRUE(rig.WaitForRows());
    ASSERT_EQ(Save(rig, chosen), CEventExport::Result::Saved);
    const std::string shown = testsupport::ReadBytes(folder.File("report.csv"));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 4) << "header and three TCP rows";
    EXPECT_LT(shown.find("Ошибка;9:00:01.451"), shown.find("Информация;9:00:00.005"))
        << "descending status: the error (2) before information (0)";
}

TEST(EventExport, CsvIsAppendedOnlyWhenTheNameDoesNotContainIt)
{
    CEventPaneRig rig;
    testsupport::TempFolder folder("event-export");
    rig.Add({});
    ASSERT_TRUE(rig.WaitForRows());
    ASSERT_EQ(Save(rig, QString::fromStdString(folder.File("plain"))),
              CEventExport::Result::Saved);
    ASSERT_EQ(Save(rig, QString::fromStdString(folder.File("week.csv.old"))),
              CEventExport::Result::Saved);
    ASSERT_EQ(Save(rig, QString::fromStdString(folder.File("done.csv"))),
              CEventExport::Result::Saved);
    EXPECT_EQ(FilesIn(folder.Path()),
              (std::vector<std::string>{"done.csv", "plain.csv", "week.csv.old"}));

    // Cancelling the save dialog writes nothing.
    QSignalSpy finished(&rig.Bar(), &panes::CEventBar::exportFinished);
    rig.Bar().SaveAction()->trigger(); // no path queued: the dialog is cancelled
    EXPECT_EQ(rig.Bar().Export(), nullptr);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(FilesIn(folder.Path()).size(), 3U);
}

// CI runs as root, for whom a read-only folder is still writable: these paths
// fail for root too (a "folder" that is a regular file, and a folder of /proc).
TEST(EventExport, AFileThatCannotBeWrittenGivesTheErrorBoxAndLeavesNothing)
{
    CEventPaneRig rig;
    testsupport::TempFolder folder("event-export");
    rig.Add({});
    ASSERT_TRUE(rig.WaitForRows());
    testsupport::WriteBytes(folder.File("not-a-folder"), "x");

    for (const std::string& path :
         {folder.File("not-a-folder") + "/report.csv", std::string("/proc/self/report.csv")}) {
        rig.Prompt().Clear();
        testsupport::StreamCapture errors(Error);
        ASSERT_EQ(Save(rig, QString::fromStdString(path)), CEventExport::Result::Failed) << path;
        const std::vector<Call> boxes = rig.Prompt().CallsOf(Call::Kind::Tell);
        ASSERT_EQ(boxes.size(), 1U) << path;
        EXPECT_EQ(boxes[0].text, QStringLiteral("Не удалось сохранить файл"));
        EXPECT_EQ(boxes[0].icon, dialogs::PromptIcon::Error);
        const std::string logged = errors.Text();
        const std::string expected = "Error with saving file. code=";
        ASSERT_EQ(logged.rfind(expected, 0), 0U) << logged;
        EXPECT_EQ(logged.back(), '\n');
        const unsigned long code = std::stoul(logged.substr(expected.size()));
        EXPECT_NE(code, 0U) << "the system's reason";
        if (path.rfind("/proc", 0) != 0) {
            EXPECT_EQ(code, static_cast<unsigned long>(ENOTDIR));
        }
        EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(FilesIn(folder.Path()), std::vector<std::string>{"not-a-folder"});
    EXPECT_EQ(testsupport::ReadBytes(folder.File("not-a-folder")), "x");
}

TEST(EventExport, ACancelledExportLeavesNoFileAndTheOldOneUntouched)
{
    CEventPaneRig rig;
    testsupport::TempFolder folder("event-export");
    for (int i = 0; i < 300000; ++i)
        rig.Add({.code = i % 15, .senderPort = static_cast<std::uint16_t>(i)});
    ASSERT_TRUE(rig.WaitForRows());
    const std::string target = folder.File("big.csv");
    testsupport::WriteBytes(target, "old report");
    ::chmod(target.c_str(), 0640);

    QSignalSpy finished(&rig.Bar(), &panes::CEventBar::exportFinished);
    rig.Prompt().QueuePath(QString::fromStdString(target));
    rig.Bar().SaveAction()->trigger();
    CEventExport* job = rig.Bar().Export();
    ASSERT_NE(job, nullptr);
    job->SetProgressDelay(0);
    ASSERT_TRUE(RunUntil([&] { return job->Progress() && job->Progress()->isVisible(); }));
    EXPECT_EQ(job->Progress()->maximum(), 300000);
    EXPECT_EQ(FilesIn(folder.Path()).size(), 2U) << "the old file and the one being written";
    QPushButton* cancel = job->Progress()->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), QStringLiteral("Отмена"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return finished.count() == 1; }));
    EXPECT_EQ(finished.at(0).at(0).value<CEventExport::Result>(), CEventExport::Result::Cancelled);
    EXPECT_TRUE(rig.Prompt().CallsOf(Call::Kind::Tell).empty()) << "a cancel is no failure";
    EXPECT_EQ(FilesIn(folder.Path()), std::vector<std::string>{"big.csv"});
    EXPECT_EQ(testsupport::ReadBytes(target), "old report");

    // Finished this time: the old file is replaced and keeps its permissions.
    ASSERT_EQ(Save(rig, QString::fromStdString(target)), CEventExport::Result::Saved);
    struct stat info = {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640U);
    std::ostringstream frontEnd;
    rig.Logic().ExportCsv(frontEnd);
    EXPECT_EQ(testsupport::ReadBytes(target), frontEnd.str());
}

TEST(EventExport, AnExportHandsTheGuiThreadBackBetweenSlices)
{
    CEventPaneRig rig;
    testsupport::TempFolder folder("event-export");
    for (int i = 0; i < 300000; ++i)
        rig.Add({.code = i % 15});
    ASSERT_TRUE(rig.WaitForRows());
    int ticks = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { ++ticks; });
    probe.start(1);
    ASSERT_EQ(Save(rig, QString::fromStdString(folder.File("big.csv"))),
              CEventExport::Result::Saved);
    EXPECT_GE(ticks, 2) << "the timer ran while the file was being written";
    EXPECT_EQ(fs::file_size(folder.File("big.csv")),
              [&] {
                  std::ostringstream out;
                  rig.Logic().ExportCsv(out);
                  return out.str().size();
              }());
}

} // namespace
} // namespace panestest
