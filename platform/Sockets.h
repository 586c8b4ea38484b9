#pragma once

// The socket layer: Winsock 2's calling convention and numbering over POSIX
// sockets, so that the engine reads as if it were written for Winsock.
//
// Calling convention
// - A failing call returns SOCKET_ERROR (or INVALID_SOCKET) and leaves the error,
//   in Winsock's numbering (platform/SocketErrors.h), as the calling thread's last
//   error: WSAGetLastError(). Nothing here throws.
// - Only sockets made by this layer are sockets here; any other descriptor gives
//   10038 (WSAENOTSOCK). The layer remembers each socket's kind (stream, datagram,
//   raw), its blocking mode, its time-outs and its connect state.
// - Call these functions qualified (platform::bind, platform::send ...): several
//   share their name with the POSIX functions, and a using-directive would make an
//   unqualified call ambiguous.
// - Addresses are IPv4 only (AF_INET, sockaddr_in as is).
//
// Behaviour taken over from Windows
// - send never raises SIGPIPE.
// - Datagram and raw sockets report an ICMP answer to an earlier datagram on the
//   next receive: port or protocol unreachable 10054, time-to-live exceeded 10052,
//   any other unreachable 10065. One queued answer per receive call.
// - A datagram that does not fit the receive buffer fills it and fails with 10040.
// - A blocking receive or send whose time-out (SO_RCVTIMEO/SO_SNDTIMEO, in
//   milliseconds) expires fails with 10060; a non-blocking one that would wait
//   fails with 10035.
// - select: a non-blocking connect that failed shows in the except set (never as
//   writable) and its error becomes the last error and the socket's SO_ERROR; a
//   connect that succeeded shows as writable.
// - Raw sockets: protocol numbers outside 1..254 are refused with 10043; a raw
//   socket refused for lack of rights (root or CAP_NET_RAW) is asked of the
//   installed helper (platform/CRawSocketHelper.h) and, when that cannot open it
//   either, fails with 10013.
//
// Threads: every function may be called from any thread. One socket may be used
// by several threads at once (a send on a pool thread while the GUI thread
// receives), as Winsock allows; closing a socket that another thread is still
// using is the caller's fault, as on Windows.

#include "platform/SocketErrors.h"

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace platform {

using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using u_long = unsigned long;
using GROUP = unsigned int;

constexpr WORD MAKEWORD(unsigned low, unsigned high)
{
    return static_cast<WORD>((low & 0xFF) | ((high & 0xFF) << 8));
}

struct WSADATA
{
    WORD wVersion = 0;
    WORD wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
};

// Always succeeds (returns 0) and reports version 2.2; the failure path of the
// callers is kept but never taken. Both may be called any number of times.
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();

// ---------------------------------------------------------------------------
// Network events of asynchronous selection (loop/AsyncSelect.h) and the layout
// of a notification's lParam: event in the low 16 bits, error in the high 16.

inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

constexpr unsigned WSAGETSELECTEVENT(std::intptr_t lParam)
{
    return static_cast<unsigned>(lParam) & 0xFFFF;
}
constexpr unsigned WSAGETSELECTERROR(std::intptr_t lParam)
{
    return (static_cast<unsigned>(lParam) >> 16) & 0xFFFF;
}
constexpr std::intptr_t WSAMAKESELECTREPLY(unsigned event, unsigned error)
{
    return static_cast<std::intptr_t>((event & 0xFFFF) | ((error & 0xFFFF) << 16));
}

// ---------------------------------------------------------------------------
// Socket sets for select, as Winsock has them: a counted list of sockets rather
// than a bit mask, so descriptor numbers above 1023 are fine. (The POSIX fd_set
// and its FD_SET macros are a different thing and must not be mixed in.)

inline constexpr unsigned SOCKET_SET_SIZE = 64;

struct SocketSet
{
    unsigned fd_count = 0;
    SOCKET fd_array[SOCKET_SET_SIZE] = {};
};

void SocketSetZero(SocketSet* set);
// Adds a socket once; false when the set is full.
bool SocketSetAdd(SOCKET s, SocketSet* set);
void SocketSetRemove(SOCKET s, SocketSet* set);
bool SocketSetIsSet(SOCKET s, const SocketSet* set);

// ---------------------------------------------------------------------------
// Creation and life cycle.

// type: SOCK_STREAM, SOCK_DGRAM or SOCK_RAW (protocol 1..254). Sockets are
// blocking until ioctlsocket(FIONBIO) or asynchronous selection says otherwise.
SOCKET socket(int af, int type, int protocol);

// The extended creation call. Kanaliko passes no protocol information and no
// group; WSA_FLAG_OVERLAPPED is accepted and means nothing here. Anything else
// fails with 10022.
struct WSAPROTOCOL_INFOW;
inline constexpr DWORD WSA_FLAG_OVERLAPPED = 0x01;
SOCKET WSASocket(int af, int type, int protocol, WSAPROTOCOL_INFOW* protocolInfo, GROUP group,
                 DWORD flags);

// How many descriptors the process may have open (its soft limit); each socket
// takes one. The largest int when there is no limit.
int DescriptorLimit();

// Raises the soft descriptor limit to the hard one, as both programs do at
// start-up: a scheme takes three descriptors per TCP port (listening, probing,
// accepted). Returns the soft limit in force afterwards (DescriptorLimit()).
int RaiseDescriptorLimit();

// Removes the socket's asynchronous watch first (so a descriptor number that is
// reused later never receives a stale notification), then closes it.
int closesocket(SOCKET s);

// A stream socket binds a port whose earlier connections still wait out
// TIME_WAIT, as on Windows; a port another socket listens on stays busy (10048).
int bind(SOCKET s, const sockaddr* name, int nameLength);
// Any backlog is accepted; the system clamps it to its own maximum (SOMAXCONN).
int listen(SOCKET s, int backlog);

// The accepted socket is of the listening socket's kind and keeps its time-outs.
// A socket accepted from a watched listening socket is non-blocking and watched
// with the listening socket's window, message and events from the moment it
// exists. Calling accept re-enables the accept notification, except after a
// failure for want of descriptors or memory (10024, 10055): the connection is
// still waiting then, so the notification would come again at once and for
// ever; it comes again after a pause, or as soon as a watched socket closes.
SOCKET accept(SOCKET s, sockaddr* address, int* addressLength);
// The extended form without a condition function (Kanaliko never uses one).
SOCKET WSAAccept(SOCKET s, sockaddr* address, int* addressLength,
                 std::nullptr_t condition = nullptr, std::uintptr_t callbackData = 0);

// Blocking: waits for the outcome (10061 refused, 10060 timed out ...).
// Non-blocking: fails with 10035 while the connection is being made; select
// tells how it ended.
int connect(SOCKET s, const sockaddr* name, int nameLength);

inline constexpr int SD_RECEIVE = SHUT_RD;
inline constexpr int SD_SEND = SHUT_WR;
inline constexpr int SD_BOTH = SHUT_RDWR;
int shutdown(SOCKET s, int how);

// ---------------------------------------------------------------------------
// Data. Lengths are ints as in Winsock; flags are MSG_PEEK and MSG_OOB.
// recv and recvfrom re-enable the read notification of a watched socket
// whatever their outcome.

int send(SOCKET s, const char* buffer, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength);
// from may be null; otherwise *fromLength must be at least sizeof(sockaddr_in).
int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength);

// ---------------------------------------------------------------------------
// Modes and options.

// FIONBIO: *argument != 0 switches to non-blocking mode, 0 back to blocking
// (refused with 10022 while the socket is asynchronously selected, as Winsock
// does). FIONREAD: bytes waiting (for a datagram socket: the next datagram).
int ioctlsocket(SOCKET s, long command, u_long* argument);

// Winsock's option values:
// - SOL_SOCKET SO_RCVTIMEO / SO_SNDTIMEO: a DWORD of milliseconds, 0 = no limit;
// - SOL_SOCKET SO_ERROR (get only): the pending error in Winsock numbering, read
//   once; on datagram and raw sockets always 0, since a pending ICMP answer
//   belongs to the next receive;
// - IPPROTO_IP IP_TTL: an int;
// - other options are passed to the system unchanged.
int setsockopt(SOCKET s, int level, int name, const char* value, int length);
int getsockopt(SOCKET s, int level, int name, char* value, int* length);

int getsockname(SOCKET s, sockaddr* name, int* nameLength);
int getpeername(SOCKET s, sockaddr* name, int* nameLength);

// ---------------------------------------------------------------------------
// Readiness. The first argument is ignored, as in Winsock. A null set is not
// looked at; timeout null waits without limit, {0, 0} polls. Returns the number
// of sockets left in the three sets together, 0 on time-out (each set then
// empty), SOCKET_ERROR on failure (10022 when no set holds a socket, 10038 for
// an unknown socket). On success the last error is left at 0, or at the error of
// a failed connect that the except set reports.
// - read: data, a pending connection, a closed or reset connection, a pending
//   ICMP answer on a datagram or raw socket;
// - write: a connected stream socket (its connect finished successfully) or a
//   datagram/raw socket with room to send;
// - except: a non-blocking connect that failed; out-of-band data.
int select(int ignored, SocketSet* readSet, SocketSet* writeSet, SocketSet* exceptSet,
           const timeval* timeout);

} // namespace platform
