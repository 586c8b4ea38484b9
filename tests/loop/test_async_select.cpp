// Asynchronous socket selection on loopback: what is posted, when it is posted
// again (Winsock's re-enabling rule), sockets accepted from a watched listening
// socket, and closing without stale notifications.

#include "loop/AsyncSelect.h"
#include "loop/EventLoop.h"
#include "loop/support/LoopTestSupport.h"
#include "platform/Sockets.h"
#include "platform/support/SocketTestHelpers.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

constexpr loop::UINT kServerMessage = 0x800A; // as the TCP server's sockets use
constexpr loop::UINT kUdpMessage = 0x8009;
constexpr long kServerEvents = platform::FD_READ | platform::FD_ACCEPT | platform::FD_CLOSE;

unsigned EventOf(const CRecordingWindow::Message& m)
{
    return platform::WSAGETSELECTEVENT(m.lParam);
}

unsigned ErrorOf(const CRecordingWindow::Message& m)
{
    return platform::WSAGETSELECTERROR(m.lParam);
}

std::size_t Count(const CRecordingWindow& window, loop::UINT message, platform::SOCKET s,
                  unsigned event)
{
    std::size_t n = 0;
    for (const auto& m : window.With(message, static_cast<loop::WPARAM>(s)))
        n += EventOf(m) == event;
    return n;
}

bool WaitFor(const CRecordingWindow& window, loop::UINT message, platform::SOCKET s, unsigned event,
             std::size_t count = 1)
{
    return loop::RunUntil([&] { return Count(window, message, s, event) >= count; }, 5s);
}

// A listening TCP socket set up as the TCP server does it: watched first, then
// bound and listening.
CSocketGuard WatchedListener(const CRecordingWindow& window)
{
    CSocketGuard listener(platform::WSASocket(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0));
    EXPECT_EQ(loop::WSAAsyncSelect(listener, window.Handle(), kServerMessage, kServerEvents), 0);
    const sockaddr_in address = Loopback();
    EXPECT_EQ(platform::bind(listener, AsSockaddr(address), sizeof address), 0);
    EXPECT_EQ(platform::listen(listener, SOMAXCONN), 0);
    return listener;
}

} // namespace

TEST(AsyncSelect, AcceptReadAndCloseOnAnAcceptedConnection)
{
    CRecordingWindow window;
    CSocketGuard listener = WatchedListener(window);
    loop::ProcessEventsFor(30ms);
    EXPECT_TRUE(window.messages.empty()) << "a listening socket without a connection is quiet";

    CSocketGuard client = ConnectedTcp(LocalPort(listener));
    ASSERT_TRUE(WaitFor(window, kServerMessage, listener, platform::FD_ACCEPT));
    EXPECT_EQ(ErrorOf(window.messages.back()), 0u);

    CSocketGuard accepted(platform::WSAAccept(listener, nullptr, nullptr, nullptr, 0));
    ASSERT_NE(accepted.Get(), platform::INVALID_SOCKET);
    // Non-blocking from the start: nothing to read yet means 10035, not a wait.
    char buffer[2048];
    EXPECT_EQ(platform::recv(accepted, buffer, sizeof buffer, 0), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10035);

    ASSERT_EQ(platform::send(client, "0123456789", 10, 0), 10);
    ASSERT_TRUE(WaitFor(window, kServerMessage, accepted, platform::FD_READ));
    EXPECT_EQ(platform::recv(accepted, buffer, sizeof buffer, 0), 10);

    client.Reset();
    ASSERT_TRUE(WaitFor(window, kServerMessage, accepted, platform::FD_CLOSE));
    EXPECT_EQ(ErrorOf(window.With(kServerMessage, accepted).back()), 0u);

    // After FD_CLOSE the socket is no longer watched.
    const std::size_t total = window.messages.size();
    loop::ProcessEventsFor(100ms);
    EXPECT_EQ(window.messages.size(), total);
    EXPECT_FALSE(window.overlapped);
    for (const auto& m : window.messages)
        EXPECT_EQ(m.thread, std::this_thread::get_id());
}

TEST(AsyncSelect, ReadIsNotPostedAgainUntilTheProgramReceives)
{
    CRecordingWindow window;
    CSocketGuard listener = WatchedListener(window);
    CSocketGuard client = ConnectedTcp(LocalPort(listener));
    ASSERT_TRUE(WaitFor(window, kServerMessage, listener, platform::FD_ACCEPT));
    CSocketGuard accepted(platform::accept(listener, nullptr, nullptr));
    ASSERT_NE(accepted.Get(), platform::INVALID_SOCKET);

    ASSERT_EQ(platform::send(client, "abc", 3, 0), 3);
    ASSERT_TRUE(WaitFor(window, kServerMessage, accepted, platform::FD_READ));

    // More data, no receive: no second FD_READ, and the loop stays idle rather
    // than spinning on the level-triggered notifier.
    const double cpuBefore = ThreadCpuMilliseconds();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(platform::send(client, "def", 3, 0), 3);
        loop::ProcessEventsFor(100ms);
    }
    const double cpuUsed = ThreadCpuMilliseconds() - cpuBefore;
    EXPECT_EQ(Count(window, kServerMessage, accepted, platform::FD_READ), 1u);
    EXPECT_LT(cpuUsed, 150.0) << "the GUI thread spun while the socket stayed readable";

    // A partial receive re-enables FD_READ; data is still waiting, so it comes again.
    char buffer[4];
    EXPECT_EQ(platform::recv(accepted, buffer, 4, 0), 4);
    ASSERT_TRUE(WaitFor(window, kServerMessage, accepted, platform::FD_READ, 2));
    loop::ProcessEventsFor(50ms);
    EXPECT_EQ(Count(window, kServerMessage, accepted, platform::FD_READ), 2u);

    // Receiving everything re-enables it too; the next data is announced again.
    char all[2048];
    EXPECT_EQ(platform::recv(accepted, all, sizeof all, 0), 8); // 12 sent, 4 read
    loop::ProcessEventsFor(50ms);
    EXPECT_EQ(Count(window, kServerMessage, accepted, platform::FD_READ), 2u);
    ASSERT_EQ(platform::send(client, "ghi", 3, 0), 3);
    ASSERT_TRUE(WaitFor(window, kServerMessage, accepted, platform::FD_READ, 3));
}

TEST(AsyncSelect, ResetByThePeerIsACloseWithItsError)
{
    CRecordingWindow window;
    CSocketGuard listener = WatchedListener(window);
    CSocketGuard client = ConnectedTcp(LocalPort(listener));
    ASSERT_TRUE(WaitFor(window, kServerMessage, listener, platform::FD_ACCEPT));
    CSocketGuard accepted(platform::accept(listener, nullptr, nullptr));

    const linger abort{1, 0};
    ASSERT_EQ(platform::setsockopt(client, SOL_SOCKET, SO_LINGER,
                                   reinterpret_cast<const char*>(&abort), sizeof abort),
              0);
    client.Reset();
    ASSERT_TRUE(WaitFor(window, kServerMessage, accepted, platform::FD_CLOSE));
    EXPECT_EQ(ErrorOf(window.With(kServerMessage, accepted).back()), 10054u);
}

TEST(AsyncSelect, SocketWatchedBeforeItConnectsNotifiesOnceConnected)
{
    CRecordingWindow window;
    CSocketGuard listener = ListeningTcp();
    CSocketGuard client(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(loop::WSAAsyncSelect(client, window.Handle(), kServerMessage, kServerEvents), 0);
    // A fresh stream socket reports a hang-up; the watch must neither post it
    // nor spin on it.
    const double cpuBefore = ThreadCpuMilliseconds();
    loop::ProcessEventsFor(100ms);
    EXPECT_LT(ThreadCpuMilliseconds() - cpuBefore, 60.0);
    EXPECT_TRUE(window.messages.empty());

    const sockaddr_in to = Loopback(LocalPort(listener));
    EXPECT_EQ(platform::connect(client, AsSockaddr(to), sizeof to), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10035);
    CSocketGuard accepted(platform::accept(listener, nullptr, nullptr));
    ASSERT_NE(accepted.Get(), platform::INVALID_SOCKET);
    ASSERT_EQ(platform::send(accepted, "hi", 2, 0), 2);
    ASSERT_TRUE(WaitFor(window, kServerMessage, client, platform::FD_READ));

    // A refused connect of a watched socket ends as a close with its error.
    CSocketGuard refused(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(loop::WSAAsyncSelect(refused, window.Handle(), kServerMessage, kServerEvents), 0);
    const sockaddr_in closed = Loopback(ClosedTcpPort());
    EXPECT_EQ(platform::connect(refused, AsSockaddr(closed), sizeof closed),
              platform::SOCKET_ERROR);
    ASSERT_TRUE(WaitFor(window, kServerMessage, refused, platform::FD_CLOSE));
    EXPECT_EQ(ErrorOf(window.With(kServerMessage, refused).back()), 10061u);
}

// A client that waits for its connect on the loop instead of a thread: one
// FD_CONNECT when the connect ends, with 0 or the refusal, and no spinning on a
// connected socket that stays writable.
TEST(AsyncSelect, ConnectEndIsPostedOnceWithItsOutcome)
{
    constexpr loop::UINT kClientMessage = 0x800D;
    CRecordingWindow window;
    CSocketGuard listener = ListeningTcp();
    CSocketGuard client(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    platform::u_long nonBlocking = 1;
    ASSERT_EQ(platform::ioctlsocket(client, FIONBIO, &nonBlocking), 0);
    const sockaddr_in to = Loopback(LocalPort(listener));
    EXPECT_EQ(platform::connect(client, AsSockaddr(to), sizeof to), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10035);
    ASSERT_EQ(loop::WSAAsyncSelect(client, window.Handle(), kClientMessage, platform::FD_CONNECT),
              0);
    ASSERT_TRUE(WaitFor(window, kClientMessage, client, platform::FD_CONNECT));
    EXPECT_EQ(ErrorOf(window.messages.back()), 0u);
    const double cpuBefore = ThreadCpuMilliseconds();
    loop::ProcessEventsFor(100ms);
    EXPECT_LT(ThreadCpuMilliseconds() - cpuBefore, 60.0) << "spins on a writable socket";
    EXPECT_EQ(window.messages.size(), 1u);
    // The watch ends; the socket may block again and talks as a connected one.
    ASSERT_EQ(loop::WSAAsyncSelect(client, window.Handle(), 0, 0), 0);
    platform::u_long blocking = 0;
    EXPECT_EQ(platform::ioctlsocket(client, FIONBIO, &blocking), 0);
    EXPECT_EQ(platform::send(client, "hi", 2, 0), 2);

    CSocketGuard refused(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(loop::WSAAsyncSelect(refused, window.Handle(), kClientMessage, platform::FD_CONNECT),
              0);
    const sockaddr_in closed = Loopback(ClosedTcpPort());
    EXPECT_EQ(platform::connect(refused, AsSockaddr(closed), sizeof closed),
              platform::SOCKET_ERROR);
    ASSERT_TRUE(WaitFor(window, kClientMessage, refused, platform::FD_CONNECT));
    EXPECT_EQ(ErrorOf(window.With(kClientMessage, refused).back()), 10061u);
    loop::ProcessEventsFor(50ms);
    EXPECT_EQ(window.With(kClientMessage, refused).size(), 1u) << "the failed connect ends the watch";
}

TEST(AsyncSelect, IcmpAnswerOnADatagramSocketNotifiesOnceAndTheReceiveReportsIt)
{
    CRecordingWindow window;
    CSocketGuard udp = BoundUdp();
    ASSERT_EQ(loop::WSAAsyncSelect(udp, window.Handle(), kUdpMessage, platform::FD_READ), 0);

    const sockaddr_in closed = Loopback(ClosedUdpPort());
    ASSERT_EQ(platform::sendto(udp, "tessarium", 10, 0, AsSockaddr(closed), sizeof closed), 10);
    ASSERT_TRUE(WaitFor(window, kUdpMessage, udp, platform::FD_READ));
    EXPECT_EQ(ErrorOf(window.With(kUdpMessage, udp).back()), 0u) << "the receive reports the error";

    // Nobody reads: no storm of notifications, no spinning loop.
    const double cpuBefore = ThreadCpuMilliseconds();
    loop::ProcessEventsFor(300ms);
    EXPECT_LT(ThreadCpuMilliseconds() - cpuBefore, 150.0);
    EXPECT_EQ(window.With(kUdpMessage, udp).size(), 1u);

    char buffer[2048];
    sockaddr_in from{};
    int fromLength = sizeof from;
    EXPECT_EQ(platform::recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                                 &fromLength),
              platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10054);

    // Reported once: the watch is quiet again until a datagram comes.
    loop::ProcessEventsFor(150ms);
    EXPECT_EQ(window.With(kUdpMessage, udp).size(), 1u);
    CSocketGuard peer = BoundUdp();
    const sockaddr_in to = Loopback(LocalPort(udp));
    ASSERT_EQ(platform::sendto(peer, "reply", 5, 0, AsSockaddr(to), sizeof to), 5);
    ASSERT_TRUE(WaitFor(window, kUdpMessage, udp, platform::FD_READ, 2));
    EXPECT_EQ(platform::recvfrom(udp, buffer, sizeof buffer, 0, nullptr, nullptr), 5);
}

TEST(AsyncSelect, ClosedSocketLeavesNoStaleNotificationForItsReusedNumber)
{
    CRecordingWindow window;
    CSocketGuard sender = BoundUdp();
    CSocketGuard first = BoundUdp();
    ASSERT_EQ(loop::WSAAsyncSelect(first, window.Handle(), kUdpMessage, platform::FD_READ), 0);
    loop::ProcessEventsFor(10ms);

    // Make it readable and let its notifier fire once, so that an FD_READ is
    // queued for the window but not yet delivered; then close it.
    const sockaddr_in to = Loopback(LocalPort(first));
    ASSERT_EQ(platform::sendto(sender, "x", 1, 0, AsSockaddr(to), sizeof to), 1);
    platform::SocketSet readable;
    platform::SocketSetAdd(first, &readable);
    const timeval wait{2, 0};
    ASSERT_EQ(platform::select(0, &readable, nullptr, nullptr, &wait), 1);
    // One pass of the loop: the notifier fires and posts; the posted message
    // is delivered only in the next pass.
    QCoreApplication::processEvents();
    ASSERT_TRUE(window.messages.empty()) << "precondition: the FD_READ is still queued";
    const platform::SOCKET number = first.Get();
    first.Reset();

    // The same number again, watched with another message and nothing to read.
    CSocketGuard second(platform::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    ASSERT_EQ(second.Get(), number) << "the system hands out the lowest free number";
    const sockaddr_in any = Loopback();
    ASSERT_EQ(platform::bind(second, AsSockaddr(any), sizeof any), 0);
    ASSERT_EQ(loop::WSAAsyncSelect(second, window.Handle(), kUdpMessage + 1, platform::FD_READ), 0);

    loop::ProcessEventsFor(150ms);
    EXPECT_TRUE(window.messages.empty())
        << "a notification of the closed socket arrived after closesocket";

    const sockaddr_in toSecond = Loopback(LocalPort(second));
    ASSERT_EQ(platform::sendto(sender, "y", 1, 0, AsSockaddr(toSecond), sizeof toSecond), 1);
    ASSERT_TRUE(WaitFor(window, kUdpMessage + 1, second, platform::FD_READ));
    EXPECT_TRUE(window.With(kUdpMessage).empty());
}

TEST(AsyncSelect, CloseFromAnotherThreadKeepsTheNumberUntilTheNotifierIsGone)
{
    CRecordingWindow window;
    CSocketGuard sender = BoundUdp();
    CSocketGuard watched = BoundUdp();
    ASSERT_EQ(loop::WSAAsyncSelect(watched, window.Handle(), kUdpMessage, platform::FD_READ), 0);
    loop::ProcessEventsFor(10ms);
    const platform::SOCKET number = watched.Release();

    platform::SOCKET next = platform::INVALID_SOCKET;
    std::thread closer([&] {
        EXPECT_EQ(platform::closesocket(number), 0);
        // The GUI thread has not run: the number is still held.
        next = platform::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    });
    closer.join();
    CSocketGuard nextGuard(next);
    EXPECT_NE(next, number);
    char byte;
    EXPECT_EQ(platform::recv(number, &byte, 1, 0), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10038);

    // Once the loop has removed the notifier, the number is free again and a
    // socket made with it is a fresh, quiet socket.
    ASSERT_TRUE(loop::RunUntil([&] { return LowestFreeDescriptor() == number; }, 5s));
    CSocketGuard reused(platform::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    EXPECT_EQ(reused.Get(), number);
    const sockaddr_in any = Loopback();
    ASSERT_EQ(platform::bind(reused, AsSockaddr(any), sizeof any), 0);
    ASSERT_EQ(loop::WSAAsyncSelect(reused, window.Handle(), kUdpMessage, platform::FD_READ), 0);
    loop::ProcessEventsFor(100ms);
    EXPECT_TRUE(window.messages.empty());
}

TEST(AsyncSelect, SelectionFromAnotherThreadNotifiesOnTheGuiThread)
{
    CRecordingWindow window;
    CSocketGuard udp = BoundUdp();
    std::thread([&] {
        EXPECT_EQ(loop::WSAAsyncSelect(udp, window.Handle(), kUdpMessage, platform::FD_READ), 0);
        // Non-blocking at once, before the GUI thread has done anything.
        char byte;
        EXPECT_EQ(platform::recv(udp, &byte, 1, 0), platform::SOCKET_ERROR);
        EXPECT_EQ(platform::WSAGetLastError(), 10035);
    }).join();

    CSocketGuard peer = BoundUdp();
    const sockaddr_in to = Loopback(LocalPort(udp));
    ASSERT_EQ(platform::sendto(peer, "hello", 5, 0, AsSockaddr(to), sizeof to), 5);
    ASSERT_TRUE(WaitFor(window, kUdpMessage, udp, platform::FD_READ));
    EXPECT_EQ(window.messages.back().thread, std::this_thread::get_id());

    // A receive on a pool thread re-enables the notification as well.
    std::thread([&] {
        char buffer[16];
        EXPECT_EQ(platform::recvfrom(udp, buffer, sizeof buffer, 0, nullptr, nullptr), 5);
    }).join();
    ASSERT_EQ(platform::sendto(peer, "again", 5, 0, AsSockaddr(to), sizeof to), 5);
    ASSERT_TRUE(WaitFor(window, kUdpMessage, udp, platform::FD_READ, 2));
}

TEST(AsyncSelect, NoEventsEndsTheWatchAndBlockingModeMayComeBack)
{
    CRecordingWindow window;
    CSocketGuard udp = BoundUdp();
    ASSERT_EQ(loop::WSAAsyncSelect(udp, window.Handle(), kUdpMessage, platform::FD_READ), 0);
    platform::u_long off = 0;
    EXPECT_EQ(platform::ioctlsocket(udp, FIONBIO, &off), platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10022) << "a watched socket stays non-blocking";

    ASSERT_EQ(loop::WSAAsyncSelect(udp, window.Handle(), 0, 0), 0);
    CSocketGuard peer = BoundUdp();
    const sockaddr_in to = Loopback(LocalPort(udp));
    ASSERT_EQ(platform::sendto(peer, "hello", 5, 0, AsSockaddr(to), sizeof to), 5);
    loop::ProcessEventsFor(100ms);
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(platform::ioctlsocket(udp, FIONBIO, &off), 0);
}

TEST(AsyncSelect, RefusesUnknownSocketsDeadWindowsAndEventsItDoesNotOffer)
{
    CSocketGuard udp = BoundUdp();
    loop::HWND dead;
    {
        CRecordingWindow window;
        dead = window.Handle();
        EXPECT_EQ(loop::WSAAsyncSelect(424242, window.Handle(), kUdpMessage, platform::FD_READ),
                  platform::SOCKET_ERROR);
        EXPECT_EQ(platform::WSAGetLastError(), 10038);
        EXPECT_EQ(loop::WSAAsyncSelect(udp, window.Handle(), kUdpMessage, platform::FD_WRITE),
                  platform::SOCKET_ERROR);
        EXPECT_EQ(platform::WSAGetLastError(), 10022);
    }
    EXPECT_EQ(loop::WSAAsyncSelect(udp, dead, kUdpMessage, platform::FD_READ),
              platform::SOCKET_ERROR);
    EXPECT_EQ(platform::WSAGetLastError(), 10022);
}

TEST(AsyncSelect, WatchOutlivingItsWindowDoesNotSpin)
{
    CSocketGuard udp = BoundUdp();
    {
        CRecordingWindow window;
        ASSERT_EQ(loop::WSAAsyncSelect(udp, window.Handle(), kUdpMessage, platform::FD_READ), 0);
        loop::ProcessEventsFor(10ms);
    }
    CSocketGuard peer = BoundUdp();
    const sockaddr_in to = Loopback(LocalPort(udp));
    ASSERT_EQ(platform::sendto(peer, "hello", 5, 0, AsSockaddr(to), sizeof to), 5);
    const double cpuBefore = ThreadCpuMilliseconds();
    loop::ProcessEventsFor(200ms);
    EXPECT_LT(ThreadCpuMilliseconds() - cpuBefore, 100.0);
}

// ---------------------------------------------------------------------------
// Past the descriptor limit.

TEST(AsyncSelect, AcceptWithoutAFreeDescriptorDoesNotSpin)
{
    // A failed accept re-enabled the accept notification at once; with no
    // descriptor free the connection stays queued, so the notification came
    // again at once: tens of thousands of failed accepts a second on the GUI
    // thread, while every other socket of the process failed.
    CRecordingWindow window;
    CSocketGuard listener = WatchedListener(window);
    std::vector<CSocketGuard> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(ConnectedTcp(LocalPort(listener)));
    std::vector<CSocketGuard> accepted;
    int failures = 0;
    int lastError = 0;
    window.onMessage = [&](const CRecordingWindow::Message& m) {
        if (m.wParam != static_cast<loop::WPARAM>(listener.Get()) ||
            EventOf(m) != platform::FD_ACCEPT)
            return;
        CSocketGuard s(platform::accept(listener, nullptr, nullptr));
        if (s.Get() == platform::INVALID_SOCKET) {
            ++failures;
            lastError = platform::WSAGetLastError();
        } else {
            accepted.push_back(std::move(s));
        }
    };

    CDescriptorLimit limit(CDescriptorLimit::Exhausted());
    ASSERT_TRUE(limit.Set());
    loop::ProcessEventsFor(1000ms);
    const int failedWhileStarved = failures;
    EXPECT_GE(failedWhileStarved, 1) << "the connection was offered";
    EXPECT_LE(failedWhileStarved, 10) << "one attempt per pause, not one per turn of the loop";
    EXPECT_EQ(lastError, platform::WSAEMFILE);
    EXPECT_TRUE(accepted.empty());

    // A descriptor free again: the waiting connections come in without any
    // further call of the program's.
    limit.Restore();
    EXPECT_TRUE(loop::RunUntil([&] { return accepted.size() == clients.size(); }, 5s));
}

TEST(AsyncSelect, ClosingWatchedSocketsWithoutAFreeDescriptorWarnsOfNothing)
{
    // A close from another thread keeps the descriptor number taken by a
    // placeholder until the notifier is gone. The placeholder used to be made at
    // the first such close: past the descriptor limit it could not be, the
    // socket was closed under its live notifier, and Qt wrote "QSocketNotifier:
    // Invalid socket N" for each (19,444 lines for a scheme of 25,000 UDP groups).
    CQtMessageCounter warnings("QSocketNotifier");
    CRecordingWindow window;
    std::vector<platform::SOCKET> sockets;
    for (int i = 0; i < 100; ++i) {
        CSocketGuard s = BoundUdp();
        ASSERT_EQ(loop::WSAAsyncSelect(s, window.Handle(), kUdpMessage, platform::FD_READ), 0);
        sockets.push_back(s.Release());
    }
    loop::ProcessEventsFor(30ms); // every notifier in the loop's poll set

    CDescriptorLimit limit(CDescriptorLimit::Exhausted());
    ASSERT_TRUE(limit.Set());
    std::thread closer([&] {
        for (platform::SOCKET s : sockets)
            EXPECT_EQ(platform::closesocket(s), 0);
    });
    closer.join();
    loop::ProcessEventsFor(200ms);
    EXPECT_EQ(warnings.Count(), 0) << warnings.First();
    limit.Restore();

    // Every number is free again once the notifiers are gone.
    EXPECT_TRUE(loop::RunUntil([&] { return LowestFreeDescriptor() <= sockets.front(); }, 5s));
}
