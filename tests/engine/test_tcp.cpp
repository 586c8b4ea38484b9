#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "engine/CTcpClient.h"
#include "engine/CTcpServer.h"
#include "engine/support/RecordingApp.h"

#include <gtest/gtest.h>

#include "platform/ErrorTexts.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace enginetest {
namespace {

using namespace std::chrono_literals;
using channel::ClientRow;

channel::PeerAddress Loopback()
{
    channel::PeerAddress peer;
    channel::ParseAddress(peer, "127.0.0.1");
    return peer;
}

channel::PeerAddress AnyAddress()
{
    return channel::PeerAddress{};
}

channel::ProbeOptions Options(int maxSendCount, int timeOut = 200, int delay = 1)
{
    channel::ProbeOptions o;
    o.timeOut = timeOut;
    o.timeSendDelay = delay;
    o.sendDataSize = 10;
    o.maxSendCount = maxSendCount;
    return o;
}

channel::PeerAddress Address(const char* text)
{
    channel::PeerAddress peer;
    channel::ParseAddress(peer, text);
    return peer;
}

// Waits, without dispatching anything, until the sink has been asked to post the
// message: it then sits in the loop's queue.
bool WaitForPost(const CRecordingApp& app, loop::UINT message, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (const auto& post : app.Posts()) {
            if (post.message == message)
                return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

// A plain listening socket that accepts connections in the kernel's backlog
// and never reads: a peer that never echoes.
class CSilentListener
{
public:
    CSilentListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(m_fd, 16);
        socklen_t length = sizeof(address);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~CSilentListener() { ::close(m_fd); }
    std::uint16_t Port() const { return m_port; }

private:
    int m_fd;
    std::uint16_t m_port;
};

bool PortFinished(const CRecordingApp& app, std::uint16_t port)
{
    auto rows = app.RowsFor(channel::PROTOCOL_TCP, port);
    return !rows.empty() && rows.back().finished;
}

std::vector<int> ClientCodes(const CRecordingApp& app, std::uint16_t port)
{
    return Codes(app.EventsFor(channel::PROTOCOL_TCP, port));
}

// The address a connection to `to` leaves from on this machine.
std::string SourceAddressFor(const char* to, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, to, &address.sin_addr);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)); // no packet
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
    return text;
}

TEST(TcpChannel, EveryProbeIsEchoedOnThreePorts)
{
    CRecordingApp serverSide;
    CRecordingApp clientSide;
    std::vector<std::uint16_t> ports = {FreePort(SOCK_STREAM), FreePort(SOCK_STREAM),
                                        FreePort(SOCK_STREAM)};

    engine::CTcpServer server(&serverSide, AnyAddress());
    serverSide.AddServer(&server);
    server.Start(ports);

    // The peer is 127.0.0.2 and the connections come from 127.0.0.1, so the
    // server's report of its connection's local address can be told from the
    // remote one.
    ASSERT_EQ(SourceAddressFor("127.0.0.2", ports[0]), "127.0.0.1");
    auto client =
        std::make_unique<engine::CTcpClient>(&clientSide, Address("127.0.0.2"), Options(3));
    clientSide.AddClient(client.get());
    client->Start(ports);

    ASSERT_TRUE(clientSide.RunUntil(
        [&] {
            return PortFinished(clientSide, ports[0]) && PortFinished(clientSide, ports[1]) &&
                   PortFinished(clientSide, ports[2]);
        },
        15s));

    for (std::uint16_t port : ports) {
        SCOPED_TRACE("port " + std::to_string(port));
        std::vector<int> codes = ClientCodes(clientSide, port);
        // 6, then 13 and 4 (or 4 at once), then 10 and 11 per attempt.
        std::vector<int> expected = {6, 13, 4, 10, 11, 10, 11, 10, 11};
        if (codes.size() > 1 && codes[1] == channel::EC_CONNECTED)
            expected.erase(expected.begin() + 1);
        EXPECT_EQ(CodesText(codes), CodesText(expected));
        auto rows = clientSide.RowsFor(channel::PROTOCOL_TCP, port);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().attempts, 3);
        EXPECT_EQ(rows.back().replies, 3);
        EXPECT_TRUE(rows.back().finished);
        for (std::size_t i = 0; i + 1 < rows.size(); ++i)
            EXPECT_FALSE(rows[i].finished) << "only the last row ends the cycle";
        EXPECT_EQ(rows.back().port1, port);
        EXPECT_EQ(rows.back().port2, port);
        EXPECT_EQ(std::string(rows.back().peer.text), "127.0.0.2");
        for (const auto& e : clientSide.EventsFor(channel::PROTOCOL_TCP, port)) {
            if (e.code != channel::EC_OPENED) {
                EXPECT_EQ(e.peer, "127.0.0.2") << "code " << e.code;
            }
        }
    }
    EXPECT_TRUE(clientSide.ArmedTimers().empty()) << "no timer after the last probe";
    EXPECT_EQ(clientSide.TimerStarts(), 6) << "a timer after probes 1 and 2 of each port";

    // The server's side: the port opened, then per connection 4, and per probe
    // 11 (incoming) and 10, with the connection's local address as the peer.
    client.reset();
    ASSERT_TRUE(serverSide.RunUntil([&] { return server.AcceptedCount() == 0; }, 5s));
    for (std::uint16_t port : ports) {
        SCOPED_TRACE("server port " + std::to_string(port));
        auto events = serverSide.EventsFor(channel::PROTOCOL_TCP, port);
        ASSERT_GE(events.size(), 8u);
        EXPECT_EQ(events[0].code, channel::EC_PORT_OPEN);
        EXPECT_EQ(events[0].peer, "");
        EXPECT_EQ(events[1].code, channel::EC_CONNECTED);
        EXPECT_EQ(events[1].peer, "127.0.0.2") << "the connection's local address";
        for (int probe = 0; probe < 3; ++probe) {
            const auto& received = events[2 + probe * 2];
            const auto& sent = events[3 + probe * 2];
            EXPECT_EQ(received.code, channel::EC_RECEIVED);
            EXPECT_TRUE(received.incoming);
            EXPECT_EQ(received.peer, "127.0.0.2");
            EXPECT_EQ(sent.code, channel::EC_SENT);
            EXPECT_FALSE(sent.incoming);
            EXPECT_EQ(sent.peer, "127.0.0.2");
            EXPECT_EQ(sent.port2, port);
        }
        EXPECT_EQ(events.back().code, channel::EC_DISCONNECTED) << "the client's end closes it";
        EXPECT_EQ(events.back().peer, "127.0.0.2");
    }
    auto rows = serverSide.ServerRows();
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows)
        EXPECT_EQ(row.code, channel::EC_PORT_OPEN);
}

// A peer that echoes a probe in two pieces: the first half at once, the second
// only when the test says so (after the client has given its verdict), so the
// client's one receive sees half an echo whatever the machine's load.
class CSplitEchoPeer
{
public:
    CSplitEchoPeer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        ::listen(m_listener, 4);
        socklen_t length = sizeof(address);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CSplitEchoPeer()
    {
        Release();
        ::shutdown(m_listener, SHUT_RDWR); // ends a waiting accept
        m_thread.join();
        ::close(m_listener);
    }
    std::uint16_t Port() const { return m_port; }
    void Release()
    {
        std::lock_guard lock(m_lock);
        m_released = true;
        m_changed.notify_all();
    }

private:
    void Serve()
    {
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            return;
        const timeval limit{10, 0}; // bounded, whatever the client does
        ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        char probe[10];
        std::size_t got = 0;
        ssize_t n;
        while (got < sizeof(probe) &&
               (n = ::recv(connection, probe + got, sizeof(probe) - got, 0)) > 0)
            got += static_cast<std::size_t>(n);
        if (got == sizeof(probe)) {
            ::send(connection, probe, 5, MSG_NOSIGNAL);
            std::unique_lock lock(m_lock);
            m_changed.wait_for(lock, 10s, [this] { return m_released; });
            ::send(connection, probe + 5, 5, MSG_NOSIGNAL);
        }
        ::close(connection);
    }

    int m_listener;
    std::uint16_t m_port;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_released = false;
    std::thread m_thread;
};

TEST(TcpChannel, EchoInTwoSegmentsIsNotAnAnswer)
{
    // The one receive takes what has come: half an echo fails the probe, though
    // the rest would follow.
    CSplitEchoPeer peer;
    CRecordingApp clientSide;
    engine::CTcpClient client(&clientSide, Loopback(), Options(1, 2000));
    clientSide.AddClient(&client);
    client.Start({peer.Port()});
    ASSERT_TRUE(clientSide.RunUntil([&] { return PortFinished(clientSide, peer.Port()); }, 10s));
    peer.Release();

    auto events = clientSide.EventsFor(channel::PROTOCOL_TCP, peer.Port());
    std::vector<int> compact;
    for (const auto& e : events) {
        if (e.code != channel::EC_CONNECTING)
            compact.push_back(e.code);
    }
    EXPECT_EQ(CodesText(compact), "6 4 10 9");
    const RecordedEvent& failed = events.back();
    EXPECT_EQ(failed.code, channel::EC_RECEIVE_FAILED);
    EXPECT_EQ(failed.status, channel::STATUS_WARNING);
    EXPECT_EQ(failed.error, 0) << "a short read has no socket error (no time-out either)";
    EXPECT_TRUE(failed.incoming);
    const ClientRow last = clientSide.RowsFor(channel::PROTOCOL_TCP, peer.Port()).back();
    EXPECT_EQ(last.attempts, 1);
    EXPECT_EQ(last.replies, 0);
    EXPECT_TRUE(last.finished);
}

TEST(TcpChannel, PortWithoutListenerRetriesAfterTheDelay)
{
    CRecordingApp clientSide;
    const std::uint16_t port = FreePort(SOCK_STREAM);
    engine::CTcpClient client(&clientSide, Loopback(), Options(2));
    clientSide.AddClient(&client);
    client.Start({port});
    ASSERT_TRUE(clientSide.RunUntil([&] { return PortFinished(clientSide, port); }, 10s));

    auto events = clientSide.EventsFor(channel::PROTOCOL_TCP, port);
    std::vector<int> codes = Codes(events);
    EXPECT_EQ(CodesText(codes), "6 13 7 6 13 7");
    std::vector<RecordedEvent> failures;
    for (const auto& e : events) {
        if (e.code == channel::EC_CONNECT_FAILED) {
            failures.push_back(e);
            EXPECT_EQ(e.error, platform::WSAECONNREFUSED);
            EXPECT_EQ(e.status, channel::STATUS_WARNING);
        }
    }
    ASSERT_EQ(failures.size(), 2u);
    // A new socket only after the pause of TimeSendDelay.
    auto reopen = std::find_if(events.begin() + 1, events.end(),
                               [](const RecordedEvent& e) { return e.code == channel::EC_OPENED; });
    ASSERT_NE(reopen, events.end());
    EXPECT_GE(reopen->at - failures[0].at, 950ms);
    auto rows = clientSide.RowsFor(channel::PROTOCOL_TCP, port);
    EXPECT_TRUE(rows.back().finished);
    EXPECT_EQ(rows.back().code, static_cast<std::uint32_t>(channel::EC_CONNECT_FAILED));
    EXPECT_EQ(rows.back().attempts, 2);
    EXPECT_EQ(rows.back().replies, 0);
}

// The pause after a refused connect is the port's timer, not a pool worker's
// sleep: with more refused ports than the pool has workers, every port still
// reports its first refusal at once, and the client goes at once although each
// port is in a pause of ten minutes.
TEST(TcpChannel, RefusedPortsWaitOutTheirPausesWithoutHoldingWorkers)
{
    CRecordingApp clientSide;
    std::set<std::uint16_t> ports;
    for (int tries = 0; ports.size() < 120 && tries < 2000; ++tries)
        ports.insert(FreePort(SOCK_STREAM));
    ASSERT_EQ(ports.size(), 120u);
    auto client = std::make_unique<engine::CTcpClient>(&clientSide, Loopback(),
                                                       Options(2, 200, 600));
    clientSide.AddClient(client.get());
    client->Start(std::vector<std::uint16_t>(ports.begin(), ports.end()));
    auto refusedOnce = [&] {
        return std::all_of(ports.begin(), ports.end(), [&](std::uint16_t port) {
            const std::vector<int> codes = ClientCodes(clientSide, port);
            return std::count(codes.begin(), codes.end(), channel::EC_CONNECT_FAILED) == 1;
        });
    };
    ASSERT_TRUE(clientSide.RunUntil(refusedOnce, 30s))
        << "ports queued behind the pauses of others";
    for (std::uint16_t port : ports)
        EXPECT_EQ(CodesText(ClientCodes(clientSide, port)), "6 13 7") << port;

    const auto before = std::chrono::steady_clock::now();
    clientSide.RemoveClient(client.get());
    client.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 30s)
        << "the client's end waited for a pause";
}

namespace {

// A loopback port whose SYNs go unanswered: a listener with a backlog of
// nothing that one connection, never accepted, already fills.
struct SilentPort
{
    int listener = -1;
    int filler = -1;
    std::uint16_t port = 0;

    SilentPort()
    {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(listener, 0) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
            port = ntohs(address.sin_port);
    }
    ~SilentPort()
    {
        ::close(filler);
        ::close(listener);
    }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
};

} // namespace

// One attempt on each port (TimeOut 3 s), by a client that is gone when
// this returns; every event then, or none when the ports did not all finish
// within a minute.
std::vector<RecordedEvent> CheckOnce(CRecordingApp& app, const std::vector<std::uint16_t>& ports)
{
    engine::CTcpClient client(&app, Loopback(), Options(1, 3000, 1));
    app.AddClient(&client);
    client.Start(ports);
    const bool finished = app.RunUntil(
        [&] {
            return std::all_of(ports.begin(), ports.end(),
                               [&](std::uint16_t port) { return PortFinished(app, port); });
        },
        60s);
    app.RemoveClient(&client);
    return finished ? app.Events() : std::vector<RecordedEvent>{};
}

// Whether the last `waiting` event came before the first `ended` one: no port
// waited for a pool worker while others waited for the network.
::testing::AssertionResult WaitedSideBySide(const std::vector<RecordedEvent>& events, int waiting,
                                            int ended)
{
    auto lastWaiting = std::find_if(events.rbegin(), events.rend(),
                                    [waiting](const auto& e) { return e.code == waiting; });
    auto firstEnded = std::find_if(events.begin(), events.end(),
                                   [ended](const auto& e) { return e.code == ended; });
    if (lastWaiting == events.rend() || firstEnded == events.end())
        return ::testing::AssertionFailure() << "no event " << waiting << " or " << ended;
    if (lastWaiting->index > firstEnded->index)
        return ::testing::AssertionFailure()
               << "a port began to wait (" << waiting << ") only after another's wait ended";
    return ::testing::AssertionSuccess();
}

// Each port's codes without 13, which a loopback connect may skip.
std::string CodesWithoutConnecting(const CRecordingApp& app, std::uint16_t port)
{
    std::vector<int> compact;
    for (int code : ClientCodes(app, port))
        if (code != channel::EC_CONNECTING)
            compact.push_back(code);
    return CodesText(compact);
}

// A connect under way waits on the event loop, not on a pool worker: with more
// silent ports than the pool has workers, every port reports its connect
// under way (13) before the first one times out (7, 10060).
TEST(TcpChannel, SilentPortsWaitForTheirConnectsSideBySide)
{
    std::vector<std::unique_ptr<SilentPort>> silent;
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < 120; ++i) {
        silent.push_back(std::make_unique<SilentPort>());
        ASSERT_NE(silent.back()->port, 0) << "could not make a silent port";
        ports.push_back(silent.back()->port);
    }
    CRecordingApp clientSide;
    const std::vector<RecordedEvent> events = CheckOnce(clientSide, ports);
    ASSERT_FALSE(events.empty()) << "the ports did not finish";
    EXPECT_TRUE(WaitedSideBySide(events, channel::EC_CONNECTING, channel::EC_CONNECT_FAILED));
    for (std::uint16_t port : ports) {
        EXPECT_EQ(CodesText(ClientCodes(clientSide, port)), "6 13 7") << port;
        EXPECT_EQ(clientSide.EventsFor(channel::PROTOCOL_TCP, port).back().error,
                  platform::WSAETIMEDOUT);
    }
}

// A probe's wait for its echo is the event loop's too: with more ports that
// never echo than the pool has workers, every port reports its probe sent
// (10) before the first wait times out (9, 10060).
TEST(TcpChannel, MutePortsWaitForTheirEchoesSideBySide)
{
    std::vector<std::unique_ptr<CSilentListener>> mute;
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < 120; ++i) {
        mute.push_back(std::make_unique<CSilentListener>());
        ports.push_back(mute.back()->Port());
    }
    CRecordingApp clientSide;
    const std::vector<RecordedEvent> events = CheckOnce(clientSide, ports);
    ASSERT_FALSE(events.empty()) << "the ports did not finish";
    EXPECT_TRUE(WaitedSideBySide(events, channel::EC_SENT, channel::EC_RECEIVE_FAILED));
    for (std::uint16_t port : ports) {
        EXPECT_EQ(CodesWithoutConnecting(clientSide, port), "6 4 10 9") << port;
        EXPECT_EQ(clientSide.EventsFor(channel::PROTOCOL_TCP, port).back().error,
                  platform::WSAETIMEDOUT);
    }
    EXPECT_TRUE(clientSide.ArmedTimers().empty()) << "a deadline outlived its wait";
}

// TimeOut longer than the delay between probes, and a peer slower than that
// delay: the second probe is sent while the first still waits, and each
// waits for its own echo.
TEST(TcpChannel, AProbeSentWhileAnotherWaitsGetsItsOwnEcho)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::uint16_t port = ntohs(address.sin_port);
    // Echoes each probe (10 bytes) 1.5 s after it came; two probes, bounded.
    std::thread slowPeer([listener] {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0)
            return;
        timeval limit{20, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        char probe[10];
        std::vector<std::thread> echoes;
        for (int i = 0; i < 2; ++i) {
            if (::recv(connection, probe, sizeof(probe), MSG_WAITALL) != sizeof(probe))
                break;
            echoes.emplace_back([connection] {
                char echo[10] = {};
                std::this_thread::sleep_for(1500ms);
                ::send(connection, echo, sizeof(echo), MSG_NOSIGNAL);
            });
        }
        for (std::thread& echo : echoes)
            echo.join();
        ::close(connection);
    });
    CRecordingApp clientSide;
    engine::CTcpClient client(&clientSide, Loopback(), Options(2, 3000, 1));
    clientSide.AddClient(&client);
    client.Start({port});
    ASSERT_TRUE(clientSide.RunUntil(
        [&] {
            const auto rows = clientSide.RowsFor(channel::PROTOCOL_TCP, port);
            return !rows.empty() && rows.back().replies == 2;
        },
        20s));
    EXPECT_EQ(CodesWithoutConnecting(clientSide, port), "6 4 10 10 11 11");
    EXPECT_TRUE(clientSide.RowsFor(channel::PROTOCOL_TCP, port).back().finished);
    clientSide.RemoveClient(&client);
    slowPeer.join();
    ::close(listener);
    EXPECT_TRUE(clientSide.ArmedTimers().empty()) << "a deadline outlived its wait";
}

TEST(TcpChannel, PeerThatNeverEchoesTimesOutAndReconnects)
{
    CSilentListener silent;
    CRecordingApp clientSide;
    engine::CTcpClient client(&clientSide, Loopback(), Options(2));
    clientSide.AddClient(&client);
    client.Start({silent.Port()});
    ASSERT_TRUE(clientSide.RunUntil([&] { return PortFinished(clientSide, silent.Port()); }, 10s));

    auto events = clientSide.EventsFor(channel::PROTOCOL_TCP, silent.Port());
    std::vector<int> codes = Codes(events);
    std::vector<int> compact;
    for (int c : codes) {
        if (c != channel::EC_CONNECTING)
            compact.push_back(c);
    }
    EXPECT_EQ(CodesText(compact), "6 4 10 9 6 4 10 9");
    for (std::size_t i = 1; i < events.size(); ++i) {
        if (events[i].code == channel::EC_RECEIVE_FAILED) {
            EXPECT_EQ(events[i - 1].code, channel::EC_SENT);
            EXPECT_GE(events[i].at - events[i - 1].at, 180ms) << "the receive waits TimeOut";
            EXPECT_EQ(events[i].error, platform::WSAETIMEDOUT);
        }
    }
    auto rows = clientSide.RowsFor(channel::PROTOCOL_TCP, silent.Port());
    EXPECT_TRUE(rows.back().finished);
    EXPECT_EQ(rows.back().attempts, 2);
    EXPECT_EQ(rows.back().replies, 0);
    EXPECT_TRUE(clientSide.ArmedTimers().empty());
}

TEST(TcpChannel, BusyPortIsReportedAndTheOthersStillOpen)
{
    CSilentListener holder; // binds a loopback port; the server binds the any-address
    const std::uint16_t busy = holder.Port();
    const std::uint16_t free1 = FreePort(SOCK_STREAM);
    CRecordingApp serverSide;
    engine::CTcpServer server(&serverSide, AnyAddress());
    serverSide.AddServer(&server);
    server.Start({free1, busy});
    auto rows = serverSide.ServerRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].port, free1);
    EXPECT_EQ(rows[0].code, channel::EC_PORT_OPEN);
    EXPECT_EQ(rows[1].port, busy);
    EXPECT_EQ(rows[1].code, channel::EC_PORT_BUSY);
    auto events = serverSide.Events();
    EXPECT_EQ(events[1].error, platform::WSAEADDRINUSE);
    EXPECT_EQ(events[1].status, channel::STATUS_WARNING);
    EXPECT_EQ(server.SocketAt(1), platform::INVALID_SOCKET);
    EXPECT_NE(server.SocketAt(0), platform::INVALID_SOCKET);
    EXPECT_EQ(server.FindSocket(platform::INVALID_SOCKET), 1);
}

TEST(TcpChannel, SingleAttemptMeansOneProbeAndNoTimer)
{
    CRecordingApp serverSide, clientSide;
    const std::uint16_t port = FreePort(SOCK_STREAM);
    engine::CTcpServer server(&serverSide, AnyAddress());
    serverSide.AddServer(&server);
    server.Start({port});
    engine::CTcpClient client(&clientSide, Loopback(), Options(1));
    clientSide.AddClient(&client);
    client.Start({port});
    ASSERT_TRUE(clientSide.RunUntil([&] { return PortFinished(clientSide, port); }, 5s));
    clientSide.RunUntil([] { return false; }, 300ms);
    std::vector<int> codes = ClientCodes(clientSide, port);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), channel::EC_SENT), 1);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), channel::EC_RECEIVED), 1);
    EXPECT_EQ(clientSide.TimerStarts(), 0);
}

TEST(TcpChannel, ServerStartTwiceClosesTheFirstSockets)
{
    CRecordingApp serverSide;
    engine::CTcpServer server(&serverSide, AnyAddress());
    serverSide.AddServer(&server);
    const std::uint16_t port = FreePort(SOCK_STREAM);
    server.Start({port});
    server.Start({port});
    auto rows = serverSide.ServerRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].code, channel::EC_PORT_OPEN) << "the first listening socket was closed first";
    server.Start({});
    EXPECT_EQ(server.SocketCount(), 0);
    EXPECT_EQ(server.FindSocket(3), -1);
}

TEST(TcpChannel, RestartedServerReopensPortsItHadConnectionsOn)
{
    // Closing the servers closes their accepted connections first, which leaves
    // those connections waiting out TIME_WAIT on the server's port. Starting the
    // servers again must still open the port, not report it busy.
    CRecordingApp serverSide, clientSide;
    const std::uint16_t port = FreePort(SOCK_STREAM);
    engine::CTcpServer server(&serverSide, AnyAddress());
    serverSide.AddServer(&server);
    server.Start({port});
    {
        engine::CTcpClient client(&clientSide, Loopback(), Options(1));
        clientSide.AddClient(&client);
        client.Start({port});
        ASSERT_TRUE(clientSide.RunUntil([&] { return PortFinished(clientSide, port); }, 5s));
        ASSERT_TRUE(serverSide.RunUntil([&] { return server.AcceptedCount() == 1; }, 5s));
        server.CloseAll(); // the server's end closes first
        clientSide.RemoveClient(&client);
    }
    server.Start({port});
    auto rows = serverSide.ServerRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].code, channel::EC_PORT_OPEN);
}

TEST(TcpChannel, DestroyingAClientMidCheckLeavesNoTaskBehind)
{
    CSilentListener silent;
    CRecordingApp clientSide;
    for (int round = 0; round < 5; ++round) {
        auto client =
            std::make_unique<engine::CTcpClient>(&clientSide, Loopback(), Options(5, 300, 1));
        clientSide.AddClient(client.get());
        client->Start({silent.Port(), FreePort(SOCK_STREAM)});
        clientSide.RunUntil([] { return false; }, std::chrono::milliseconds(50 * round));
        clientSide.RemoveClient(client.get());
        auto begin = std::chrono::steady_clock::now();
        client.reset(); // must wait for its tasks; ASan would see a task touch it
        // Each of the two ports' tasks gets at most TimeSendDelay (1 s) before it
        // is cancelled: about 2 s at worst, a hang would be far more.
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 8s);
    }
}

// A connection that sends and never reads: the server's echoes fill its
// receive window and then the server's send buffer.
class CSlowReader
{
public:
    explicit CSlowReader(std::uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096; // the kernel doubles it; a small window fills soon
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        // Small segments: the server's send buffer then fills in the middle of an
        // echo, not between two, and the send that meets the limit is short.
        const int segment = 536;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof(segment));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        ::fcntl(m_fd, F_SETFL, O_NONBLOCK);
    }
    ~CSlowReader() { ::close(m_fd); }
    bool Connected() const { return m_connected; }
    // Sends what the socket takes now; false once it takes nothing.
    bool Push()
    {
        char chunk[2048] = {};
        return ::send(m_fd, chunk, sizeof(chunk), MSG_NOSIGNAL) > 0;
    }

private:
    int m_fd;
    bool m_connected = false;
};

TEST(TcpServer, ShortEchoToASlowReaderIsAFailedSend)
{
    // The server used to report an echo that wrote fewer bytes than it read (2048
    // -> 1880 to a slow reader) as "Данные отправлены".
    CRecordingApp serverSide;
    const std::uint16_t port = FreePort(SOCK_STREAM);
    engine::CTcpServer server(&serverSide, AnyAddress());
    serverSide.AddServer(&server);
    server.Start({port});
    // A small send buffer (the accepted connection inherits it) fills after a
    // few echoes.
    const int small = 4096;
    ASSERT_EQ(platform::setsockopt(server.SocketAt(0), SOL_SOCKET, SO_SNDBUF,
                                   reinterpret_cast<const char*>(&small), sizeof(small)),
              0);
    CSlowReader reader(port);
    ASSERT_TRUE(reader.Connected());
    auto failedSends = [&] {
        std::vector<RecordedEvent> failed;
        for (const auto& e : serverSide.EventsFor(channel::PROTOCOL_TCP, port)) {
            if (e.code == channel::EC_SEND_FAILED)
                failed.push_back(e);
        }
        return failed;
    };
    // Bounded: at most 16 MB pushed, at most 20 s.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (int chunk = 0;
         chunk < 8192 && failedSends().empty() && std::chrono::steady_clock::now() < deadline;
         ++chunk) {
        reader.Push();
        serverSide.RunUntil([] { return false; }, 1ms);
    }
    const auto failed = failedSends();
    ASSERT_FALSE(failed.empty()) << "the server's send buffer never filled";
    // The first echo that did not fit is the short one; the later ones fail
    // outright (10035).
    const RecordedEvent& first = failed.front();
    EXPECT_EQ(first.status, channel::STATUS_WARNING);
    EXPECT_FALSE(first.incoming);
    EXPECT_EQ(first.peer, "127.0.0.1");
    const std::wstring detail = platform::SystemErrorText(static_cast<unsigned>(first.error));
    EXPECT_EQ(detail.rfind(L"Отправлена только часть данных: ", 0), 0u) << first.error;
    EXPECT_NE(detail.find(L" из 2048 байт"), std::wstring::npos) << first.error;
}

// ---------------------------------------------------------------------------
// Descriptor numbers come back at once: a client that replaces another (the
// next peer after a quick Stop and Start) gets its sockets' numbers.

// What a client does on a port where nothing listens, two attempts: open, a
// connect that fails, the pause, and again. No probe.
constexpr const char* kRefusedTwice = "6 13 7 6 13 7";

TEST(TcpClient, QueuedMessageOfAnOldClientNeverReachesTheNextOne)
{
    // Client messages were keyed by the raw descriptor number: a queued
    // "connected" of the old client made the new one probe a socket that had
    // never connected.
    CSilentListener oldPeer;
    CRecordingApp clientSide;
    auto oldClient = std::make_unique<engine::CTcpClient>(&clientSide, Loopback(), Options(2));
    clientSide.AddClient(oldClient.get());
    oldClient->Start({oldPeer.Port()});
    const platform::SOCKET reused = oldClient->SocketAt(0);
    ASSERT_TRUE(WaitForPost(clientSide, channel::WM_TCP_CLIENT_SOCKET, 5s));
    clientSide.RemoveClient(oldClient.get());
    oldClient.reset();

    const std::uint16_t refused = FreePort(SOCK_STREAM);
    engine::CTcpClient newClient(&clientSide, Address("127.0.0.2"), Options(2));
    clientSide.AddClient(&newClient);
    newClient.Start({refused});
    ASSERT_EQ(newClient.SocketAt(0), reused) << "the system gave the number to another socket";
    ASSERT_TRUE(clientSide.RunUntil([&] { return PortFinished(clientSide, refused); }, 10s));
    EXPECT_EQ(CodesText(ClientCodes(clientSide, refused)), kRefusedTwice);
}

TEST(TcpClient, TimerOfAnOldClientNeverReachesTheNextOne)
{
    // Probe timers have the socket as their id: the old client's timer, still
    // armed when it went, fired on the new client's socket and probed it.
    CRecordingApp serverSide, clientSide;
    const std::uint16_t port = FreePort(SOCK_STREAM);
    engine::CTcpServer server(&serverSide, AnyAddress());
    serverSide.AddServer(&server);
    server.Start({port});
    auto oldClient = std::make_unique<engine::CTcpClient>(&clientSide, Loopback(), Options(3));
    clientSide.AddClient(oldClient.get());
    oldClient->Start({port});
    // The first probe answered, the timer for the second armed.
    ASSERT_TRUE(clientSide.RunUntil(
        [&] {
            const auto codes = ClientCodes(clientSide, port);
            return !clientSide.ArmedTimers().empty() &&
                   std::count(codes.begin(), codes.end(), channel::EC_RECEIVED) == 1;
        },
        5s));
    const platform::SOCKET reused = oldClient->SocketAt(0);
    clientSide.RemoveClient(oldClient.get());
    oldClient.reset();
    EXPECT_TRUE(clientSide.ArmedTimers().empty()) << "a client that goes stops its timers";

    const std::uint16_t refused = FreePort(SOCK_STREAM);
    engine::CTcpClient newClient(&clientSide, Address("127.0.0.2"), Options(2));
    clientSide.AddClient(&newClient);
    newClient.Start({refused});
    ASSERT_EQ(newClient.SocketAt(0), reused) << "the system gave the number to another socket";
    // The old timer was due one second after it was armed, well within this.
    ASSERT_TRUE(clientSide.RunUntil([&] { return PortFinished(clientSide, refused); }, 10s));
    clientSide.RunUntil([] { return false; }, 200ms);
    EXPECT_EQ(CodesText(ClientCodes(clientSide, refused)), kRefusedTwice);
}

} // namespace
} // namespace enginetest
