// The program speaks Winsock's error numbers: the errno mapping itself, and the
// codes real failing socket calls leave behind.

#include "platform/SocketErrors.h"
#include "platform/Sockets.h"
#include "platform/support/SocketTestHelpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

using namespace testsupport;

namespace {

struct ErrnoCase
{
    int error;
    int winsock;
    const char* name;
};

// Winsock's published numbers for the errno values the program can meet.
const ErrnoCase kMapping[] = {
    {EINTR, 10004, "EINTR"},
    {EBADF, 10009, "EBADF"},
    {EACCES, 10013, "EACCES"},
    {EPERM, 10013, "EPERM"},
    {EFAULT, 10014, "EFAULT"},
    {EINVAL, 10022, "EINVAL"},
    {EMFILE, 10024, "EMFILE"},
    {EAGAIN, 10035, "EAGAIN"},
    {EWOULDBLOCK, 10035, "EWOULDBLOCK"},
    {EINPROGRESS, 10035, "EINPROGRESS"},
    {EALREADY, 10035, "EALREADY"},
    {ENOTSOCK, 10038, "ENOTSOCK"},
    {EDESTADDRREQ, 10039, "EDESTADDRREQ"},
    {EMSGSIZE, 10040, "EMSGSIZE"},
    {EPROTOTYPE, 10041, "EPROTOTYPE"},
    {ENOPROTOOPT, 10042, "ENOPROTOOPT"},
    {EPROTONOSUPPORT, 10043, "EPROTONOSUPPORT"},
    {ESOCKTNOSUPPORT, 10044, "ESOCKTNOSUPPORT"},
    {EOPNOTSUPP, 10045, "EOPNOTSUPP"},
    {EAFNOSUPPORT, 10047, "EAFNOSUPPORT"},
    {EADDRINUSE, 10048, "EADDRINUSE"},
    {EADDRNOTAVAIL, 10049, "EADDRNOTAVAIL"},
    {ENETDOWN, 10050, "ENETDOWN"},
    {ENETUNREACH, 10051, "ENETUNREACH"},
    {ENETRESET, 10052, "ENETRESET"},
    {ECONNABORTED, 10053, "ECONNABORTED"},
    {ECONNRESET, 10054, "ECONNRESET"},
    {ENOBUFS, 10055, "ENOBUFS"},
    {EISCONN, 10056, "EISCONN"},
    {ENOTCONN, 10057, "ENOTCONN"},
    {ESHUTDOWN, 10058, "ESHUTDOWN"},
    {ETIMEDOUT, 10060, "ETIMEDOUT"},
    {EHOSTDOWN, 10064, "EHOSTDOWN"},
    {EHOSTUNREACH, 10065, "EHOSTUNREACH"},
};

} // namespace

TEST(WinsockNumbering, ErrnoValuesBecomeWinsockCodes)
{
    for (const ErrnoCase& c : kMapping)
        EXPECT_EQ(platform::WsaFromErrno(c.error), c.winsock) << c.name;
}

TEST(WinsockNumbering, RefusedMeansRefusedOnStreamAndResetOnDatagramOrRaw)
{
    EXPECT_EQ(platform::WsaFromErrno(ECONNREFUSED, platform::SocketKind::Stream), 10061);
    EXPECT_EQ(platform::WsaFromErrno(ECONNREFUSED, platform::SocketKind::Datagram), 10054);
    EXPECT_EQ(platform::WsaFromErrno(ECONNREFUSED, platform::SocketKind::Raw), 10054);
}

TEST(WinsockNumbering, ErrnoWithoutWinsockTwinPassesThroughBelow10000)
{
    for (int error : {ENOENT, EPROTO, ENOSPC, EIO}) {
        EXPECT_EQ(platform::WsaFromErrno(error), error);
        EXPECT_LT(platform::WsaFromErrno(error), 10000);
    }
    EXPECT_EQ(platform::WsaFromErrno(0), 0);
}

TEST(WinsockNumbering, LastErrorBelongsToTheCallingThread)
{
    platform::WSASetLastError(10048);
    int seenByOther = -1;
    std::thread other([&seenByOther] {
        platform::WSASetLastError(10061);
        seenByOther = platform::WSAGetLastError();
    });
    other.join();
    EXPECT_EQ(seenByOther, 10061);
    EXPECT_EQ(platform::WSAGetLastError(), 10048);
}

TEST(SocketCallFailures, LeaveWinsockCodesAsLastError)
{
    // A port that is taken: 10048, the code behind "Порт занят".
    CSocketGuard first = BoundUdp();
    const sockaddr_in taken = Loopback(LocalPort(first));
    CSocketGuard second(platform::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    EXPECT_EQ(platform::bind(second, AsSockaddr(taken), sizeof taken), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10048);

    // An address that is not this host's: 10049.
    const sockaddr_in foreign = Ipv4Address("198.18.255.1", 0);
    EXPECT_EQ(platform::bind(second, AsSockaddr(foreign), sizeof foreign), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10049);

    // A blocking connect to a port nobody listens on: 10061.
    CSocketGuard stream(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in closed = Loopback(ClosedTcpPort());
    EXPECT_EQ(platform::connect(stream, AsSockaddr(closed), sizeof closed), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10061);

    // listen on a datagram socket: 10045.
    EXPECT_EQ(platform::listen(second, SOMAXCONN), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10045);
}

TEST(SocketCallFailures, UnknownOrClosedSocketsAre10038)
{
    EXPECT_EQ(platform::closesocket(123456), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10038);

    const platform::SOCKET s = platform::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(s, platform::INVALID_SOCKET);
    EXPECT_EQ(platform::closesocket(s), 0);
    char byte = 0;
    EXPECT_EQ(platform::send(s, &byte, 1, 0), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10038);
    EXPECT_EQ(platform::closesocket(s), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10038);
    // A descriptor the layer did not make is not a socket to it either.
    EXPECT_EQ(platform::recv(0, &byte, 1, 0), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10038);
}

TEST(SocketCallFailures, CreationArgumentsOutsideWhatTheProgramUses)
{
    EXPECT_EQ(platform::socket(AF_INET6, SOCK_STREAM, 0), platform::INVALID_SOCKET);
    EXPECT_EQ(platform::WSAGetLastError(), 10047);
    EXPECT_EQ(platform::socket(AF_INET, SOCK_SEQPACKET, 0), platform::INVALID_SOCKET);
    EXPECT_EQ(platform::WSAGetLastError(), 10044);
    EXPECT_EQ(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_UDP), platform::INVALID_SOCKET);
    EXPECT_EQ(platform::WSAGetLastError(), 10043);
    EXPECT_EQ(platform::WSASocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0x80),
              platform::INVALID_SOCKET);
    EXPECT_EQ(platform::WSAGetLastError(), 10022);

    CSocketGuard extended(platform::WSASocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                              platform::WSA_FLAG_OVERLAPPED));
    EXPECT_NE(extended.Get(), platform::INVALID_SOCKET);
}

TEST(SocketCallFailures, StartupAlwaysSucceedsWithVersion22)
{
    platform::WSADATA data;
    EXPECT_EQ(platform::WSAStartup(platform::MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, platform::MAKEWORD(2, 2));
    EXPECT_EQ(platform::WSAStartup(platform::MAKEWORD(1, 1), nullptr), 0);
    EXPECT_EQ(platform::WSACleanup(), 0);
    EXPECT_EQ(platform::WSACleanup(), 0);
}
