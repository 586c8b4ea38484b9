#pragma once

// The application's window messages (all posted, never sent). The numbers are
// part of how the panes, the logic and the engine meet, and stay as they are.

#include "ui/WindowTypes.h"

namespace engine {

inline constexpr ui::UINT WM_SERVER_ROW_CHANGED = ui::WM_APP + 0x01; // wParam = server row
inline constexpr ui::UINT WM_CLIENT_ROW_QUEUED = ui::WM_APP + 0x04;  // wParam = sequence number
inline constexpr ui::UINT WM_UDP_SERVER_SOCKET = ui::WM_APP + 0x09;  // socket notification
inline constexpr ui::UINT WM_TCP_SERVER_SOCKET = ui::WM_APP + 0x0A;
inline constexpr ui::UINT WM_IP_SERVER_SOCKET = ui::WM_APP + 0x0B;
inline constexpr ui::UINT WM_UDP_CLIENT_SOCKET =
    ui::WM_APP + 0x0C; // notification, or 2 = probe now
inline constexpr ui::UINT WM_TCP_CLIENT_SOCKET = ui::WM_APP + 0x0D; // 0 connected, 1 failed
inline constexpr ui::UINT WM_IP_CLIENT_SOCKET = ui::WM_APP + 0x0E; // notification, or 2 = probe now
inline constexpr ui::UINT WM_EVENT_ADDED = ui::WM_APP + 0x0F;
inline constexpr ui::UINT WM_EVENTS_FILTERED = ui::WM_APP + 0x10; // wParam = rows to show
inline constexpr ui::UINT WM_ECHO_STATISTICS = ui::WM_APP + 0x11; // wParam = target
inline constexpr ui::UINT WM_ECHO_RECORDS = ui::WM_APP + 0x12;    // wParam = target, lParam = count
inline constexpr ui::UINT WM_ROUTE_STATE = ui::WM_APP + 0x13;     // wParam = target
inline constexpr ui::UINT WM_ROUTE_HOPS = ui::WM_APP + 0x14;      // wParam = target, lParam = hops
inline constexpr ui::UINT WM_EVENTS_REDRAW = ui::WM_APP + 0x16;   // drop the grid's cell cache

// The code a client posts to itself to ask for its next probe.
inline constexpr ui::LPARAM PROBE_NOW = 2;
// The codes of WM_TCP_CLIENT_SOCKET.
inline constexpr ui::LPARAM TCP_CONNECTED = 0;
inline constexpr ui::LPARAM TCP_FAILED = 1;

} // namespace engine
