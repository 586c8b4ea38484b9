#pragma once

// The one place where the program's panes and dialogs are wired into the main
// window: each pane or dialog adds its line here when it is ready.

#include "app/FrameDialogs.h"
#include "panes/PaneFactory.h"

namespace app {

panes::PaneFactory ProgramPanes();
FrameDialogs ProgramDialogs();

} // namespace app
