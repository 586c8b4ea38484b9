// Creation, life cycle, modes and options of the socket layer. Data transfer is
// in SocketIo.cpp, select in SocketSelect.cpp.

#include "platform/Sockets.h"
#include "ferrox/values/TimeUnits.h"

#include "platform/CRawSocketHelper.h"
#include "platform/SocketHooks.h"
#include "platform/SocketTable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

using detail::CSocketTable;
using detail::Fail;
using detail::FailWithErrno;
using detail::FindOrFail;
using detail::SocketRecord;

namespace detail {

// A descriptor that never becomes ready: the read end of a pipe whose write end
// stays open and is never written. closesocket puts a copy of it on the number
// of a socket whose notifier cannot be removed synchronously. Made when the
// hooks are installed, long before the process may run out of descriptors: made
// at the first such close, it could not be had just when it is needed most.
int PlaceholderDescriptor()
{
    // Never destroyed: sockets may be closed while static objects go away.
    static std::mutex* lock = new std::mutex;
    static int descriptor = -1;
    std::lock_guard guard(*lock);
    if (descriptor < 0) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0)
            descriptor = ends[0]; // ends[1] is deliberately kept open for the process's life
    }
    return descriptor;
}

} // namespace detail

namespace {

// Lowest and highest raw protocol numbers a raw socket may carry. 0 is refused
// by the system and 255 (IPPROTO_RAW) is send-only.
constexpr int kMinRawProtocol = 1;
constexpr int kMaxRawProtocol = 254;

bool ValidAddressLength(const sockaddr* address, int length)
{
    return address && length >= static_cast<int>(sizeof(sockaddr_in));
}

} // namespace

int WSAStartup(WORD versionRequested, WSADATA* data)
{
    (void)versionRequested;
    if (data) {
        *data = WSADATA{};
        data->wVersion = MAKEWORD(2, 2);
        data->wHighVersion = MAKEWORD(2, 2);
        std::strcpy(data->szDescription, "POSIX sockets");
        std::strcpy(data->szSystemStatus, "Running");
    }
    return 0;
}

int WSACleanup()
{
    return 0;
}

SOCKET socket(int af, int type, int protocol)
{
    if (af != AF_INET) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    SocketRecord record;
    switch (type) {
    case SOCK_STREAM: record.kind = SocketKind::Stream; break;
    case SOCK_DGRAM: record.kind = SocketKind::Datagram; break;
    case SOCK_RAW:
        record.kind = SocketKind::Raw;
        if (protocol < kMinRawProtocol || protocol > kMaxRawProtocol) {
            WSASetLastError(WSAEPROTONOSUPPORT);
            return INVALID_SOCKET;
        }
        break;
    default: WSASetLastError(WSAESOCKTNOSUPPORT); return INVALID_SOCKET;
    }

    int s = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    if (s < 0) {
        const int error = errno;
        // Refused for lack of rights: the installed helper may open it for us.
        // Its socket is the same kind of object and is set up below like ours.
        if (record.kind == SocketKind::Raw && (error == EPERM || error == EACCES))
            s = detail::CRawSocketHelper::Instance().Open(protocol);
        if (s < 0) {
            SetLastErrorFromErrno(error, record.kind);
            return INVALID_SOCKET;
        }
    }
    if (record.kind != SocketKind::Stream) {
        // ICMP answers to our datagrams arrive through the error queue; without
        // this an unconnected socket never hears of them.
        const int on = 1;
        if (::setsockopt(s, SOL_IP, IP_RECVERR, &on, sizeof on) != 0) {
            const int error = errno;
            ::close(s);
            SetLastErrorFromErrno(error, record.kind);
            return INVALID_SOCKET;
        }
    }
    CSocketTable::Instance().Add(s, record);
    return s;
}

SOCKET WSASocket(int af, int type, int protocol, WSAPROTOCOL_INFOW* protocolInfo, GROUP group,
                 DWORD flags)
{
    if (protocolInfo != nullptr || group != 0 || (flags & ~WSA_FLAG_OVERLAPPED) != 0) {
        WSASetLastError(WSAEINVAL);
        return INVALID_SOCKET;
    }
    return platform::socket(af, type, protocol);
}

int DescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > static_cast<rlim_t>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(limit.rlim_cur);
}

int RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    return DescriptorLimit();
}

int closesocket(SOCKET s)
{
    SocketRecord record;
    if (!CSocketTable::Instance().Take(s, &record))
        return Fail(WSAENOTSOCK);

    ISocketHooks* hooks = record.everWatched ? detail::InstalledHooks() : nullptr;
    if (hooks && hooks->BeforeClose(s)) {
        // A notifier on the GUI thread may still poll this number. Closing the
        // socket by putting a never-ready descriptor on its number releases the
        // socket now (the peer sees the close) while the number stays taken until
        // the watch layer has removed the notifier and calls
        // ReleaseReservedDescriptor.
        const int placeholder = detail::PlaceholderDescriptor();
        CSocketTable::Instance().AddReserved(s);
        if (placeholder < 0 || ::dup3(placeholder, s, O_CLOEXEC) != s) {
            // No placeholder: the socket itself keeps its number until the
            // notifier is gone, and is closed then. Closing it under a live
            // notifier would make the loop poll an invalid descriptor (Qt warns
            // of each). A stream's peer sees the close now all the same.
            ::shutdown(s, SHUT_RDWR);
        }
        hooks->AfterCloseReserved(s);
        return 0;
    }
    // close(2) releases the descriptor even when it reports an error (EINTR
    // included), so there is nothing to retry and nothing useful to report.
    ::close(s);
    return 0;
}

void ReleaseReservedDescriptor(SOCKET s)
{
    // Only numbers that closesocket reserved; a number whose placeholder could
    // not be set was closed already and may belong to someone else by now.
    if (CSocketTable::Instance().TakeReserved(s)) {
        ::close(s);
    }
}

int bind(SOCKET s, const sockaddr* name, int nameLength)
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    if (!ValidAddressLength(name, nameLength))
        return Fail(WSAEFAULT);
    if (record.kind == SocketKind::Stream) {
        // Winsock binds a port whose old connections are still in TIME_WAIT; Linux
        // does so only with SO_REUSEADDR. It still refuses a port another socket
        // listens on, so a busy port stays busy.
        int on = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    }
    if (::bind(s, name, static_cast<socklen_t>(nameLength)) != 0)
        return FailWithErrno(errno, record.kind);
    return 0;
}

int listen(SOCKET s, int backlog)
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    if (record.kind != SocketKind::Stream)
        return Fail(WSAEOPNOTSUPP);
    if (backlog < 0)
        backlog = 0;
    if (::listen(s, backlog) != 0)
        return FailWithErrno(errno, record.kind);
    bool watched = false;
    CSocketTable::Instance().Update(s, [&watched](SocketRecord& r) {
        r.listening = true;
        watched = r.watched;
    });
    if (ISocketHooks* hooks = watched ? detail::InstalledHooks() : nullptr)
        hooks->AfterStateChange(s);
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* address, int* addressLength)
{
    SocketRecord listening;
    if (!FindOrFail(s, &listening))
        return INVALID_SOCKET;
    if (address && (!addressLength || *addressLength < static_cast<int>(sizeof(sockaddr_in)))) {
        WSASetLastError(WSAEFAULT);
        return INVALID_SOCKET;
    }

    // Linux does not hand the listening socket's non-blocking mode on to the
    // accepted one; Winsock does, and a watched socket must never block the GUI
    // thread, so ask for it explicitly.
    const int flags = SOCK_CLOEXEC | (listening.nonBlocking ? SOCK_NONBLOCK : 0);
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    int accepted;
    do {
        accepted = ::accept4(s, reinterpret_cast<sockaddr*>(&peer), &peerLength, flags);
    } while (accepted < 0 && errno == EINTR);
    const int error = accepted < 0 ? errno : 0;

    if (accepted >= 0) {
        SocketRecord record;
        record.kind = listening.kind;
        record.nonBlocking = listening.nonBlocking;
        record.connected = true;
        // The system copies the listening socket's time-outs to the new socket.
        record.receiveTimeoutMs = listening.receiveTimeoutMs;
        record.sendTimeoutMs = listening.sendTimeoutMs;
        CSocketTable::Instance().Add(accepted, record);
        if (address) {
            const int length = std::min<int>(*addressLength, static_cast<int>(peerLength));
            std::memcpy(address, &peer, static_cast<std::size_t>(length));
            *addressLength = length;
        }
    }

    const int wsaError = accepted >= 0     ? 0
                         : error == EAGAIN ? WSAEWOULDBLOCK
                                           : WsaFromErrno(error, listening.kind);
    if (ISocketHooks* hooks = listening.watched ? detail::InstalledHooks() : nullptr) {
        const SOCKET reported = accepted >= 0 ? accepted : INVALID_SOCKET;
        if (hooks->AfterAccept(s, reported, wsaError) && accepted >= 0)
            SetSocketWatched(accepted, true);
    }

    if (accepted < 0) {
        WSASetLastError(wsaError);
        return INVALID_SOCKET;
    }
    return accepted;
}

SOCKET WSAAccept(SOCKET s, sockaddr* address, int* addressLength, std::nullptr_t condition,
                 std::uintptr_t callbackData)
{
    (void)condition;
    (void)callbackData;
    return platform::accept(s, address, addressLength);
}

int connect(SOCKET s, const sockaddr* name, int nameLength)
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    if (!ValidAddressLength(name, nameLength))
        return Fail(WSAEFAULT);

    if (::connect(s, name, static_cast<socklen_t>(nameLength)) == 0) {
        bool watched = false;
        CSocketTable::Instance().Update(s, [&watched](SocketRecord& r) {
            r.connected = true;
            r.connectPending = false;
            r.failedConnectError = 0;
            watched = r.watched;
        });
        if (ISocketHooks* hooks = watched ? detail::InstalledHooks() : nullptr)
            hooks->AfterStateChange(s);
        return 0;
    }

    const int error = errno;
    if (error == EINPROGRESS && record.nonBlocking) {
        CSocketTable::Instance().Update(s, [](SocketRecord& r) {
            r.connectPending = true;
            r.failedConnectError = 0;
            r.pendingSoError = 0;
        });
        // A connecting socket no longer reports the hang-up of a fresh one, so a
        // watch that was waiting for a state may start.
        if (ISocketHooks* hooks = record.watched ? detail::InstalledHooks() : nullptr)
            hooks->AfterStateChange(s);
        return Fail(WSAEWOULDBLOCK);
    }
    if (error == EINPROGRESS || error == EAGAIN) {
        // A blocking connect stopped by a send time-out (Linux applies
        // SO_SNDTIMEO to connect): to the caller the connect timed out.
        return Fail(WSAETIMEDOUT);
    }
    return FailWithErrno(error, record.kind);
}

int shutdown(SOCKET s, int how)
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    if (::shutdown(s, how) != 0)
        return FailWithErrno(errno, record.kind);
    return 0;
}

int ioctlsocket(SOCKET s, long command, u_long* argument)
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    if (!argument)
        return Fail(WSAEFAULT);

    if (command == static_cast<long>(FIONBIO)) {
        const bool nonBlocking = *argument != 0;
        if (!nonBlocking && record.watched)
            return Fail(WSAEINVAL); // Winsock: an asynchronously selected socket stays non-blocking
        const int flags = ::fcntl(s, F_GETFL);
        if (flags < 0)
            return FailWithErrno(errno, record.kind);
        const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
        if (wanted != flags && ::fcntl(s, F_SETFL, wanted) != 0)
            return FailWithErrno(errno, record.kind);
        CSocketTable::Instance().Update(
            s, [nonBlocking](SocketRecord& r) { r.nonBlocking = nonBlocking; });
        return 0;
    }
    if (command == static_cast<long>(FIONREAD)) {
        int waiting = 0;
        if (::ioctl(s, FIONREAD, &waiting) != 0)
            return FailWithErrno(errno, record.kind);
        *argument = static_cast<u_long>(waiting < 0 ? 0 : waiting);
        return 0;
    }
    return Fail(WSAEINVAL);
}

int setsockopt(SOCKET s, int level, int name, const char* value, int length)
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    if (length < 0 || (length > 0 && !value))
        return Fail(WSAEFAULT);

    if (level == SOL_SOCKET && (name == SO_RCVTIMEO || name == SO_SNDTIMEO)) {
        // Winsock takes milliseconds in a DWORD; the system a struct timeval.
        if (length < static_cast<int>(sizeof(DWORD)))
            return Fail(WSAEFAULT);
        DWORD milliseconds;
        std::memcpy(&milliseconds, value, sizeof milliseconds);
        const timeval interval = timeval_from_ms(milliseconds);
        if (::setsockopt(s, SOL_SOCKET, name, &interval, sizeof interval) != 0)
            return FailWithErrno(errno, record.kind);
        CSocketTable::Instance().Update(s, [name, milliseconds](SocketRecord& r) {
            (name == SO_RCVTIMEO ? r.receiveTimeoutMs : r.sendTimeoutMs) = milliseconds;
        });
        return 0;
    }
    if (level == SOL_SOCKET && name == SO_ERROR)
        return Fail(WSAENOPROTOOPT); // read-only, as in Winsock

    if (::setsockopt(s, level, name, value, static_cast<socklen_t>(length)) != 0)
        return FailWithErrno(errno, record.kind);
    return 0;
}

int getsockopt(SOCKET s, int level, int name, char* value, int* length)
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    if (!value || !length || *length < 0)
        return Fail(WSAEFAULT);

    if (level == SOL_SOCKET && (name == SO_RCVTIMEO || name == SO_SNDTIMEO)) {
        if (*length < static_cast<int>(sizeof(DWORD)))
            return Fail(WSAEFAULT);
        const DWORD milliseconds =
            name == SO_RCVTIMEO ? record.receiveTimeoutMs : record.sendTimeoutMs;
        std::memcpy(value, &milliseconds, sizeof milliseconds);
        *length = sizeof milliseconds;
        return 0;
    }
    if (level == SOL_SOCKET && name == SO_ERROR) {
        if (*length < static_cast<int>(sizeof(int)))
            return Fail(WSAEFAULT);
        int wsaError = 0;
        if (record.kind == SocketKind::Stream) {
            // A failed connect whose error select already took from the system
            // is handed out here once, as Winsock does.
            CSocketTable::Instance().Update(s, [&wsaError](SocketRecord& r) {
                wsaError = r.pendingSoError;
                r.pendingSoError = 0;
            });
            if (wsaError == 0) {
                int systemError = 0;
                socklen_t systemLength = sizeof systemError;
                if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &systemError, &systemLength) != 0)
                    return FailWithErrno(errno, record.kind);
                wsaError = WsaFromErrno(systemError, record.kind);
                if (systemError != 0 && record.connectPending) {
                    CSocketTable::Instance().Update(s, [wsaError](SocketRecord& r) {
                        r.connectPending = false;
                        r.failedConnectError = wsaError;
                    });
                }
            }
        }
        // Datagram and raw sockets: a pending ICMP answer belongs to the next
        // receive (the error queue); SO_ERROR leaves it there and reads 0.
        std::memcpy(value, &wsaError, sizeof wsaError);
        *length = sizeof wsaError;
        return 0;
    }

    socklen_t systemLength = static_cast<socklen_t>(*length);
    if (::getsockopt(s, level, name, value, &systemLength) != 0)
        return FailWithErrno(errno, record.kind);
    *length = static_cast<int>(systemLength);
    return 0;
}

namespace {

int NameQuery(SOCKET s, sockaddr* name, int* nameLength, int (*query)(int, sockaddr*, socklen_t*))
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    if (!name || !nameLength || *nameLength < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (query(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return FailWithErrno(errno, record.kind);
    const int copied = std::min<int>(*nameLength, static_cast<int>(length));
    std::memcpy(name, &address, static_cast<std::size_t>(copied));
    *nameLength = copied;
    return 0;
}

} // namespace

int getsockname(SOCKET s, sockaddr* name, int* nameLength)
{
    return NameQuery(s, name, nameLength, &::getsockname);
}

int getpeername(SOCKET s, sockaddr* name, int* nameLength)
{
    return NameQuery(s, name, nameLength, &::getpeername);
}

} // namespace platform
