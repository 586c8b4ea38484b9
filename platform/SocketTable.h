#pragma once

// The socket layer's memory of its sockets: what the system does not tell us
// cheaply (the kind, which changes the meaning of ECONNREFUSED), what Winsock
// keeps and Linux does not (a failed connect's error after select has read it,
// time-outs in milliseconds), and whether the event-loop layer watches it.
// Internal to platform/.
//
// Threads: any; one mutex guards the table. It is never held while a system call
// that can block runs, nor while a hook is called.

#include "platform/SocketHooks.h"
#include "platform/Sockets.h"

#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace platform::detail {

struct SocketRecord
{
    SocketKind kind = SocketKind::Stream;
    bool nonBlocking = false;
    bool listening = false;
    bool connected = false;
    // A non-blocking connect was started and its outcome is not known yet.
    bool connectPending = false;
    // The Winsock code of a non-blocking connect that failed: the socket stays
    // in select's except set from then on.
    int failedConnectError = 0;
    // An error that SO_ERROR hands out once (the kernel's copy was consumed).
    int pendingSoError = 0;
    // Winsock time-outs in milliseconds, 0 = no limit.
    DWORD receiveTimeoutMs = 0;
    DWORD sendTimeoutMs = 0;
    // Asynchronously selected now / ever (the latter decides whether closing
    // must ask the watch layer).
    bool watched = false;
    bool everWatched = false;
};

class CSocketTable final
{
public:
    static CSocketTable& Instance();

    void Add(SOCKET s, const SocketRecord& record);
    // Copies the record out; false for an unknown socket.
    bool Find(SOCKET s, SocketRecord* record) const;
    // Runs change on the record under the lock; false for an unknown socket.
    bool Update(SOCKET s, const std::function<void(SocketRecord&)>& change);
    // Removes the record and returns it; false for an unknown socket.
    bool Take(SOCKET s, SocketRecord* record);

    // Descriptor numbers held by a placeholder after closesocket.
    void AddReserved(SOCKET s);
    bool TakeReserved(SOCKET s);

private:
    CSocketTable() = default;

    mutable std::mutex m_mutex;
    std::unordered_map<SOCKET, SocketRecord> m_records;
    std::unordered_set<SOCKET> m_reserved;
};

// Looks the socket up and sets 10038 as the last error when it is unknown.
bool FindOrFail(SOCKET s, SocketRecord* record);

// Sets the last error from errno for a socket of that kind; returns SOCKET_ERROR.
int FailWithErrno(int error, SocketKind kind);
int Fail(int wsaError);

// The installed hooks object, or null.
ISocketHooks* InstalledHooks();

// The never-ready descriptor closesocket puts on the number of a socket whose
// notifier may still poll it; -1 when it could not be made.
int PlaceholderDescriptor();

} // namespace platform::detail
