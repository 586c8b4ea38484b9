#pragma once

// The application's window messages (all posted, never sent). The numbers are
// part of how the panes, the logic and the engine meet, and stay as they are.

#include "loop/WindowTypes.h"

namespace channel {

inline constexpr loop::UINT WM_SERVER_ROW_CHANGED = loop::WM_APP + 0x01; // wParam = server row
inline constexpr loop::UINT WM_CLIENT_ROW_QUEUED = loop::WM_APP + 0x04;  // wParam = sequence number
inline constexpr loop::UINT WM_UDP_SERVER_SOCKET = loop::WM_APP + 0x09;  // socket notification
inline constexpr loop::UINT WM_TCP_SERVER_SOCKET = loop::WM_APP + 0x0A;
inline constexpr loop::UINT WM_IP_SERVER_SOCKET = loop::WM_APP + 0x0B;
inline constexpr loop::UINT WM_UDP_CLIENT_SOCKET =
    loop::WM_APP + 0x0C; // notification, or 2 = probe now
inline constexpr loop::UINT WM_TCP_CLIENT_SOCKET = loop::WM_APP + 0x0D; // 0 connected, 1 failed
inline constexpr loop::UINT WM_IP_CLIENT_SOCKET =
    loop::WM_APP + 0x0E; // notification, or 2 = probe now
inline constexpr loop::UINT WM_EVENT_ADDED = loop::WM_APP + 0x0F;
inline constexpr loop::UINT WM_EVENTS_FILTERED = loop::WM_APP + 0x10; // wParam = rows to show
inline constexpr loop::UINT WM_ECHO_STATISTICS = loop::WM_APP + 0x11; // wParam = target
inline constexpr loop::UINT WM_ECHO_RECORDS =
    loop::WM_APP + 0x12;                                          // wParam = target, lParam = count
inline constexpr loop::UINT WM_ROUTE_STATE = loop::WM_APP + 0x13; // wParam = target
inline constexpr loop::UINT WM_ROUTE_HOPS = loop::WM_APP + 0x14;  // wParam = target, lParam = hops
inline constexpr loop::UINT WM_EVENTS_REDRAW = loop::WM_APP + 0x16; // drop the grid's cell cache

// The code a UDP or IP client posts to itself to ask for its first probe.
inline constexpr loop::LPARAM PROBE_NOW = 2;
// The codes of WM_TCP_CLIENT_SOCKET.
inline constexpr loop::LPARAM TCP_CONNECTED = 0;
inline constexpr loop::LPARAM TCP_FAILED = 1;
// What a probe timer's expiry reaches a client with, whatever its protocol:
// the port's next probe is due. No message carries it (a socket notification
// carries one network event, a client's own message 0, 1 or 2 with its
// socket's life), so a client never takes a timer for a message or the reverse.
inline constexpr loop::LPARAM PROBE_TIMER = 3;
// What a UDP or IP client's probe task posts to its client (with the socket's
// life) once its probe is sent and reported: a reply read before that would be
// reported ahead of its probe, so a read notification that comes first waits
// for it. 4 is no network event the clients' sockets are selected for.
inline constexpr loop::LPARAM PROBE_SENT = 4;
// What a TCP client's connect task posts when the connect failed: the
// reconnect follows after the pause between attempts, which the port's timer
// keeps instead of a pool worker.
inline constexpr loop::LPARAM TCP_CONNECT_FAILED = 5;
// What a TCP client's connect task posts when the connect is under way: the
// client waits for its end (FD_CONNECT) or TimeOut on the event loop.
inline constexpr loop::LPARAM TCP_CONNECTING = 6;
// What a TCP client's probe task posts when its echo has not come within a
// few milliseconds: the client waits for it (FD_READ, FD_CLOSE) or its
// deadline on the event loop.
inline constexpr loop::LPARAM TCP_AWAIT_ECHO = 7;
// What the expiry of a port's deadline timer reaches a TCP client with (a
// timer, so without a life): the echo it waits for did not come in time.
inline constexpr loop::LPARAM PROBE_DEADLINE = 8;

} // namespace channel
