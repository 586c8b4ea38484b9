#pragma once

// Asynchronous socket selection: socket readiness delivered to a window as posted
// messages, the program's stand-in for Winsock's WSAAsyncSelect.
//
// WSAAsyncSelect(s, window, message, events) switches the socket to non-blocking
// mode at once and watches it on the GUI thread. Each notification is posted to
// the window as `message` with wParam = the socket and lParam =
// WSAMAKESELECTREPLY(event, error) (platform/Sockets.h):
// - FD_READ (1): a datagram or raw socket can be read, or has an ICMP answer
//   pending (error 0: the next receive reports the answer); a connected stream
//   socket has data;
// - FD_ACCEPT (8): a listening socket has a connection waiting;
// - FD_CLOSE (32): the peer of a stream socket closed the connection (error 0) or
//   reset it (error = the Winsock code, e.g. 10054). After FD_CLOSE the socket is
//   no longer watched.
// - FD_CONNECT (16): a stream socket's non-blocking connect has ended: error 0
//   when it is connected, else the Winsock code (10061 refused, 10065 no route
//   and so on). Posted once; after a failed connect the socket is no longer
//   watched.
// Winsock's re-enabling rule holds: after FD_READ no further FD_READ is posted for
// the socket until the program calls platform::recv or platform::recvfrom on it;
// after FD_ACCEPT none until it calls platform::accept. If the condition still
// holds then, the notification comes again. A slow handler therefore costs one
// message, never a stream of them.
// A socket accepted from a watched listening socket is non-blocking and watched
// with the same window, message and events from the moment accept returns it.
// events = 0 ends the watch (the socket stays non-blocking). closesocket ends the
// watch before the descriptor is closed; notifications of an ended watch that are
// still queued are dropped, so neither the closed socket nor a later socket that
// gets the same descriptor number sees a stale one.
// FD_WRITE and FD_OOB are not offered (10022): the program does not use them.
//
// Threads: WSAAsyncSelect may be called from any thread. The notifiers are made,
// switched and deleted on the GUI thread only; calls from other threads are passed
// to it as posted events, and notifications start once the GUI thread has handled
// them. A QCoreApplication must exist.

#include "loop/WindowTypes.h"
#include "platform/Sockets.h"

namespace loop {

// 0 on success; SOCKET_ERROR with WSAGetLastError() = 10038 for an unknown socket,
// 10022 for a dead window, unsupported events or no QCoreApplication.
int WSAAsyncSelect(platform::SOCKET s, HWND window, UINT message, long events);

} // namespace loop
