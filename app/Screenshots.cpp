#include "app/Screenshots.h"

#include "app/CKanalikoApp.h"
#include "app/CMainFrame.h"
#include "app/CRibbonBar.h"
#include "app/CommandIds.h"
#include "dialogs/CErrorDlg.h"
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
    checkItself();
    const char* names[] = {"channels", "echo", "route"};
    int written = 0;
    auto shoot = [&](const QString& suffix) {
        for (int category = 0; category < 3; ++category) {
            frame->SwitchCategory(category);
            Settle();
            const QString path =
                QDir(folder).filePath(QString::fromLatin1(names[category]) + suffix + ".png");
            written += frame->grab().save(path) ? 1 : 0;
        }
    };
    shoot(QString());

    dialogs::CErrorDlg error(frame);
    error.SetOperation(QStringLiteral("Ошибка при загрузке файла"));
    error.SetTechnicalInfo(
        QStringLiteral("Text: Файл не найден: /home/user/settings.xml\nCode: 2 (0x2)"));
    error.SetErrorText(QStringLiteral("Файл не найден: /home/user/settings.xml"));
    error.show();
    Settle();
    written += error.grab().save(QDir(folder).filePath(QStringLiteral("error-dialog.png"))) ? 1 : 0;
    error.hide();

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
    shoot(QStringLiteral("-dark"));
    QApplication::setPalette(light);
    frame->SwitchCategory(CMainFrame::CategoryChannels);
    return written;
}

} // namespace app
