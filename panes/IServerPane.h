#pragma once

// The content of the channel view, "Открытые порты": one row per listening
// port. The frame is the logic's server pane window and forwards 0x8001.
//
// Threads: the GUI thread only.

class QWidget;

namespace panes {

class IServerPane
{
public:
    // The widget the view shows; the view owns it (see IClientPane::Widget).
    virtual QWidget* Widget() = 0;
    // 0x8001: the logic's server row at that index changed.
    virtual void OnServerRowChanged(int row) = 0;
    // The servers were restarted on the scheme (at start-up, after a scheme was
    // opened or edited, after IPaneHost::RestartServers): remove every row and
    // fill the report anew from the scheme.
    virtual void Refill() = 0;
    virtual ~IServerPane() = default;
};

} // namespace panes
