#pragma once

// What the engine reports through and relies on. The application logic
// implements it; engine tests implement it with a recording sink.
//
// Threads: PostToWindow, AddEvent, AddClientRow, StartSendTimer,
// StartPauseTimer, StopSendTimer and SelectAsync are called from the GUI
// thread, the client-check task (a client's Start opens and selects its first
// sockets there) and pool threads (a client's reconnect) at once, and must be
// safe for that; UpdateServerRow comes from the servers, on the GUI thread.

#include "channel/ClientRow.h"
#include "channel/EventCodes.h"
#include "loop/WindowTypes.h"
#include "platform/Sockets.h"

#include <cstdint>

namespace engine {

class IApp
{
public:
    // Posts (never sends): 0x8001 to the server pane, 0x8004 to the client pane,
    // every other number to the main window. A client's own messages carry its
    // socket's life in the upper half of lParam (CSocketList::WithLife): the
    // dispatcher hands lParam to OnSocketEvent unchanged.
    virtual bool PostToWindow(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) = 0;
    // Asynchronous selection of the socket to the main window; 0 on success.
    virtual int SelectAsync(platform::SOCKET socket, loop::UINT message, long events) = 0;
    // A timer of the main window with the socket as its id, every seconds x 1000 ms.
    // Its expiry reaches the client as code 0 (TCP) or PROBE_NOW (UDP, IP)
    // without a life.
    virtual void StartSendTimer(loop::UINT_PTR id, int seconds) = 0;
    // The same timer (id = the socket) every `milliseconds` ms: a datagram
    // client's pause for the replies to its last probe. Its expiry reaches the
    // client as PROBE_TIMER, like the probe timer's.
    virtual void StartPauseTimer(loop::UINT_PTR id, int milliseconds) = 0;
    // Appends an event with the current local time; returns its index. With
    // incoming set the peer is the sender and the local address the receiver.
    // peerText may be null (no peer).
    virtual int AddEvent(int status, int code, int error, int protocol, const char* peerText,
                         std::uint16_t port1, std::uint16_t port2, bool incoming) = 0;
    // The first server row of that protocol and port whose state is not 1 takes
    // the code and the event index; 0x8001 goes to the server pane.
    virtual void UpdateServerRow(int code, int protocol, std::uint16_t port, int eventIndex) = 0;
    // Queues the row under the logic's lock; returns its sequence number. The
    // engine then posts WM_CLIENT_ROW_QUEUED with that number.
    virtual std::uint32_t AddClientRow(const channel::ClientRow& row) = 0;
    virtual void StopSendTimer(loop::UINT_PTR id) = 0;
    virtual ~IApp() = default;
};

} // namespace engine
