#pragma once

// What a pane may ask of the main window. The frame implements it and hands it
// to every pane it creates (PaneFactory.h).
//
// Threads: the GUI thread only.

#include <QString>

namespace core {
class CAppLogic;
}
namespace dialogs {
class IPrompt;
}

namespace panes {

class IPaneHost
{
public:
    // The application logic, for reading the scheme, the rows and the events.
    virtual core::CAppLogic& Logic() = 0;
    // Every message box and file dialog of a pane goes through this prompt.
    virtual dialogs::IPrompt& Prompt() = 0;
    // The server pane's "Перезапустить сервер": the logic drops the server
    // rows and every event, stops and restarts the servers on the scheme's
    // ports; the server pane is then asked to refill (IServerPane::Refill).
    virtual void RestartServers() = 0;
    // Makes event row n of the events pane visible and selects it.
    virtual void SelectEventRow(int row) = 0;
    // A pane has applied a filter to the logic (true), or the filter is to go
    // (false: the logic's filter is cleared and the events pane told so).
    // Whether events are shown filtered is the logic's filter's own state
    // (CAppLogic::Events().IsFilterActive()), not a flag kept here.
    virtual void SetFilterShown(bool shown) = 0;
    // The client pane's "Эхо-запрос" and "Маршрут": switch to that category and
    // put the address into its "IP адрес" box; nothing is started.
    virtual void ShowEchoFor(const QString& address) = 0;
    virtual void ShowRouteFor(const QString& address) = 0;
    virtual ~IPaneHost() = default;
};

} // namespace panes
