#pragma once

// The application object: it starts and ends the program. It owns the
// application logic, the shared error dialog, the notice queue and the main
// window, and runs the start-up in this order:
//   1. the main window (ribbon, docks, empty views) and the shared error dialog;
//   2. application init: the scheme path ("settings.xml" unless a file named on
//      the command line exists) and its saved flag, the logic, the options path
//      ~/.config/Kanaliko/options.xml, Init, the document's title and flag;
//      an EGeneric shows "Инициализация приложения" and start-up goes on;
//   3. user-interface init: the logic's windows, the panes, the servers on the
//      scheme, the window state, view 1 (or the saved category) shown; an
//      EGeneric shows "Инициализация пользовательского интерфейса" and
//      start-up fails.
// At the end the main window goes first (its client check waited for), then the
// logic.
//
// Threads: the GUI thread only.

#include "app/FrameDialogs.h"
#include "panes/PaneFactory.h"

#include <QStringList>

#include <memory>

namespace core {
class CAppLogic;
}
namespace dialogs {
class CErrorDlg;
class CQtPrompt;
class IPrompt;
}

namespace app {

class CMainFrame;
class CNoticeQueue;

class CKanalikoApp final
{
public:
    // prompt: the prompt every box goes through; null for the real boxes (and
    // the shared error dialog) over the main window.
    CKanalikoApp(dialogs::IPrompt* prompt, panes::PaneFactory panes, FrameDialogs dialogs);
    // The program's own panes and dialogs (ProgramParts.cpp), real boxes.
    CKanalikoApp();
    ~CKanalikoApp();
    CKanalikoApp(const CKanalikoApp&) = delete;
    CKanalikoApp& operator=(const CKanalikoApp&) = delete;

    // arguments: the command line without the program name; the first one that
    // is not an option is the scheme file. False when start-up failed.
    bool InitInstance(const QStringList& arguments);

    CMainFrame* MainFrame() const { return m_frame.get(); }
    core::CAppLogic* Logic() const { return m_logic.get(); }
    CNoticeQueue& Notices() const { return *m_notices; }
    dialogs::CErrorDlg* SharedErrorDialog() const { return m_errorDlg; }

private:
    void ShowSharedError(const QString& operation, const QString& technicalInfo,
                         const QString& errorText);

    panes::PaneFactory m_panes;
    FrameDialogs m_dialogs;
    // Declared in the order of their lifetimes: destroyed from the bottom up.
    std::unique_ptr<dialogs::CQtPrompt> m_ownPrompt;
    dialogs::IPrompt* m_prompt;
    std::unique_ptr<CNoticeQueue> m_notices;
    std::unique_ptr<core::CAppLogic> m_logic;
    std::unique_ptr<CMainFrame> m_frame;
    dialogs::CErrorDlg* m_errorDlg = nullptr; // a child of the main window, deleted first
};

} // namespace app
