#pragma once

// The content of the dock "События": the event log.
//
// The pane is the receiver of the event store's messages (WM_EVENT_ADDED,
// WM_EVENTS_FILTERED, WM_EVENTS_REDRAW): it registers its own receiver with the
// logic when it is made (CAppLogic::SetEventsPane), so every message reaches
// the grid once and the frame forwards none. Whatever changes the rows from
// outside the pane (a purge, a filter applied or removed by another pane or by
// a scheme change) is followed by a call here, so the grid need not wait for
// the store's posted notice.
//
// Threads: the GUI thread only.

#include <functional>

class QWidget;

namespace panes {

class IEventsPane
{
public:
    // The widget the dock shows; the dock owns it (see IClientPane::Widget).
    virtual QWidget* Widget() = 0;
    // Called (on the GUI thread) whenever the pane's rows changed: the frame's
    // status bar counts them.
    virtual void SetRowsChangedHandler(std::function<void()> handler) = 0;
    // The store's rows changed under the pane (the frame purged events): read
    // them now and redraw.
    virtual void RefreshRows() = 0;
    // Make row n of the rows shown now visible and select it (ignored when n is
    // not a row).
    virtual void SelectRow(int row) = 0;
    // A filter was applied or removed outside the pane (the client and server
    // panes' context menus, a scheme change). Whether the log is filtered is
    // the logic's filter's state (CAppLogic::Events().IsFilterActive()), which
    // the pane's commands show.
    virtual void FilterChanged() = 0;
    virtual ~IEventsPane() = default;
};

} // namespace panes
