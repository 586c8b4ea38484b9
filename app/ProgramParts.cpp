#include "app/ProgramParts.h"

#include "dialogs/CAboutDlg.h"
#include "dialogs/COptionsDlg.h"
#include "dialogs/CSchemaEditorDlg.h"

namespace app {

panes::PaneFactory ProgramPanes()
{
    panes::PaneFactory factory;
    // One line per pane, for example:
    //   factory.clientPane = [](panes::IPaneHost& host, QWidget* parent) {
    //       return new panes::CClientBar(host, parent); };
    return factory;
}

FrameDialogs ProgramDialogs()
{
    FrameDialogs dialogs;
    dialogs.schemeEditor = &dialogs::CSchemaEditorDlg::Edit;
    dialogs.optionsDialog = &dialogs::COptionsDlg::Edit;
    dialogs.aboutDialog = &dialogs::CAboutDlg::Show;
    return dialogs;
}

} // namespace app
