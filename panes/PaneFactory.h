#pragma once

// How the main window gets the contents of its docks and views: one creator per
// content. A creator that is not set leaves an empty placeholder with the right
// caption. The program's creators are filled in app/ProgramParts.cpp, one line
// per pane.
//
// Each creator is called once, on the GUI thread, while the user interface is
// set up (after the application logic exists); parent is the dock or view that
// will hold the widget. An EGeneric thrown by a creator fails that set-up; a
// creator that returns null leaves the placeholder.

#include "panes/IClientPane.h"
#include "panes/IDiagnosticScreen.h"
#include "panes/IEventsPane.h"
#include "panes/IPaneHost.h"
#include "panes/IServerPane.h"

#include <functional>
#include <memory>

class QWidget;

namespace panes {

struct PaneFactory
{
    // Owned by their widgets (Widget() is reparented into the dock or view).
    std::function<IClientPane*(IPaneHost& host, QWidget* parent)> clientPane;
    std::function<IEventsPane*(IPaneHost& host, QWidget* parent)> eventsPane;
    std::function<IServerPane*(IPaneHost& host, QWidget* parent)> serverPane;
    // Owned by the frame (see IDiagnosticScreen).
    std::function<std::unique_ptr<IDiagnosticScreen>(IPaneHost& host, QWidget* parent)> echoScreen;
    std::function<std::unique_ptr<IDiagnosticScreen>(IPaneHost& host, QWidget* parent)> routeScreen;
};

} // namespace panes
