#pragma once

// The content of the dock "События": the event log. The frame is the logic's
// events pane window and forwards the two messages as calls, one per message,
// in the order they were posted; a pane that wants fewer repaints batches them
// itself (for instance with a zero-time single-shot timer).
//
// Threads: the GUI thread only.

class QWidget;

namespace panes {

class IEventsPane
{
public:
    // The widget the dock shows; the dock owns it (see IClientPane::Widget).
    virtual QWidget* Widget() = 0;
    // WM_EVENT_ADDED: an event was appended while no filter is active.
    virtual void OnEventAdded() = 0;
    // WM_EVENTS_FILTERED (wParam): the rows to show now.
    virtual void OnEventsFiltered(int rows) = 0;
    // After a purge by the frame: the rows to show; redraw.
    virtual void SetRowCount(int rows) = 0;
    // Make row n visible and select it (ignored when n is not a row).
    virtual void SelectRow(int row) = 0;
    // The frame removed the filter (the scheme changed). Filters are also
    // applied from outside the pane (the client and server panes' context
    // menus): a pane that shows whether it is filtered reads that from the
    // logic (CAppLogic::Events().IsFilterActive()) whenever its rows change,
    // rather than keeping a flag of its own.
    virtual void FilterCleared() = 0;
    virtual ~IEventsPane() = default;
};

} // namespace panes
