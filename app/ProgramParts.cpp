#include "app/ProgramParts.h"

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
    // One line per dialog, for example:
    //   dialogs.aboutDialog = [](QWidget* parent) { dialogs::CAboutDlg(parent).exec(); };
    return dialogs;
}

} // namespace app
