#pragma once

// The content of the dock "Каналы связи": the progress of the client check.
// The frame takes every client row from the logic (it is the logic's client
// pane window: the early end of a peer depends on the rows) and hands each one
// here after the client check has seen it.
//
// Threads: the GUI thread only.

#include "channel/ClientRow.h"

#include <string>
#include <vector>

class QWidget;

namespace panes {

class IClientPane
{
public:
    // The widget the dock shows; the dock owns it from the moment the frame
    // asks for it (and with it this object, when the widget is the object).
    virtual QWidget* Widget() = 0;
    // A check starts with these peers (dotted texts, in the order typed): the
    // grid is rebuilt for them from the scheme.
    virtual void SetPeers(const std::vector<std::string>& peers) = 0;
    // The scheme changed: empty the grid and redraw.
    virtual void Clear() = 0;
    // A client row taken from the logic (0x8004), in the order queued.
    virtual void OnClientRow(const channel::ClientRow& row) = 0;
    virtual ~IClientPane() = default;
};

} // namespace panes
