// The socket layer on loopback: select with Windows' meaning for a
// non-blocking connect, blocking modes and time-outs in milliseconds, data
// transfer as Winsock reports it.

#include "platform/Sockets.h"
#include "platform/support/SocketTestHelpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace {

timeval Milliseconds(long ms)
{
    return timeval{ms / 1000, (ms % 1000) * 1000};
}

// Starts a non-blocking connect to a loopback port; the layer must answer
// 10035 (in progress), as Winsock does.
CSocketGuard StartConnect(std::uint16_t port)
{
    CSocketGuard s(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    platform::u_long on = 1;
    EXPECT_EQ(platform::ioctlsocket(s, FIONBIO, &on), 0);
    const sockaddr_in peer = Loopback(port);
    EXPECT_EQ(platform::connect(s, AsSockaddr(peer), sizeof peer), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10035);
    return s;
}

int SoError(platform::SOCKET s)
{
    int error = -1;
    int length = sizeof error;
    EXPECT_EQ(
        platform::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length), 0);
    return error;
}

} // namespace

TEST(SelectOnConnect, RefusedConnectShowsInExceptSetWith10061AndNeverAsWritable)
{
    CSocketGuard s = StartConnect(ClosedTcpPort());

    platform::SocketSet writable, failed;
    platform::SocketSetAdd(s, &writable);
    platform::SocketSetAdd(s, &failed);
    const timeval wait = Milliseconds(2000);
    EXPECT_EQ(platform::select(0, nullptr, &writable, &failed, &wait), 1);
    EXPECT_FALSE(platform::SocketSetIsSet(s, &writable));
    EXPECT_TRUE(platform::SocketSetIsSet(s, &failed));
    EXPECT_EQ(platform::WSAGetLastError(), 10061);

    // SO_ERROR tells the same failure once, as Winsock does.
    EXPECT_EQ(SoError(s), 10061);
    EXPECT_EQ(SoError(s), 0);

    // The failure stays: a second select reports it again.
    platform::SocketSetZero(&writable);
    platform::SocketSetZero(&failed);
    platform::SocketSetAdd(s, &writable);
    platform::SocketSetAdd(s, &failed);
    const timeval poll = Milliseconds(0);
    EXPECT_EQ(platform::select(0, nullptr, &writable, &failed, &poll), 1);
    EXPECT_FALSE(platform::SocketSetIsSet(s, &writable));
    EXPECT_TRUE(platform::SocketSetIsSet(s, &failed));
    EXPECT_EQ(platform::WSAGetLastError(), 10061);
}

TEST(SelectOnConnect, SuccessfulConnectIsWritableAndNotExceptional)
{
    CSocketGuard listener = ListeningTcp();
    CSocketGuard s = StartConnect(LocalPort(listener));

    platform::SocketSet writable, failed;
    platform::SocketSetAdd(s, &writable);
    platform::SocketSetAdd(s, &failed);
    const timeval wait = Milliseconds(2000);
    EXPECT_EQ(platform::select(0, nullptr, &writable, &failed, &wait), 1);
    EXPECT_TRUE(platform::SocketSetIsSet(s, &writable));
    EXPECT_FALSE(platform::SocketSetIsSet(s, &failed));
    EXPECT_EQ(platform::WSAGetLastError(), 0);
    EXPECT_EQ(SoError(s), 0);

    // Back to blocking mode, as the TCP client does after connecting.
    platform::u_long off = 0;
    EXPECT_EQ(platform::ioctlsocket(s, FIONBIO, &off), 0);
    const char probe[10] = {};
    EXPECT_EQ(platform::send(s, probe, sizeof probe, 0), 10);
}

TEST(SelectOnConnect, ConnectWatchedOnlyForReadingStillSeesItsData)
{
    CSocketGuard listener = ListeningTcp();
    CSocketGuard s = StartConnect(LocalPort(listener));
    CSocketGuard accepted(platform::accept(listener, nullptr, nullptr));
    ASSERT_NE(accepted.Get(), platform::INVALID_SOCKET);
    std::thread later([&accepted] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        platform::send(accepted, "x", 1, 0);
    });
    platform::SocketSet readable;
    platform::SocketSetAdd(s, &readable);
    const timeval wait = Milliseconds(3000);
    EXPECT_EQ(platform::select(0, &readable, nullptr, nullptr, &wait), 1);
    later.join();
    EXPECT_TRUE(platform::SocketSetIsSet(s, &readable));
}

TEST(SelectBasics, TimeOutEmptiesTheSetsAndLeavesNoError)
{
    CSocketGuard s = BoundUdp();
    platform::SocketSet readable;
    platform::SocketSetAdd(s, &readable);
    platform::WSASetLastError(10035);
    const timeval wait = Milliseconds(50);
    const auto start = Clock::now();
    EXPECT_EQ(platform::select(0, &readable, nullptr, nullptr, &wait), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(45));
    EXPECT_EQ(readable.fd_count, 0u);
    EXPECT_EQ(platform::WSAGetLastError(), 0);
}

TEST(SelectBasics, ReadSetReportsDataAndPendingConnections)
{
    CSocketGuard receiver = BoundUdp();
    CSocketGuard sender = BoundUdp();
    CSocketGuard idle = BoundUdp();
    const sockaddr_in to = Loopback(LocalPort(receiver));
    ASSERT_EQ(platform::sendto(sender, "ping", 4, 0, AsSockaddr(to), sizeof to), 4);

    CSocketGuard listener = ListeningTcp();
    CSocketGuard client = ConnectedTcp(LocalPort(listener));

    platform::SocketSet readable;
    for (platform::SOCKET s : {receiver.Get(), idle.Get(), listener.Get()})
        platform::SocketSetAdd(s, &readable);
    const timeval wait = Milliseconds(2000);
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    int ready = 0;
    platform::SocketSet result;
    // Both conditions arrive quickly on loopback; poll until both are seen.
    do {
        result = readable;
        ready = platform::select(0, &result, nullptr, nullptr, &wait);
    } while (ready == 1 && Clock::now() < deadline);
    EXPECT_EQ(ready, 2);
    EXPECT_TRUE(platform::SocketSetIsSet(receiver, &result));
    EXPECT_TRUE(platform::SocketSetIsSet(listener, &result));
    EXPECT_FALSE(platform::SocketSetIsSet(idle, &result));
}

TEST(SelectBasics, RefusesEmptySetsAndUnknownSockets)
{
    platform::SocketSet empty;
    const timeval wait = Milliseconds(0);
    EXPECT_EQ(platform::select(0, &empty, &empty, nullptr, &wait), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10022);

    platform::SocketSet unknown;
    platform::SocketSetAdd(987654, &unknown);
    EXPECT_EQ(platform::select(0, &unknown, nullptr, nullptr, &wait), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10038);
}

TEST(SocketSets, HoldEachSocketOnceUpToTheirSize)
{
    platform::SocketSet set;
    EXPECT_TRUE(platform::SocketSetAdd(5000, &set)); // beyond POSIX FD_SETSIZE
    EXPECT_TRUE(platform::SocketSetAdd(5000, &set));
    EXPECT_EQ(set.fd_count, 1u);
    EXPECT_TRUE(platform::SocketSetIsSet(5000, &set));
    platform::SocketSetRemove(5000, &set);
    EXPECT_FALSE(platform::SocketSetIsSet(5000, &set));
    for (unsigned i = 0; i < platform::SOCKET_SET_SIZE; ++i)
        EXPECT_TRUE(platform::SocketSetAdd(static_cast<platform::SOCKET>(i), &set));
    EXPECT_FALSE(platform::SocketSetAdd(99999, &set));
}

TEST(ReceiveTimeOut, BlockingReceiveThatWaitsTooLongFailsWith10060)
{
    CSocketGuard datagram = BoundUdp();
    ASSERT_EQ(SetTimeout(datagram, SO_RCVTIMEO, 100), 0);
    char buffer[16];
    auto start = Clock::now();
    EXPECT_EQ(platform::recvfrom(datagram, buffer, sizeof buffer, 0, nullptr, nullptr),
              platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10060);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));

    CSocketGuard listener = ListeningTcp();
    CSocketGuard client = ConnectedTcp(LocalPort(listener));
    CSocketGuard accepted(platform::accept(listener, nullptr, nullptr));
    ASSERT_EQ(SetTimeout(client, SO_RCVTIMEO, 100), 0);
    start = Clock::now();
    EXPECT_EQ(platform::recv(client, buffer, sizeof buffer, 0), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10060);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
}

TEST(ReceiveTimeOut, NonBlockingReceiveWithNothingWaitingFailsWith10035)
{
    CSocketGuard datagram = BoundUdp();
    ASSERT_EQ(SetTimeout(datagram, SO_RCVTIMEO, 100), 0);
    platform::u_long on = 1;
    ASSERT_EQ(platform::ioctlsocket(datagram, FIONBIO, &on), 0);
    char buffer[16];
    EXPECT_EQ(platform::recv(datagram, buffer, sizeof buffer, 0), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10035);
}

TEST(SocketOptions, TimeOutsAreMillisecondsAndTtlIsAnInt)
{
    CSocketGuard s = BoundUdp();
    ASSERT_EQ(SetTimeout(s, SO_RCVTIMEO, 1234), 0);
    ASSERT_EQ(SetTimeout(s, SO_SNDTIMEO, 200), 0);
    platform::DWORD value = 0;
    int length = sizeof value;
    ASSERT_EQ(
        platform::getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&value), &length),
        0);
    EXPECT_EQ(value, 1234u);
    ASSERT_EQ(
        platform::getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&value), &length),
        0);
    EXPECT_EQ(value, 200u);

    const int ttl = 7;
    ASSERT_EQ(platform::setsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&ttl),
                                   sizeof ttl),
              0);
    int readBack = 0;
    length = sizeof readBack;
    ASSERT_EQ(
        platform::getsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<char*>(&readBack), &length),
        0);
    EXPECT_EQ(readBack, 7);

    // A too-short value is refused, as Winsock does.
    const char shortValue = 1;
    EXPECT_EQ(platform::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &shortValue, 1),
              platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10014);
}

TEST(SocketModes, BlockingModeSwitchesBothWaysAndFionreadCountsWaitingBytes)
{
    CSocketGuard receiver = BoundUdp();
    CSocketGuard sender = BoundUdp();
    platform::u_long on = 1, off = 0;
    ASSERT_EQ(platform::ioctlsocket(receiver, FIONBIO, &on), 0);
    char buffer[32];
    EXPECT_EQ(platform::recv(receiver, buffer, sizeof buffer, 0), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10035);

    const sockaddr_in to = Loopback(LocalPort(receiver));
    ASSERT_EQ(platform::sendto(sender, "abcdef", 6, 0, AsSockaddr(to), sizeof to), 6);
    ASSERT_EQ(platform::ioctlsocket(receiver, FIONBIO, &off), 0);
    ASSERT_EQ(SetTimeout(receiver, SO_RCVTIMEO, 2000), 0);
    char peekByte;
    EXPECT_EQ(platform::recv(receiver, &peekByte, 1, MSG_PEEK), platform::SOCKET_ERROR)
        << "a datagram larger than the buffer is 10040 even when peeking";
    EXPECT_EQ(platform::WSAGetLastError(), 10040);
    platform::u_long waiting = 0;
    ASSERT_EQ(platform::ioctlsocket(receiver, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 6u);
    EXPECT_EQ(platform::ioctlsocket(receiver, 0x1234, &waiting), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10022);
}

TEST(DatagramTransfer, DatagramTooLongForTheBufferFillsItAndFailsWith10040)
{
    CSocketGuard receiver = BoundUdp();
    CSocketGuard sender = BoundUdp();
    const sockaddr_in to = Loopback(LocalPort(receiver));
    ASSERT_EQ(platform::sendto(sender, "0123456789", 10, 0, AsSockaddr(to), sizeof to), 10);
    ASSERT_EQ(SetTimeout(receiver, SO_RCVTIMEO, 2000), 0);

    char buffer[4] = {};
    sockaddr_in from{};
    int fromLength = sizeof from;
    EXPECT_EQ(platform::recvfrom(receiver, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength),
              platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10040);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(ntohs(from.sin_port), LocalPort(sender));

    // The rest of that datagram is gone; the next one arrives whole.
    ASSERT_EQ(platform::sendto(sender, "ab", 2, 0, AsSockaddr(to), sizeof to), 2);
    EXPECT_EQ(platform::recvfrom(receiver, buffer, sizeof buffer, 0, nullptr, nullptr), 2);
    EXPECT_EQ(std::string(buffer, 2), "ab");
}

TEST(DatagramTransfer, SenderAddressNeedsRoomForAnIpv4Address)
{
    CSocketGuard receiver = BoundUdp();
    char buffer[4];
    sockaddr_in from{};
    int tooShort = 8;
    EXPECT_EQ(platform::recvfrom(receiver, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &tooShort),
              platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10014);
}

TEST(StreamTransfer, SendToAClosedConnectionFailsWithoutSigpipe)
{
    // SIGPIPE's default action would end this test process.
    auto previous = std::signal(SIGPIPE, SIG_DFL);
    {
        CSocketGuard listener = ListeningTcp();
        CSocketGuard client = ConnectedTcp(LocalPort(listener));
        CSocketGuard accepted(platform::accept(listener, nullptr, nullptr));
        ASSERT_NE(accepted.Get(), platform::INVALID_SOCKET);
        const linger abort{1, 0}; // close with a reset
        ASSERT_EQ(platform::setsockopt(accepted, SOL_SOCKET, SO_LINGER,
                                       reinterpret_cast<const char*>(&abort), sizeof abort),
                  0);
        accepted.Reset();

        int result = 0;
        for (int attempt = 0; attempt < 50 && result != platform::SOCKET_ERROR; ++attempt) {
            result = platform::send(client, "data", 4, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(result, platform::SOCKET_ERROR);
        const int error = platform::WSAGetLastError();
        EXPECT_TRUE(error == 10054 || error == 10053) << error;
    }
    std::signal(SIGPIPE, previous);
}

TEST(StreamTransfer, AcceptedSocketKeepsTimeOutsAndReportsItsAddresses)
{
    CSocketGuard listener = ListeningTcp();
    ASSERT_EQ(SetTimeout(listener, SO_RCVTIMEO, 150), 0);
    CSocketGuard client = ConnectedTcp(LocalPort(listener));

    sockaddr_in peer{};
    int peerLength = sizeof peer;
    CSocketGuard accepted(
        platform::WSAAccept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength, nullptr, 0));
    ASSERT_NE(accepted.Get(), platform::INVALID_SOCKET);
    EXPECT_EQ(peerLength, static_cast<int>(sizeof(sockaddr_in)));
    EXPECT_EQ(ntohs(peer.sin_port), LocalPort(client));

    sockaddr_in local{};
    int localLength = sizeof local;
    ASSERT_EQ(platform::getsockname(accepted, reinterpret_cast<sockaddr*>(&local), &localLength),
              0);
    EXPECT_EQ(ntohl(local.sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(ntohs(local.sin_port), LocalPort(listener));

    char buffer[4];
    const auto start = Clock::now();
    EXPECT_EQ(platform::recv(accepted, buffer, sizeof buffer, 0), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10060);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));

    // Echo round trip, as the TCP server and client do it.
    ASSERT_EQ(platform::send(client, "0123456789", 10, 0), 10);
    char echo[2048];
    const int got = platform::recv(accepted, echo, sizeof echo, 0);
    ASSERT_EQ(got, 10);
    EXPECT_EQ(platform::send(accepted, echo, got, 0), 10);
    ASSERT_EQ(SetTimeout(client, SO_RCVTIMEO, 2000), 0);
    EXPECT_EQ(platform::recv(client, buffer, 4, 0), 4);
}

TEST(StreamTransfer, PeerCloseReadsAsZeroBytes)
{
    CSocketGuard listener = ListeningTcp();
    CSocketGuard client = ConnectedTcp(LocalPort(listener));
    CSocketGuard accepted(platform::accept(listener, nullptr, nullptr));
    client.Reset();
    char buffer[8];
    ASSERT_EQ(SetTimeout(accepted, SO_RCVTIMEO, 2000), 0);
    EXPECT_EQ(platform::recv(accepted, buffer, sizeof buffer, 0), 0);
}

TEST(DescriptorLimits, StartUpRaisesTheSoftLimitToTheHardOne)
{
    const rlim_t hard = CDescriptorLimit::Highest();
    if (hard == RLIM_INFINITY || hard > static_cast<rlim_t>(INT_MAX) || hard < 64)
        GTEST_SKIP() << "the hard descriptor limit (" << hard << ") is not a number to test with";
    CDescriptorLimit lowered(32);
    ASSERT_TRUE(lowered.Set());
    ASSERT_EQ(platform::DescriptorLimit(), 32);
    EXPECT_EQ(platform::RaiseDescriptorLimit(), static_cast<int>(hard));
    EXPECT_EQ(platform::DescriptorLimit(), static_cast<int>(hard));
    // Already there: nothing changes.
    EXPECT_EQ(platform::RaiseDescriptorLimit(), static_cast<int>(hard));
}
