#pragma once

// The program speaks Winsock's error numbers everywhere: in its decisions, in
// events and in logs. This is the one place where the system's errno values are
// turned into that numbering.
//
// Threads: any. The last error is the calling thread's own, as in Winsock.

namespace platform {

enum WsaError : int
{
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
};

// What a socket call failed on, where the same errno means different things.
enum class SocketKind
{
    Stream,
    Datagram,
    Raw,
};

// errno -> Winsock number. ECONNREFUSED is 10061 on a stream socket and 10054 on
// a datagram or raw socket (an unreachable answer). An errno without a Winsock
// twin passes through unchanged; it is below 10000, so it cannot collide.
int WsaFromErrno(int error, SocketKind kind = SocketKind::Stream);

// The mapped last error of the calling thread, as the socket layer left it.
int WSAGetLastError();
void WSASetLastError(int error);
// Maps errno and stores it as the calling thread's last error; returns it.
int SetLastErrorFromErrno(int error, SocketKind kind = SocketKind::Stream);

} // namespace platform
