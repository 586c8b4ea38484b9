// ICMP answers on datagram and raw sockets, reported as Winsock reports them on
// the next receive, and the rules for raw sockets (protocol range, rights).

#include "platform/Sockets.h"
#include "platform/support/SocketTestHelpers.h"
#include "support/NetNamespaces.h"

#include <gtest/gtest.h>

#include <chrono>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace {

// Waits (bounded) until the socket has something for the next receive: data or
// a pending ICMP answer.
bool WaitReadable(platform::SOCKET s, long ms)
{
    platform::SocketSet readable;
    platform::SocketSetAdd(s, &readable);
    const timeval wait{ms / 1000, (ms % 1000) * 1000};
    return platform::select(0, &readable, nullptr, nullptr, &wait) == 1;
}

int ReceiveError(platform::SOCKET s)
{
    char buffer[2048];
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int result = platform::recvfrom(s, buffer, sizeof buffer, 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
    return result == platform::SOCKET_ERROR ? platform::WSAGetLastError() : 0;
}

void SendTo(platform::SOCKET s, const sockaddr_in& to)
{
    const char probe[10] = "tessarium";
    ASSERT_EQ(platform::sendto(s, probe, sizeof probe, 0, AsSockaddr(to), sizeof to), 10);
}

// Drops CAP_NET_RAW from the calling thread's effective set (capabilities are
// per thread on Linux). False when that is not possible.
bool DropRawCapabilityOfThisThread()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace

// ---------------------------------------------------------------------------
// Port unreachable on loopback

TEST(DatagramIcmp, PortUnreachableIsReportedOnceByTheNextReceiveAs10054)
{
    CSocketGuard s = BoundUdp();
    platform::u_long on = 1;
    ASSERT_EQ(platform::ioctlsocket(s, FIONBIO, &on), 0);
    SendTo(s, Loopback(ClosedUdpPort()));
    ASSERT_TRUE(WaitReadable(s, 2000)) << "no ICMP answer from loopback";

    EXPECT_EQ(ReceiveError(s), 10054);
    EXPECT_EQ(ReceiveError(s), 10035) << "the same answer must not be reported twice";

    // The socket goes on receiving normally.
    CSocketGuard peer = BoundUdp();
    SendTo(peer, Loopback(LocalPort(s)));
    ASSERT_TRUE(WaitReadable(s, 2000));
    EXPECT_EQ(ReceiveError(s), 0);
}

TEST(DatagramIcmp, SendsGoOnAfterAnAnswerAndEachAnswerHasItsOwnReceive)
{
    // The system would fail the send after an answer with that answer; Winsock
    // sends, and each answer waits for a receive of its own.
    CSocketGuard s = BoundUdp();
    platform::u_long on = 1;
    ASSERT_EQ(platform::ioctlsocket(s, FIONBIO, &on), 0);
    for (int i = 0; i < 3; ++i)
        SendTo(s, Loopback(ClosedUdpPort()));
    // Each answer is reported by a receive of its own; each is waited for, not
    // guessed to be there.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(WaitReadable(s, 3000)) << "answer " << i;
        EXPECT_EQ(ReceiveError(s), 10054) << "answer " << i;
    }
    EXPECT_EQ(ReceiveError(s), 10035);
}

TEST(DatagramIcmp, AnswerArrivingDuringABlockingReceiveIsReportedOnce)
{
    // The receive is already waiting when the answer comes: the system wakes it
    // with the socket's pending error while the answer is also queued. The
    // layer must report it from the queue so that the next receive does not
    // see it again.
    CSocketGuard s = BoundUdp();
    ASSERT_EQ(SetTimeout(s, SO_RCVTIMEO, 3000), 0);
    int firstError = -1;
    auto start = Clock::now();
    std::thread receiver([&] { firstError = ReceiveError(s); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SendTo(s, Loopback(ClosedUdpPort()));
    receiver.join();
    EXPECT_EQ(firstError, 10054);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));

    ASSERT_EQ(SetTimeout(s, SO_RCVTIMEO, 150), 0);
    EXPECT_EQ(ReceiveError(s), 10060);
}

TEST(DatagramIcmp, SoErrorOfADatagramSocketLeavesTheAnswerToTheReceive)
{
    CSocketGuard s = BoundUdp();
    SendTo(s, Loopback(ClosedUdpPort()));
    ASSERT_TRUE(WaitReadable(s, 2000));
    int error = -1;
    int length = sizeof error;
    ASSERT_EQ(
        platform::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length), 0);
    EXPECT_EQ(error, 0);
    ASSERT_EQ(SetTimeout(s, SO_RCVTIMEO, 500), 0);
    EXPECT_EQ(ReceiveError(s), 10054);
}

// ---------------------------------------------------------------------------
// Raw sockets

TEST(RawSockets, ProtocolNumbersOutside1To254AreRefusedWith10043)
{
    for (int protocol : {0, 255, 256, 262, -1}) {
        EXPECT_EQ(platform::socket(AF_INET, SOCK_RAW, protocol), platform::INVALID_SOCKET)
            << protocol;
        EXPECT_EQ(platform::WSAGetLastError(), 10043) << protocol;
        EXPECT_EQ(platform::WSASocket(AF_INET, SOCK_RAW, protocol, nullptr, 0, 0),
                  platform::INVALID_SOCKET);
        EXPECT_EQ(platform::WSAGetLastError(), 10043) << protocol;
    }
}

TEST(RawSockets, WithoutRawRightsCreationFailsWith10013)
{
    int error = 0;
    bool dropped = true;
    // A thread of its own: dropping the capability must not affect the rest of
    // the test process.
    std::thread unprivileged([&] {
        if (HasCapNetRaw())
            dropped = DropRawCapabilityOfThisThread();
        if (!dropped)
            return;
        const platform::SOCKET s = platform::socket(AF_INET, SOCK_RAW, 253);
        error = s == platform::INVALID_SOCKET ? platform::WSAGetLastError() : 0;
        if (s != platform::INVALID_SOCKET)
            platform::closesocket(s);
    });
    unprivileged.join();
    if (!dropped)
        GTEST_SKIP() << "cannot drop CAP_NET_RAW for a thread here";
    EXPECT_EQ(error, 10013);
}

TEST(RawSockets, RawSocketWithRightsIsMadeForValidProtocols)
{
    KANALIKO_SKIP_UNLESS_RAW();
    for (int protocol : {1, 253, 254}) {
        CSocketGuard s(platform::socket(AF_INET, SOCK_RAW, protocol));
        EXPECT_NE(s.Get(), platform::INVALID_SOCKET) << protocol;
    }
}

// ---------------------------------------------------------------------------
// Answers from other hosts (network namespaces)

TEST(RawSocketsBetweenHosts, ProtocolUnreachableFromThePeerIs10054)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    //   A 198.18.1.1 ---- B 198.18.1.2   (B serves no raw socket for protocol 253)
    TestNamespaces net;
    const std::string a = net.Add("a"), b = net.Add("b");
    net.Link(a, "198.18.1.1/24", b, "198.18.1.2/24");

    CSocketGuard s;
    {
        ScopedNetns in(a);
        s = CSocketGuard(platform::socket(AF_INET, SOCK_RAW, 253));
    }
    ASSERT_NE(s.Get(), platform::INVALID_SOCKET);
    ASSERT_EQ(SetTimeout(s, SO_RCVTIMEO, 3000), 0);
    SendTo(s, Ipv4Address("198.18.1.2", 0));
    EXPECT_EQ(ReceiveError(s), 10054);
    ASSERT_EQ(SetTimeout(s, SO_RCVTIMEO, 200), 0);
    EXPECT_EQ(ReceiveError(s), 10060) << "reported once";
}

TEST(DatagramIcmpBetweenHosts, TimeToLiveExpiryOnTheWayIs10052)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    //   A 198.18.2.2 ---- R 198.18.2.1 | 198.18.3.1 ---- B 198.18.3.2
    TestNamespaces net;
    const std::string a = net.Add("a"), r = net.Add("r"), b = net.Add("b");
    net.Link(a, "198.18.2.2/24", r, "198.18.2.1/24");
    net.Link(r, "198.18.3.1/24", b, "198.18.3.2/24");
    net.Forwarding(r);
    net.Route(a, "default", "198.18.2.1");
    net.Route(b, "default", "198.18.3.1");

    CSocketGuard s;
    {
        ScopedNetns in(a);
        s = CSocketGuard(platform::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    }
    ASSERT_NE(s.Get(), platform::INVALID_SOCKET);
    const int ttl = 1; // dies at R
    ASSERT_EQ(platform::setsockopt(s, IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&ttl),
                                   sizeof ttl),
              0);
    ASSERT_EQ(SetTimeout(s, SO_RCVTIMEO, 3000), 0);
    SendTo(s, Ipv4Address("198.18.3.2", 40000));
    EXPECT_EQ(ReceiveError(s), 10052);
}

TEST(DatagramIcmpBetweenHosts, HostUnreachableFromARouterIs10065)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    //   A 198.18.4.2 ---- R 198.18.4.1      R: 198.18.9.0/24 unreachable
    TestNamespaces net;
    const std::string a = net.Add("a"), r = net.Add("r");
    net.Link(a, "198.18.4.2/24", r, "198.18.4.1/24");
    net.Forwarding(r);
    net.Route(a, "default", "198.18.4.1");
    ASSERT_EQ(net.Exec(r, "ip route add unreachable 198.18.9.0/24"), 0);

    CSocketGuard s;
    {
        ScopedNetns in(a);
        s = CSocketGuard(platform::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    }
    ASSERT_NE(s.Get(), platform::INVALID_SOCKET);
    ASSERT_EQ(SetTimeout(s, SO_RCVTIMEO, 3000), 0);
    SendTo(s, Ipv4Address("198.18.9.9", 40000));
    EXPECT_EQ(ReceiveError(s), 10065);
}
