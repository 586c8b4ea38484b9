#pragma once

// What the event-loop layer (loop/AsyncSelect) needs from the socket layer, and the
// calls through which the socket layer tells it about the socket calls that
// matter to a watch. platform/ knows nothing of Qt or of windows: the loop
// registers one ISocketHooks object and keeps its own table of watches.
//
// Threads: every function here may be called from any thread. The hooks are
// called on the thread that made the socket call, never with a lock of the socket
// layer held, so a hook may call back into this layer.

#include "platform/Sockets.h"

namespace platform {

class ISocketHooks
{
public:
    // closesocket, after the socket has left the layer's table and before its
    // descriptor goes. The watch must stop at once: nothing more may be posted
    // for this socket. Return true when a notifier may still be polling the
    // descriptor on another thread and cannot be removed synchronously: the layer
    // then closes the socket by putting a never-ready placeholder on its
    // descriptor number (so the number cannot be reused yet) and calls
    // AfterCloseReserved; the number is freed by ReleaseReservedDescriptor once
    // the notifier is gone. Return false to have the descriptor closed at once.
    virtual bool BeforeClose(SOCKET s) = 0;
    // The placeholder sits on the descriptor number of a closed socket.
    virtual void AfterCloseReserved(SOCKET s) = 0;

    // recv or recvfrom was called on a watched socket (whatever its outcome):
    // the read notification is enabled again.
    virtual void AfterReceive(SOCKET s) = 0;

    // accept was called on a watched listening socket: the accept notification
    // is enabled again. accepted is the new socket (already non-blocking), or
    // INVALID_SOCKET when the accept failed with error (a Winsock code; 0 on
    // success). Return true when the new socket is now watched (with the
    // listening socket's window, message and events).
    virtual bool AfterAccept(SOCKET listening, SOCKET accepted, int error) = 0;

    // A watched stream socket started listening, or started or finished
    // connecting: a watch that was waiting for such a state may start (a fresh
    // stream socket reports a hang-up until then).
    virtual void AfterStateChange(SOCKET s) = 0;

protected:
    ~ISocketHooks() = default;
};

// Installs the one hooks object (null removes it). The object must outlive
// every socket call made while it is installed.
void InstallSocketHooks(ISocketHooks* hooks);

// Called by the watch layer: whether the socket is asynchronously selected.
// A watched socket is non-blocking and may not be set back to blocking; the hooks
// are called for it. Returns false for an unknown socket.
bool SetSocketWatched(SOCKET s, bool watched);

// What the watch layer needs to know about a socket.
struct SocketState
{
    SocketKind kind = SocketKind::Stream;
    bool listening = false;
    bool nonBlocking = false;
    bool watched = false;
};
bool QuerySocket(SOCKET s, SocketState* state);

// The readiness of a connected stream socket, as a zero-length-safe peek sees it.
enum class StreamReadiness
{
    Data,         // bytes are waiting
    Closed,       // the peer closed the connection (a zero-byte read)
    Failed,       // the connection failed or was reset; *error holds the Winsock code
    NotConnected, // neither listening nor connected yet
    Nothing,      // nothing to report (a spurious wake-up)
};
StreamReadiness ProbeStream(SOCKET s, int* error);

// Where a stream socket's non-blocking connect stands, for the watch layer once
// the socket became writable or reported an error: still pending, connected,
// or failed with *error the Winsock code (the failure is kept for SO_ERROR, as
// select keeps it). A socket that never connected is pending. Calls no hooks.
enum class ConnectOutcome
{
    Pending,
    Connected,
    Failed,
};
ConnectOutcome ResolveConnect(SOCKET s, int* error);

// Frees a descriptor number that closesocket reserved (see BeforeClose). Numbers
// that were not reserved are left alone.
void ReleaseReservedDescriptor(SOCKET s);

} // namespace platform
