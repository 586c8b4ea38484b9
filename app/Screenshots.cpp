#include "app/Screenshots.h"

#include "app/CKanalikoApp.h"
#include "app/CMainFrame.h"
#include "app/CRibbonBar.h"
#include "app/CommandIds.h"
#include "core/CAppLogic.h"
#include "dialogs/CAboutDlg.h"
#include "dialogs/CChanelCheckerDlg.h"
#include "dialogs/CErrorDlg.h"
#include "dialogs/CFilterDlg.h"
#include "dialogs/COptionsDlg.h"
#include "dialogs/CQtPrompt.h"
#include "dialogs/CSchemaEditorDlg.h"
#include "panes/CDockPane.h"
#include "panes/CEventBar.h"
#include "loop/EventLoop.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <QTabBar>

#include <chrono>

namespace app {

namespace {

void Settle()
{
    // Layout, the servers' first reports and the status bar's refresh.
    loop::ProcessEventsFor(std::chrono::milliseconds(400));
}

bool Save(QWidget& widget, const QString& folder, const QString& name)
{
    return widget.grab().save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

// A dialog as the user sees it over the window: shown, laid out, pictured, closed.
bool ShootDialog(QDialog& dialog, const QString& folder, const QString& name)
{
    dialog.show();
    Settle();
    const bool saved = Save(dialog, folder, name);
    dialog.reject();
    return saved;
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
    dark.setColor(QPalette::ToolTipBase, base);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::Highlight, QColor(53, 132, 228));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(150, 154, 160));
    dark.setColor(QPalette::Mid, window.darker(130));
    dark.setColor(QPalette::Dark, window.darker(160));
    dark.setColor(QPalette::Light, window.lighter(150));
    dark.setColor(QPalette::Midlight, window.lighter(125));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 123, 128));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 123, 128));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 123, 128));
    return dark;
}

} // namespace

int RenderScreenshots(CKanalikoApp& program, const QString& folder)
{
    if (!QDir().mkpath(folder))
        return -1;
    CMainFrame* frame = program.MainFrame();
    frame->resize(1366, 768);
    frame->AddressBox(CMainFrame::CategoryChannels)->setEditText(QStringLiteral("127.0.0.1"));
    frame->AddressBox(CMainFrame::CategoryEcho)->setEditText(QStringLiteral("127.0.0.1"));
    frame->AddressBox(CMainFrame::CategoryRoute)->setEditText(QStringLiteral("127.0.0.1"));
    // The channel view with both panes filled: a check of this node itself
    // (its own servers answer on loopback), bounded in time.
    auto checkItself = [frame] {
        bool finished = false;
        const QMetaObject::Connection done = QObject::connect(
            frame, &CMainFrame::clientCheckFinished, [&finished] { finished = true; });
        frame->SwitchCategory(CMainFrame::CategoryChannels);
        Settle();
        frame->Action(cmd::IDC_BTN_START_CL)->trigger();
        loop::RunUntil([&finished] { return finished; }, std::chrono::seconds(60));
        QObject::disconnect(done);
    };
    // Echo and route to this node for a few seconds, so that their views have
    // rows (both need ICMP: without it they show the refusal instead).
    auto runDiagnostics = [frame] {
        const int starts[] = {cmd::IDC_BTN_START_PING, cmd::IDC_BTN_START_TR};
        const int stops[] = {cmd::IDC_BTN_STOP_PING, cmd::IDC_BTN_STOP_TR};
        for (int i = 0; i < 2; ++i) {
            frame->SwitchCategory(CMainFrame::CategoryEcho + i);
            frame->Action(starts[i])->trigger();
            loop::ProcessEventsFor(std::chrono::milliseconds(3500));
            frame->Action(stops[i])->trigger();
        }
    };
    // The event log follows the check, so that its picture shows the probes.
    auto* events = qobject_cast<panes::CEventBar*>(frame->Dock(cmd::PANE_EVENTS)->widget());
    if (events)
        events->SetAutoScroll(true);
    checkItself();
    runDiagnostics();
    const char* names[] = {"channels", "echo", "route"};
    int written = 0;
    auto shoot = [&](const QString& suffix) {
        for (int category = 0; category < 3; ++category) {
            frame->SwitchCategory(category);
            Settle();
            written += Save(*frame, folder, QString::fromLatin1(names[category]) + suffix) ? 1 : 0;
        }
    };
    shoot(QString());
    frame->SwitchCategory(CMainFrame::CategoryChannels);

    // The dialogs, each over the window.
    if (events) {
        events->OpenFilterDialog();
        if (dialogs::CFilterDlg* filter = events->FilterDialog()) {
            Settle();
            written += Save(*filter, folder, QStringLiteral("filter-dialog")) ? 1 : 0;
            filter->reject();
        }
    }
    if (core::CAppLogic* logic = frame->AttachedLogic()) {
        std::vector<channel::SchemeGroup> groups;
        for (const auto& group : logic->Settings().Groups())
            groups.push_back(*group);
        dialogs::CSchemaEditorDlg editor(std::move(groups), nullptr, frame);
        written += ShootDialog(editor, folder, QStringLiteral("scheme-editor")) ? 1 : 0;
        channel::ProbeOptions options;
        options.timeOut = logic->Settings().TimeOut();
        options.timeSendDelay = logic->Settings().TimeSendDelay();
        options.sendDataSize = logic->Settings().SendDataSize();
        options.maxSendCount = logic->Settings().MaxSendCount();
        dialogs::COptionsDlg optionsDialog(options, frame);
        written += ShootDialog(optionsDialog, folder, QStringLiteral("options-dialog")) ? 1 : 0;
    }
    {
        dialogs::CAboutDlg about(frame);
        written += ShootDialog(about, folder, QStringLiteral("about-dialog")) ? 1 : 0;
    }
    {
        dialogs::CQtPrompt prompt(frame);
        dialogs::CChanelCheckerDlg access(prompt, frame);
        written += ShootDialog(access, folder, QStringLiteral("access-server-dialog")) ? 1 : 0;
    }

    dialogs::CErrorDlg error(frame);
    error.SetOperation(QStringLiteral("Ошибка при загрузке файла"));
    error.SetTechnicalInfo(
        QStringLiteral("Text: Файл не найден: /home/user/settings.xml\nCode: 2 (0x2)"));
    error.SetErrorText(QStringLiteral("Файл не найден: /home/user/settings.xml"));
    written += ShootDialog(error, folder, QStringLiteral("error-dialog")) ? 1 : 0;

    // The "Файл" menu with a recent scheme in it.
    if (!frame->Document().FilePath().isEmpty())
        frame->OpenScheme(frame->Document().FilePath());
    QMenu* menu = frame->Ribbon()->MainMenu();
    menu->popup(frame->mapToGlobal(QPoint(0, frame->Ribbon()->Tabs()->height())));
    Settle();
    written += menu->grab().save(QDir(folder).filePath(QStringLiteral("file-menu.png"))) ? 1 : 0;
    menu->hide();

    // The same in a dark palette, as a dark desktop theme gives it.
    const QPalette light = QApplication::palette();
    QApplication::setPalette(DarkPalette());
    checkItself(); // the scheme was opened again, which empties the tree
    runDiagnostics();
    shoot(QStringLiteral("-dark"));
    QApplication::setPalette(light);
    frame->SwitchCategory(CMainFrame::CategoryChannels);
    return written;
}

} // namespace app
