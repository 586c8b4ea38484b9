// kanaliko: the desktop program, a thin main over kanaliko_gui.

#include "app/Artwork.h"
#include "app/CKanalikoApp.h"
#include "app/CMainFrame.h"
#include "app/ProgramVersion.h"
#include "app/Screenshots.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/system/Paths.h"
#include "platform/Sockets.h"

#include <QApplication>

#include <cstring>
#include <iostream>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "kanaliko " << app::ProgramVersion().toStdString() << std::endl;
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << "Usage: kanaliko [SCHEME.xml]\n\n"
                         "Opens the channel scheme (default: settings.xml in the current folder)\n"
                         "and serves its ports. Options: ~/.config/Kanaliko/options.xml.\n"
                         "  --version          print the version\n"
                         "  --screenshots DIR  write pictures of the window into DIR and quit\n";
            return 0;
        }
    }
    ferrox_set_program_name("Kanaliko");
    platform::RaiseDescriptorLimit();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kanaliko"));
    QApplication::setApplicationName(QStringLiteral("Kanaliko"));
    QApplication::setApplicationVersion(app::ProgramVersion());
    QApplication::setWindowIcon(app::AppIcon());
    QApplication::setDesktopFileName(QStringLiteral("kanaliko"));

    int status = 1;
    {
        app::CKanalikoApp program;
        QStringList arguments = QApplication::arguments();
        arguments.removeFirst();
        QString screenshots;
        if (const qsizetype at = arguments.indexOf(QStringLiteral("--screenshots"));
            at >= 0 && at + 1 < arguments.size()) {
            screenshots = arguments.takeAt(at + 1);
            arguments.removeAt(at);
        }
        if (program.InitInstance(arguments)) {
            if (screenshots.isEmpty()) {
                status = QApplication::exec();
            } else {
                const int written = app::RenderScreenshots(program, screenshots);
                std::cout << "kanaliko: " << written << " pictures in " << screenshots.toStdString()
                          << std::endl;
                status = written > 0 ? 0 : 1;
                program.MainFrame()->close();
            }
        }
    }
    // The program's end switches the Debug stream off.
    Debug.ClearWriters();
    return status;
}
