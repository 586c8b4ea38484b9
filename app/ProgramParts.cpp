#include "app/ProgramParts.h"

#include "dialogs/CAboutDlg.h"
#include "dialogs/CChanelCheckerDlg.h"
#include "dialogs/COptionsDlg.h"
#include "dialogs/CQtPrompt.h"
#include "dialogs/CSchemaEditorDlg.h"
#include "panes/CClientBar.h"
#include "panes/CEventBar.h"
#include "panes/CServerBar.h"
#include "panes/CPingScreen.h"
#include "panes/CTraceScreen.h"

namespace app {

panes::PaneFactory ProgramPanes()
{
    panes::PaneFactory factory;
    // One line per pane.
    factory.clientPane = [](panes::IPaneHost& host, QWidget* parent) {
        return new panes::CClientBar(host, parent);
    };
    factory.eventsPane = [](panes::IPaneHost& host, QWidget* parent) {
        return new panes::CEventBar(host.Logic(), host.Prompt(), parent);
    };
    factory.serverPane = [](panes::IPaneHost& host, QWidget* parent) {
        return new panes::CServerBar(host, parent);
    };
    factory.echoScreen = &panes::CPingScreen::Create;
    factory.routeScreen = &panes::CTraceScreen::Create;
    return factory;
}

FrameDialogs ProgramDialogs()
{
    FrameDialogs dialogs;
    dialogs.schemeEditor = &dialogs::CSchemaEditorDlg::Edit;
    dialogs.optionsDialog = &dialogs::COptionsDlg::Edit;
    dialogs.aboutDialog = &dialogs::CAboutDlg::Show;
    // The check needs nothing of the logic (the frame stops and restarts the
    // servers around it); its messages are message boxes over the main window.
    dialogs.accessServerDialog = [](QWidget* parent, core::CAppLogic&) {
        dialogs::CQtPrompt prompt(parent);
        dialogs::CChanelCheckerDlg::Run(parent, prompt);
    };
    return dialogs;
}

} // namespace app
