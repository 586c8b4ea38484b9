#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"
#include "engine/CUdpClient.h"
#include "engine/CRecentEchoes.h"
#include "engine/CUdpServer.h"
#include "engine/support/ProbeGate.h"
#include "engine/support/RecordingApp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <memory>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>


#include <atomic>
#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>

namespace enginetest {
namespace {

using namespace std::chrono_literals;

// The system stamps datagrams when they arrive only once some socket has
// asked for stamps, and it turns that on a moment later; a datagram that
// came before is stamped when it is read. A burst that straddles that moment
// has stamps out of order, and the echo tests compare arrivals within bursts.
// So stamping is made to take effect before the first test, and a socket
// that asked for it stays open to the end.
class CArrivalStampsOn final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(self);
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&self), length) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&self), &length) != 0) {
            std::printf("arrival stamps: no socket to ask for them\n");
            return;
        }
        // The first ask turns stamping on; with nothing received yet it fails.
        timespec stamp{};
        ::ioctl(m_socket, SIOCGSTAMPNS, &stamp);
        // Bounded: 1000 rounds of at least 2 ms. A datagram that waits 2 ms
        // before it is read shows whether it was stamped on arrival.
        for (int round = 0; round < 1000; ++round) {
            char byte = 0;
            ::sendto(m_socket, &byte, 1, 0, reinterpret_cast<sockaddr*>(&self), sizeof(self));
            std::this_thread::sleep_for(2ms);
            timespec readAt{};
            ::clock_gettime(CLOCK_REALTIME, &readAt);
            if (::recv(m_socket, &byte, 1, 0) != 1 || ::ioctl(m_socket, SIOCGSTAMPNS, &stamp) != 0)
                continue;
            const auto ns = [](const timespec& t) { return t.tv_sec * 1'000'000'000LL + t.tv_nsec; };
            if (ns(stamp) < ns(readAt) - 1'000'000) {
                if (round > 0)
                    std::printf("arrival stamps: in effect after %d rounds\n", round + 1);
                return;
            }
        }
        std::printf("arrival stamps: not in effect after 1000 rounds\n");
    }
    void TearDown() override
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }

private:
    int m_socket = -1;
};

[[maybe_unused]] ::testing::Environment* const g_arrivalStamps =
    ::testing::AddGlobalTestEnvironment(new CArrivalStampsOn);

channel::PeerAddress Loopback()
{
    channel::PeerAddress peer;
    channel::ParseAddress(peer, "127.0.0.1");
    return peer;
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

// A plain UDP socket on a loopback port, for peers that are not the program.
class CPlainUdp
{
public:
    explicit CPlainUdp(std::uint16_t port = 0, const char* address = "127.0.0.1")
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &local.sin_addr);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof(local));
        socklen_t length = sizeof(local);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length);
        m_port = ntohs(local.sin_port);
        ::fcntl(m_fd, F_SETFL, O_NONBLOCK);
    }
    ~CPlainUdp() { ::close(m_fd); }
    std::uint16_t Port() const { return m_port; }
    void SendTo(std::uint16_t port, const std::string& data, const char* address = "127.0.0.1")
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &to.sin_addr);
        ::sendto(m_fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    }
    int Drain()
    {
        char buffer[4096];
        int n = 0;
        while (::recv(m_fd, buffer, sizeof(buffer), 0) >= 0)
            ++n;
        return n;
    }

private:
    int m_fd;
    std::uint16_t m_port;
};

// The cycle is closed by a row that repeats the last probe's code (sent or
// failed to send) with finished = yes, TimeOut after that probe.
bool Finished(const CRecordingApp& app, std::uint16_t serverPort)
{
    for (const auto& row : app.RowsFor(channel::PROTOCOL_UDP, serverPort)) {
        if (row.finished && (row.code == channel::EC_SENT || row.code == channel::EC_SEND_FAILED))
            return true;
    }
    return false;
}

// The last finished row of a port: the row that closes the cycle, with the
// replies that came in before it.
channel::ClientRow FinalRow(const CRecordingApp& app, std::uint16_t serverPort)
{
    channel::ClientRow last;
    for (const auto& row : app.RowsFor(channel::PROTOCOL_UDP, serverPort)) {
        if (row.finished)
            last = row;
    }
    return last;
}

TEST(UdpChannel, EveryProbeIsEchoedToTheConfiguredClientPort)
{
    CRecordingApp serverSide, clientSide;
    const std::uint16_t s1 = FreePort(SOCK_DGRAM), c1 = FreePort(SOCK_DGRAM);
    const std::uint16_t s2 = FreePort(SOCK_DGRAM), c2 = FreePort(SOCK_DGRAM);
    engine::CUdpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({s1, c1, s2, c2});
    ASSERT_EQ(server.SocketCount(), 2);
    EXPECT_EQ(server.ReplyPorts(), (std::vector<std::uint16_t>{c1, c2}));

    engine::CUdpClient client(&clientSide, Loopback(), Options(3, 300));
    clientSide.AddClient(&client);
    client.Start({s1, c1, s2, c2});
    ASSERT_TRUE(clientSide.RunUntil(
        [&] { return Finished(clientSide, s1) && Finished(clientSide, s2); }, 10s));

    for (auto [s, c] : {std::pair{s1, c1}, std::pair{s2, c2}}) {
        SCOPED_TRACE("pair " + std::to_string(s) + "/" + std::to_string(c));
        channel::ClientRow final = FinalRow(clientSide, s);
        EXPECT_EQ(final.attempts, 3);
        EXPECT_EQ(final.replies, 3);
        EXPECT_EQ(final.port1, c);
        EXPECT_EQ(final.port2, s);
        auto events = clientSide.EventsFor(channel::PROTOCOL_UDP, c);
        std::vector<int> codes = Codes(events);
        EXPECT_EQ(codes.front(), channel::EC_PORT_OPEN);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), channel::EC_SENT), 3);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), channel::EC_RECEIVED), 3);
        // The final row comes about TimeOut after the last probe.
        auto lastSent = std::find_if(events.rbegin(), events.rend(), [](const RecordedEvent& e) {
            return e.code == channel::EC_SENT;
        });
        ASSERT_NE(lastSent, events.rend());
        auto serverEvents = serverSide.EventsFor(channel::PROTOCOL_UDP, s);
        ASSERT_GE(serverEvents.size(), 7u);
        EXPECT_EQ(serverEvents[0].code, channel::EC_PORT_OPEN);
        EXPECT_EQ(serverEvents[1].code, channel::EC_RECEIVED);
        EXPECT_EQ(serverEvents[1].peer, "127.0.0.1");
        EXPECT_EQ(serverEvents[1].port2, c) << "the probe leaves from the bound client port";
        EXPECT_EQ(serverEvents[2].code, channel::EC_SENT);
        EXPECT_EQ(serverEvents[2].port2, c) << "the echo goes to the configured client port";
    }
    EXPECT_TRUE(clientSide.ArmedTimers().empty());
    EXPECT_EQ(clientSide.TimerStarts(), 4) << "timers after probes 1 and 2 of each pair";
}

TEST(UdpChannel, LastProbesPauseDoesNotHoldTheGuiThread)
{
    // A reply to a port's last probe used to wait, on the GUI thread, for the
    // probe's task and its whole pause of TimeOut: every other channel (a TCP
    // echo, say) stalled meanwhile. The GUI thread must stay free.
    CRecordingApp serverSide, clientSide;
    const std::uint16_t s = FreePort(SOCK_DGRAM), c = FreePort(SOCK_DGRAM);
    engine::CUdpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({s, c});
    // A long pause, so that a loop held for it cannot be mistaken for a loop
    // that is merely slow on a busy machine.
    engine::CUdpClient client(&clientSide, Loopback(), Options(1, 3000));
    clientSide.AddClient(&client);
    client.Start({s, c});
    ASSERT_TRUE(clientSide.RunUntil(
        [&] {
            auto codes = Codes(clientSide.EventsFor(channel::PROTOCOL_UDP, c));
            return std::count(codes.begin(), codes.end(), channel::EC_RECEIVED) == 1;
        },
        3s));
    // The reply was handled while the closing pause (3 s) still runs, and the
    // loop keeps turning in the meantime.
    EXPECT_FALSE(Finished(clientSide, s));
    auto begin = std::chrono::steady_clock::now();
    clientSide.RunUntil([] { return false; }, 50ms);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1000ms);
    ASSERT_TRUE(clientSide.RunUntil([&] { return Finished(clientSide, s); }, 10s));
    EXPECT_EQ(FinalRow(clientSide, s).replies, 1)
        << "the closing row counts the reply that came in the pause";
}

TEST(UdpChannel, ReplyToAProbeStillBeingReportedDoesNotHoldTheGuiThread)
{
    // The read of a reply used to wait, on the GUI thread, for the task of its
    // probe: a pool that was slow to finish it froze the window meanwhile. The
    // probe's task is held here at its "sent" event; the GUI thread must keep
    // turning, and the reply must still follow its probe.
    CRecordingApp serverSide, clientSide;
    CProbeGate gate(clientSide, channel::PROTOCOL_UDP);
    const std::uint16_t s = FreePort(SOCK_DGRAM), c = FreePort(SOCK_DGRAM);
    engine::CUdpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({s, c});
    engine::CUdpClient client(&clientSide, Loopback(), Options(1, 200));
    clientSide.AddClient(&client);
    client.Start({s, c});
    // The probe is out and echoed (the server runs on this thread too) while
    // its task is held.
    ASSERT_TRUE(serverSide.RunUntil(
        [&] {
            auto codes = Codes(serverSide.EventsFor(channel::PROTOCOL_UDP, s));
            return gate.Held() == 1 &&
                   std::count(codes.begin(), codes.end(), channel::EC_SENT) == 1;
        },
        10s));
    EXPECT_TRUE(CProbeGate::LoopTurns(clientSide));
    EXPECT_FALSE(gate.TimedOut()) << "the GUI thread waited for the held probe task";
    auto codes = Codes(clientSide.EventsFor(channel::PROTOCOL_UDP, c));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), channel::EC_RECEIVED), 0)
        << "a reply is not reported before its probe";
    gate.Open();
    ASSERT_TRUE(clientSide.RunUntil([&] { return Finished(clientSide, s); }, 10s));
    codes = Codes(clientSide.EventsFor(channel::PROTOCOL_UDP, c));
    EXPECT_EQ(CodesText(codes), CodesText({channel::EC_PORT_OPEN, channel::EC_SENT,
                                           channel::EC_RECEIVED}));
    EXPECT_EQ(FinalRow(clientSide, s).replies, 1);
    EXPECT_EQ(clientSide.PauseTimerStarts(), 1) << "the closing pause is a timer";
}

TEST(UdpChannel, FinalRowFollowsTheLastProbeAfterTimeOut)
{
    CRecordingApp serverSide, clientSide;
    const std::uint16_t s = FreePort(SOCK_DGRAM), c = FreePort(SOCK_DGRAM);
    engine::CUdpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({s, c});
    // MaxSendCount 1: one probe, no timer, the final row TimeOut later.
    engine::CUdpClient client(&clientSide, Loopback(), Options(1, 400));
    clientSide.AddClient(&client);
    auto begin = std::chrono::steady_clock::now();
    client.Start({s, c, 9}); // an odd last entry is ignored
    EXPECT_EQ(client.SocketCount(), 1);
    ASSERT_TRUE(clientSide.RunUntil([&] { return Finished(clientSide, s); }, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 390ms);
    EXPECT_EQ(clientSide.TimerStarts(), 0);
    auto codes = Codes(clientSide.EventsFor(channel::PROTOCOL_UDP, c));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), channel::EC_SENT), 1);
    EXPECT_EQ(FinalRow(clientSide, s).replies, 1);
}

TEST(UdpChannel, EchoGoesToTheConfiguredPortNotTheSource)
{
    // The client port is taken by someone else: the client's bind fails (2), its
    // probes leave from a port the system picks, and the server's echo goes to the
    // configured port - where the other socket, not the client, gets it.
    CPlainUdp squatter;
    CRecordingApp serverSide, clientSide;
    const std::uint16_t s = FreePort(SOCK_DGRAM);
    engine::CUdpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({s, squatter.Port()});
    engine::CUdpClient client(&clientSide, Loopback(), Options(2, 200));
    clientSide.AddClient(&client);
    client.Start({s, squatter.Port()});
    ASSERT_TRUE(clientSide.RunUntil([&] { return Finished(clientSide, s); }, 6s));
    auto events = clientSide.EventsFor(channel::PROTOCOL_UDP, squatter.Port());
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].code, channel::EC_PORT_BUSY);
    EXPECT_EQ(FinalRow(clientSide, s).attempts, 2);
    EXPECT_EQ(FinalRow(clientSide, s).replies, 0);
    EXPECT_EQ(squatter.Drain(), 2) << "both echoes reached the configured client port";
}

TEST(UdpChannel, AnyDatagramAtTheClientPortCountsAsAReply)
{
    CRecordingApp clientSide;
    CPlainUdp silentServer; // takes the probes, answers nothing
    CPlainUdp stranger;
    const std::uint16_t c = FreePort(SOCK_DGRAM);
    engine::CUdpClient client(&clientSide, Loopback(), Options(2, 300));
    clientSide.AddClient(&client);
    client.Start({silentServer.Port(), c});
    clientSide.RunUntil([&] { return !clientSide.EventsFor(channel::PROTOCOL_UDP, c).empty(); },
                        2s);
    stranger.SendTo(c, "not an echo at all");
    ASSERT_TRUE(clientSide.RunUntil([&] { return Finished(clientSide, silentServer.Port()); }, 6s));
    EXPECT_EQ(FinalRow(clientSide, silentServer.Port()).replies, 1);
}

TEST(UdpChannel, ClosedServerPortIsReportedAndAttemptsGoOn)
{
    CRecordingApp clientSide;
    const std::uint16_t closed = FreePort(SOCK_DGRAM), c = FreePort(SOCK_DGRAM);
    engine::CUdpClient client(&clientSide, Loopback(), Options(3, 200));
    clientSide.AddClient(&client);
    client.Start({closed, c});
    ASSERT_TRUE(clientSide.RunUntil([&] { return Finished(clientSide, closed); }, 8s));
    auto codes = Codes(clientSide.EventsFor(channel::PROTOCOL_UDP, c));
    const auto failures = std::count(codes.begin(), codes.end(), channel::EC_RECEIVE_FAILED) +
                          std::count(codes.begin(), codes.end(), channel::EC_INTERNAL_ERROR);
    EXPECT_GE(failures, 1) << CodesText(codes);
    for (const auto& e : clientSide.EventsFor(channel::PROTOCOL_UDP, c)) {
        if (e.code == channel::EC_RECEIVE_FAILED) {
            EXPECT_EQ(e.error, platform::WSAECONNRESET);
        }
    }
    EXPECT_EQ(FinalRow(clientSide, closed).attempts, 3);
    EXPECT_EQ(FinalRow(clientSide, closed).replies, 0);
}

long ResidentKilobytes()
{
    long kb = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof(line), f)) {
            if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1)
                break;
        }
        std::fclose(f);
    }
    return kb;
}

TEST(UdpChannel, ServerKeepsAnsweringAFlood)
{
    CRecordingApp serverSide;
    const std::uint16_t s = FreePort(SOCK_DGRAM);
    // The echoes go to another port than the flood's source: a server answers
    // datagrams from the very endpoint it echoed to once in 0.9 s (see
    // UdpEchoLoop), and a flood of probes from a client port is tested there.
    CPlainUdp flooder, echoSink;
    engine::CUdpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({s, echoSink.Port()});
    const std::vector<char> probe = channel::BuildRequest(10);
    const std::string payload(probe.begin(), probe.end());
    [[maybe_unused]] const long rssBefore = ResidentKilobytes();

    // 100,000 datagrams as fast as the sender can, bounded in time, from another
    // thread while this one serves the server. The kernel drops what does not fit
    // the socket's buffer; what the server reads it must answer.
    const int total = 100000;
    std::atomic<int> sent{0};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        auto deadline = std::chrono::steady_clock::now() + 30s;
        while (sent < total && std::chrono::steady_clock::now() < deadline) {
            flooder.SendTo(s, payload);
            ++sent;
        }
        done = true;
    });
    serverSide.RunUntil([&] { return done.load(); }, 60s);
    sender.join();
    serverSide.RunUntil([] { return false; }, 500ms);
    auto codes = Codes(serverSide.EventsFor(channel::PROTOCOL_UDP, s));
    const auto received = std::count(codes.begin(), codes.end(), channel::EC_RECEIVED);
    const auto answered = std::count(codes.begin(), codes.end(), channel::EC_SENT);
    EXPECT_EQ(sent.load(), total);
    EXPECT_GT(received, 1000) << "the server kept reading";
    EXPECT_EQ(received, answered) << "every datagram read was echoed";
    EXPECT_EQ(std::count(codes.begin(), codes.end(), channel::EC_INTERNAL_ERROR), 0);
#if !defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's shadow of every touched address outweighs the events
    // themselves, so the resident size says nothing about them there.
    const long growth = ResidentKilobytes() - rssBefore;
    EXPECT_LT(growth * 1024 / std::max<long>(1, static_cast<long>(received)), 4096)
        << "memory grows with the events kept, not with the flood";
#endif

    // Still serving afterwards.
    flooder.Drain();
    const std::size_t before = serverSide.Events().size();
    flooder.SendTo(s, payload);
    EXPECT_TRUE(serverSide.RunUntil([&] { return serverSide.Events().size() >= before + 2; }, 2s));
}

// ---------------------------------------------------------------------------
// Echo loops. Every node serves the same scheme, so two servers that answer each
// other's echoes would never stop. Two nodes are two loopback addresses here:
//
//   node 1 127.0.0.1 (every server port) <-- lo --> node 2 127.0.0.2 (every server port)

struct Exchange
{
    long received = 0;
    long sent = 0;
};

Exchange CountExchange(const CRecordingApp& app)
{
    Exchange exchange;
    for (const auto& e : app.Events()) {
        exchange.received += e.code == channel::EC_RECEIVED;
        exchange.sent += e.code == channel::EC_SENT;
    }
    return exchange;
}

std::string ExchangeText(const Exchange& e)
{
    return std::to_string(e.received) + " received, " + std::to_string(e.sent) + " sent";
}

// Waits until the expected datagrams have been handled, then keeps the loop
// turning a while longer: an exchange that goes on would show in the counts.
void SettleExchange(CRecordingApp& app, const std::function<bool()>& expected)
{
    app.RunUntil(expected, 5s);
    app.RunUntil([] { return false; }, 500ms);
}

std::string ProbeText()
{
    const std::vector<char> probe = channel::BuildRequest(10);
    return std::string(probe.begin(), probe.end());
}

TEST(UdpEchoLoop, NodeWithServerPortEqualToClientPortAnswersItsOwnEchoNever)
{
    // One datagram to a (P, P) pair used to make the server answer its own echo
    // forever (100,000 events in 3 s): the echo goes to port P of the sender,
    // which is this very server when the node checks itself.
    const std::uint16_t p = FreePort(SOCK_DGRAM);
    CRecordingApp node;
    engine::CUdpServer server(&node, channel::PeerAddress{});
    node.AddServer(&server);
    server.Start({p, p});
    CPlainUdp prober;
    prober.SendTo(p, ProbeText());
    SettleExchange(node, [&] { return CountExchange(node).received >= 2; });
    const Exchange e = CountExchange(node);
    EXPECT_EQ(e.sent, 1) << ExchangeText(e);
    EXPECT_EQ(e.received, 2) << "the probe and the server's own echo: " << ExchangeText(e);
    EXPECT_EQ(prober.Drain(), 0) << "the echo went to the configured port P, not the source";
}

TEST(UdpEchoLoop, NodeThatChecksItselfWithServerPortEqualToClientPortStops)
{
    // kanaliko-cli check 127.0.0.1 --serve with srvPort = clPort: the client's
    // bind of P fails (the server holds it), its probes leave from another port,
    // and each is answered once, to the server's own port P.
    const std::uint16_t p = FreePort(SOCK_DGRAM);
    CRecordingApp node;
    engine::CUdpServer server(&node, channel::PeerAddress{});
    node.AddServer(&server);
    server.Start({p, p});
    engine::CUdpClient client(&node, Address("127.0.0.1"), Options(2, 200));
    node.AddClient(&client);
    client.Start({p, p});
    ASSERT_TRUE(node.RunUntil([&] { return Finished(node, p); }, 10s));
    SettleExchange(node, [] { return true; });
    auto clientEvents = node.EventsFor(channel::PROTOCOL_UDP, p);
    ASSERT_FALSE(clientEvents.empty());
    EXPECT_EQ(std::count_if(clientEvents.begin(), clientEvents.end(),
                            [](const RecordedEvent& e) { return e.code == channel::EC_PORT_BUSY; }),
              1);
    const Exchange e = CountExchange(node);
    // Two probes (sent by the client), two echoes (sent by the server), and each
    // probe and each echo received once by the server.
    EXPECT_EQ(e.sent, 4) << ExchangeText(e);
    EXPECT_EQ(e.received, 4) << ExchangeText(e);
    EXPECT_EQ(FinalRow(node, p).replies, 0);
}

TEST(UdpEchoLoop, CrossedPairsOnOneNodeAnswerOnce)
{
    // (a, b) + (b, a): server a echoes to port b, where server b listens; server
    // b used to echo that back to port a, and so on without end.
    const std::uint16_t a = FreePort(SOCK_DGRAM), b = FreePort(SOCK_DGRAM);
    CRecordingApp node;
    engine::CUdpServer server(&node, channel::PeerAddress{});
    node.AddServer(&server);
    server.Start({a, b, b, a});
    CPlainUdp prober;
    prober.SendTo(a, ProbeText());
    SettleExchange(node, [&] { return CountExchange(node).received >= 2; });
    const Exchange e = CountExchange(node);
    EXPECT_EQ(e.sent, 1) << ExchangeText(e);
    EXPECT_EQ(e.received, 2) << ExchangeText(e);
    EXPECT_EQ(node.EventsFor(channel::PROTOCOL_UDP, b).size(), 2u)
        << "port b opened, echo received";
}

TEST(UdpEchoLoop, TwoNodesWithTheSameSchemeNeverEchoEachOthersEchoes)
{
    // Schemes in which one probe used to start an endless exchange between the
    // servers of two nodes: (P, P); crossed pairs; and (Q, P) + (P, 0), where
    // the (P, 0) pair answers the source port, which is Q.
    const std::uint16_t p = FreePort(SOCK_DGRAM), q = FreePort(SOCK_DGRAM);
    const std::vector<std::vector<std::uint16_t>> schemes = {{p, p}, {p, q, q, p}, {q, p, p, 0}};
    for (const auto& scheme : schemes) {
        SCOPED_TRACE("scheme " + CodesText(std::vector<int>(scheme.begin(), scheme.end())));
        CRecordingApp node1, node2;
        engine::CUdpServer server1(&node1, Address("127.0.0.1"));
        engine::CUdpServer server2(&node2, Address("127.0.0.2"));
        node1.AddServer(&server1);
        node2.AddServer(&server2);
        server1.Start(scheme);
        server2.Start(scheme);
        ASSERT_NE(server2.SocketAt(0), platform::INVALID_SOCKET);
        CPlainUdp prober(0, "127.0.0.1"); // a client of node 1, from a client port
        prober.SendTo(scheme[0], ProbeText(), "127.0.0.2");
        SettleExchange(node1, [&] { return CountExchange(node1).received >= 1; });
        const Exchange one = CountExchange(node1), two = CountExchange(node2);
        EXPECT_EQ(two.received, 1) << "node 2: " << ExchangeText(two);
        EXPECT_EQ(two.sent, 1) << "node 2: " << ExchangeText(two);
        EXPECT_EQ(one.received, 1) << "node 1: " << ExchangeText(one);
        EXPECT_EQ(one.sent, 0) << "node 1 does not answer node 2's echo: " << ExchangeText(one);
    }
}

// Runs the loop until no event has been recorded by any of the nodes for
// `quiet`, or `limit` is up; whether it went quiet.
bool WaitForQuiet(const std::vector<CRecordingApp*>& nodes, std::chrono::milliseconds quiet,
                  std::chrono::milliseconds limit)
{
    auto count = [&] {
        std::size_t n = 0;
        for (const CRecordingApp* node : nodes)
            n += node->Events().size();
        return n;
    };
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::size_t seen = count();
    auto lastChange = std::chrono::steady_clock::now();
    nodes.front()->RunUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (count() != seen) {
                seen = count();
                lastChange = now;
            }
            return now - lastChange >= quiet || now >= deadline;
        },
        limit + quiet);
    return std::chrono::steady_clock::now() - lastChange >= quiet;
}

TEST(UdpEchoLoop, TwoNodesWithDifferentSchemesStopAfterOneRound)
{
    // Node 1 serves (Y, X), node 2 serves (X, Y): node 2's echo leaves X for
    // port Y of node 1, whose echo leaves Y for port X of node 2, and so on.
    // Neither sees one of its own server ports as the source; what stops the
    // exchange is that node 2 has just echoed to (node 1, Y) from X.
    const std::uint16_t x = FreePort(SOCK_DGRAM), y = FreePort(SOCK_DGRAM);
    CRecordingApp node1, node2;
    engine::CUdpServer server1(&node1, Address("127.0.0.1"));
    engine::CUdpServer server2(&node2, Address("127.0.0.2"));
    node1.AddServer(&server1);
    node2.AddServer(&server2);
    server1.Start({y, x});
    server2.Start({x, y});
    ASSERT_NE(server1.SocketAt(0), platform::INVALID_SOCKET);
    ASSERT_NE(server2.SocketAt(0), platform::INVALID_SOCKET);
    CPlainUdp prober(0, "127.0.0.1");
    prober.SendTo(x, ProbeText(), "127.0.0.2");
    ASSERT_TRUE(WaitForQuiet({&node1, &node2}, 1500ms, 20s))
        << "still exchanging: node 1 " << ExchangeText(CountExchange(node1)) << ", node 2 "
        << ExchangeText(CountExchange(node2));
    const Exchange one = CountExchange(node1), two = CountExchange(node2);
    EXPECT_EQ(two.received, 2) << "the probe and node 1's echo: " << ExchangeText(two);
    EXPECT_EQ(two.sent, 1) << ExchangeText(two);
    EXPECT_EQ(one.received, 1) << ExchangeText(one);
    EXPECT_EQ(one.sent, 1) << ExchangeText(one);
    EXPECT_EQ(prober.Drain(), 0) << "the echoes went to the configured ports";
}

TEST(UdpEchoLoop, AClientPortIsAnsweredOnceInTheWindowAndForEveryChannel)
{
    // One client port c shared by two channels (s1, c) and (s2, c): a probe on
    // each is answered. A burst of probes from c to s1 within 0.9 s gets one
    // echo; after the window the next one is answered again.
    const std::uint16_t s1 = FreePort(SOCK_DGRAM), s2 = FreePort(SOCK_DGRAM);
    CPlainUdp client;
    const std::uint16_t c = client.Port();
    CRecordingApp node;
    engine::CUdpServer server(&node, channel::PeerAddress{});
    node.AddServer(&server);
    server.Start({s1, c, s2, c});
    auto sentOn = [&](std::uint16_t port) {
        const auto codes = Codes(node.EventsFor(channel::PROTOCOL_UDP, port));
        return std::count(codes.begin(), codes.end(), channel::EC_SENT);
    };
    auto receivedOn = [&](std::uint16_t port) {
        const auto codes = Codes(node.EventsFor(channel::PROTOCOL_UDP, port));
        return std::count(codes.begin(), codes.end(), channel::EC_RECEIVED);
    };
    for (int i = 0; i < 5; ++i)
        client.SendTo(s1, ProbeText());
    client.SendTo(s2, ProbeText());
    ASSERT_TRUE(node.RunUntil([&] { return receivedOn(s1) == 5 && receivedOn(s2) == 1; }, 10s));
    EXPECT_EQ(sentOn(s1), 1) << "one echo for the burst";
    EXPECT_EQ(sentOn(s2), 1) << "the other channel of the same client port";

    // Past the window: the burst arrived before now, so 1.2 s from now is
    // more than 0.9 s after its answered datagram.
    const auto answered = std::chrono::steady_clock::now();
    ASSERT_TRUE(node.RunUntil(
        [&] { return std::chrono::steady_clock::now() - answered > 1200ms; }, 5s));
    client.SendTo(s1, ProbeText());
    ASSERT_TRUE(node.RunUntil([&] { return receivedOn(s1) == 6; }, 10s));
    ASSERT_TRUE(node.RunUntil([&] { return sentOn(s1) == 2; }, 10s));
    EXPECT_EQ(client.Drain(), 3);
}

TEST(UdpEchoLoop, TheMemoryOfEchoesIsAFixedTableThatForgetsTheOldest)
{
    using engine::CRecentEchoes;
    constexpr std::int64_t ms = 1'000'000;
    auto echoes = std::make_unique<CRecentEchoes>();
    echoes->Remember(1, 100, 7, 1000 * ms);
    EXPECT_TRUE(echoes->EchoedLately(1, 100, 7, 1000 * ms + 899 * ms));
    EXPECT_FALSE(echoes->EchoedLately(1, 100, 7, 1000 * ms + 900 * ms)) << "the window ends";
    EXPECT_FALSE(echoes->EchoedLately(1, 100, 8, 1000 * ms)) << "another listening port";
    EXPECT_FALSE(echoes->EchoedLately(2, 100, 7, 1000 * ms)) << "another address";
    EXPECT_FALSE(echoes->EchoedLately(1, 100, 7, 999 * ms)) << "a clock set back";

    // A peer that makes the server echo to more endpoints than the table holds
    // pushes out the oldest ones, not the newest, and the table stays its size.
    for (std::uint16_t port = 1; port <= CRecentEchoes::Capacity; ++port)
        echoes->Remember(9, port, 7, (2000 + port) * ms);
    EXPECT_FALSE(echoes->EchoedLately(1, 100, 7, 1001 * ms)) << "the oldest made room";
    EXPECT_TRUE(echoes->EchoedLately(9, 1, 7, 2001 * ms));
    echoes->Remember(9, 1000, 7, 2500 * ms);
    EXPECT_FALSE(echoes->EchoedLately(9, 1, 7, 2001 * ms));
    EXPECT_TRUE(echoes->EchoedLately(9, 2, 7, 2002 * ms));
    EXPECT_TRUE(echoes->EchoedLately(9, 1000, 7, 2500 * ms));
    static_assert(sizeof(CRecentEchoes) <= CRecentEchoes::Capacity * 24);
    echoes->Clear();
    EXPECT_FALSE(echoes->EchoedLately(9, 1000, 7, 2500 * ms));
}

TEST(UdpChannel, PairWithoutClientPortIsAnsweredAtTheSourcePort)
{
    // A channel whose client port is 0: the client binds a port the system
    // picks, and the server answers wherever the probe came from.
    CRecordingApp serverSide, clientSide;
    const std::uint16_t s = FreePort(SOCK_DGRAM);
    engine::CUdpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({s, 0});
    engine::CUdpClient client(&clientSide, Loopback(), Options(2, 300));
    clientSide.AddClient(&client);
    client.Start({s, 0});
    ASSERT_TRUE(clientSide.RunUntil([&] { return Finished(clientSide, s); }, 10s));
    const channel::ClientRow final = FinalRow(clientSide, s);
    EXPECT_EQ(final.attempts, 2);
    EXPECT_EQ(final.replies, 2);
    EXPECT_EQ(final.port1, 0);
    auto serverEvents = serverSide.EventsFor(channel::PROTOCOL_UDP, s);
    ASSERT_GE(serverEvents.size(), 3u);
    EXPECT_EQ(serverEvents[1].code, channel::EC_RECEIVED);
    EXPECT_NE(serverEvents[1].port2, 0) << "the source port the system picked";
    EXPECT_EQ(serverEvents[2].code, channel::EC_SENT);
    EXPECT_EQ(serverEvents[2].port2, serverEvents[1].port2) << "answered at the source port";
}

TEST(UdpClient, ProbeRequestOfAnOldClientNeverReachesTheNextOne)
{
    // The first probe is asked for by a posted message keyed by the socket: a
    // queued request of a client that went made the next client, which got the
    // same descriptor number, send two probes at once instead of one a second.
    CRecordingApp clientSide;
    CPlainUdp oldPeer, newPeer; // take the probes, answer nothing
    auto oldClient = std::make_unique<engine::CUdpClient>(&clientSide, Loopback(), Options(2));
    clientSide.AddClient(oldClient.get());
    oldClient->Start({oldPeer.Port(), FreePort(SOCK_DGRAM)});
    const platform::SOCKET reused = oldClient->SocketAt(0);
    clientSide.RemoveClient(oldClient.get());
    oldClient.reset(); // its request for the first probe is still queued

    const std::uint16_t c = FreePort(SOCK_DGRAM);
    engine::CUdpClient newClient(&clientSide, Loopback(), Options(2));
    clientSide.AddClient(&newClient);
    newClient.Start({newPeer.Port(), c});
    ASSERT_EQ(newClient.SocketAt(0), reused) << "the system gave the number to another socket";
    ASSERT_TRUE(clientSide.RunUntil([&] { return Finished(clientSide, newPeer.Port()); }, 10s));
    std::vector<RecordedEvent> sent;
    for (const auto& e : clientSide.EventsFor(channel::PROTOCOL_UDP, c)) {
        if (e.code == channel::EC_SENT)
            sent.push_back(e);
    }
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_GE(sent[1].at - sent[0].at, 900ms) << "the second probe waits for the timer";
    EXPECT_EQ(newPeer.Drain(), 2);
}

} // namespace
} // namespace enginetest
