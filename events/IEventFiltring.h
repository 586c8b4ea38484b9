#pragma once

// How the event filter reads the event store and hands it its results.
// Implemented by the event store (CEventStore) and, forwarding to it, by the
// application logic.
//
// Threads: every operation may be called from the filter's pool task while
// other threads add events; each guards itself.

#include "events/Event.h"

#include <optional>
#include <vector>

namespace events {

class IEventFiltring
{
public:
    // Posts WM_EVENTS_FILTERED (wParam = count, lParam = 0) to the events pane.
    virtual void PostFilteredCount(int count) = 0;
    // Appends an event index to the filtered list (and its position to the
    // display order); returns the new length of the filtered list.
    virtual int AddFiltered(int eventIndex) = 0;
    virtual int GetFilteredCount() = 0;
    virtual int GetEventCount() = 0;
    // A copy of the event at that index, or none past the end. A copy, so that
    // nothing handed out can dangle when the store is purged.
    virtual std::optional<Event> GetEvent(int index) = 0;
    // Copies of up to count events from index first on into out (replacing its
    // contents); returns how many there were. Lets the filter read a large store
    // in runs instead of one lock round per event; the default asks GetEvent.
    virtual int CopyEvents(int first, int count, std::vector<Event>& out)
    {
        out.clear();
        for (int i = first; i < first + count; ++i) {
            std::optional<Event> event = GetEvent(i);
            if (!event)
                break;
            out.push_back(*event);
        }
        return static_cast<int>(out.size());
    }
    virtual ~IEventFiltring() = default;
};

} // namespace events
