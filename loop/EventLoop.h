#pragma once

// Small helpers around the GUI thread's event loop, for the headless front end
// and for tests that drive the loop themselves.
//
// Threads: IsGuiThread from any thread; the others on the GUI thread only (the
// thread of the QCoreApplication), which must exist.

#include <chrono>
#include <functional>

namespace loop {

// Whether the calling thread is the GUI thread. False while there is no
// QCoreApplication.
bool IsGuiThread();

// Runs the event loop until done() holds or the time-out has passed; done() is
// checked before the first event and after each batch of events. The loop
// sleeps until there is work (an event, a socket, a timer, the time-out): a
// predicate that another thread turns true without posting anything is seen
// within a backstop pause that grows from 5 to 250 ms.
// Returns done() as it was last seen.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Runs the event loop for the given time.
void ProcessEventsFor(std::chrono::milliseconds duration);

} // namespace loop
