// What the TCP server holds for its peers, and what it does when descriptors
// run short: connections past its limit wait their turn, a failed accept is
// reported once, and a storm of connections is still answered in full.

#include "channel/EventCodes.h"
#include "engine/CTcpServer.h"
#include "engine/support/RecordingApp.h"
#include "platform/support/SocketTestHelpers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace enginetest {
namespace {

using namespace std::chrono_literals;
using testsupport::CDescriptorLimit;
using testsupport::LowestFreeDescriptor;

constexpr int kProbeSize = 10;

// A peer that connects, sends one probe and collects the echo. Plain sockets:
// the peer is not the program.
class CProbingPeer
{
public:
    explicit CProbingPeer(std::uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // The system completes the connection in the listener's queue, accepted
        // or not; the probe waits there too.
        const char probe[kProbeSize] = {};
        m_ready = m_fd >= 0 &&
                  ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                  ::send(m_fd, probe, sizeof(probe), MSG_NOSIGNAL) == kProbeSize;
        ::fcntl(m_fd, F_SETFL, O_NONBLOCK);
    }
    ~CProbingPeer() { Close(); }
    CProbingPeer(const CProbingPeer&) = delete;
    CProbingPeer& operator=(const CProbingPeer&) = delete;

    bool Ready() const { return m_ready; }
    // Bytes of the echo come back so far.
    int Echoed()
    {
        char buffer[64];
        ssize_t n;
        while (m_fd >= 0 && (n = ::recv(m_fd, buffer, sizeof(buffer), 0)) > 0)
            m_echoed += static_cast<int>(n);
        return m_echoed;
    }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    bool m_ready = false;
    int m_echoed = 0;
};

using Peers = std::vector<std::unique_ptr<CProbingPeer>>;

Peers ConnectPeers(std::uint16_t port, std::size_t count)
{
    Peers peers;
    for (std::size_t i = 0; i < count; ++i)
        peers.push_back(std::make_unique<CProbingPeer>(port));
    return peers;
}

std::size_t Answered(Peers& peers)
{
    std::size_t answered = 0;
    for (auto& peer : peers)
        answered += peer->Echoed() == kProbeSize;
    return answered;
}

long CountCode(const CRecordingApp& app, int code)
{
    long n = 0;
    for (const auto& e : app.Events())
        n += e.code == code;
    return n;
}

std::vector<RecordedEvent> EventsWithCode(const CRecordingApp& app, int code)
{
    std::vector<RecordedEvent> found;
    for (const auto& e : app.Events()) {
        if (e.code == code)
            found.push_back(e);
    }
    return found;
}

TEST(TcpServerLimits, AcceptWithoutAFreeDescriptorIsReportedOnceAndServedLater)
{
    // With no descriptor free every turn of the loop failed an accept and
    // reported it: 50,000 to 80,000 code-14 events in 2 s.
    CRecordingApp serverSide;
    const std::uint16_t port = FreePort(SOCK_STREAM);
    engine::CTcpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({port});
    Peers peers = ConnectPeers(port, 3);
    for (auto& peer : peers)
        ASSERT_TRUE(peer->Ready());
    {
        CDescriptorLimit limit(CDescriptorLimit::Exhausted());
        ASSERT_TRUE(limit.Set());
        serverSide.RunUntil([] { return false; }, 2s);
        const auto failures = EventsWithCode(serverSide, channel::EC_INTERNAL_ERROR);
        ASSERT_EQ(failures.size(), 1u) << "reported once, not once per turn of the loop";
        EXPECT_EQ(failures[0].error, platform::WSAEMFILE);
        EXPECT_EQ(failures[0].port1, port);
        EXPECT_EQ(server.AcceptedCount(), 0u);
    }
    // Descriptors to be had again: the waiting connections come in and every
    // probe is echoed, with no further report.
    EXPECT_TRUE(serverSide.RunUntil([&] { return Answered(peers) == peers.size(); }, 10s));
    EXPECT_EQ(server.AcceptedCount(), peers.size());
    EXPECT_EQ(CountCode(serverSide, channel::EC_INTERNAL_ERROR), 1);
}

TEST(TcpServerLimits, ConnectionsPastTheLimitWaitTheirTurn)
{
    // A peer could make the server keep connections without any bound, until
    // the node had no descriptor left for anything else.
    const rlim_t soft = std::max<rlim_t>(256, static_cast<rlim_t>(LowestFreeDescriptor()) * 4);
    CDescriptorLimit limit(soft);
    ASSERT_TRUE(limit.Set());
    CRecordingApp serverSide;
    const std::uint16_t port = FreePort(SOCK_STREAM);
    engine::CTcpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({port});
    const std::size_t bound = server.ConnectionLimit();
    EXPECT_EQ(bound, soft / 4) << "a quarter of the descriptors";

    const std::size_t extra = 6;
    Peers peers = ConnectPeers(port, bound + extra);
    for (auto& peer : peers)
        ASSERT_TRUE(peer->Ready());
    ASSERT_TRUE(serverSide.RunUntil([&] { return Answered(peers) == bound; }, 20s));
    serverSide.RunUntil([] { return false; }, 300ms);
    EXPECT_EQ(server.AcceptedCount(), bound);
    EXPECT_EQ(Answered(peers), bound) << "the rest wait in the system's queue";
    auto full = EventsWithCode(serverSide, channel::EC_INTERNAL_ERROR);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].error, platform::WSAEMFILE);

    // Each connection that closes lets one that waits in.
    for (std::size_t i = 0; i < extra; ++i)
        peers[i]->Close();
    EXPECT_TRUE(serverSide.RunUntil(
        [&] {
            std::size_t answered = 0;
            for (std::size_t i = extra; i < peers.size(); ++i)
                answered += peers[i]->Echoed() == kProbeSize;
            return answered == peers.size() - extra;
        },
        20s));
    EXPECT_EQ(server.AcceptedCount(), bound);
    EXPECT_EQ(CountCode(serverSide, channel::EC_INTERNAL_ERROR), 1) << "the limit is reported once";
}

TEST(TcpServerLimits, StormOfAThousandConnectionsIsAnsweredInFull)
{
    // As the front end does: every descriptor the hard limit allows.
    CDescriptorLimit limit(CDescriptorLimit::Highest());
    if (CDescriptorLimit::Highest() < 4 * 1000 + 256)
        GTEST_SKIP() << "the hard descriptor limit (" << CDescriptorLimit::Highest()
                     << ") leaves no room for a thousand connections and a limit above them";
    CRecordingApp serverSide;
    const std::uint16_t port = FreePort(SOCK_STREAM);
    engine::CTcpServer server(&serverSide, channel::PeerAddress{});
    serverSide.AddServer(&server);
    server.Start({port});
    ASSERT_GE(server.ConnectionLimit(), 1000u);

    Peers peers = ConnectPeers(port, 1000);
    std::size_t ready = 0;
    for (auto& peer : peers)
        ready += peer->Ready();
    ASSERT_EQ(ready, peers.size());
    EXPECT_TRUE(serverSide.RunUntil([&] { return Answered(peers) == peers.size(); }, 60s))
        << Answered(peers) << " of " << peers.size() << " answered";
    EXPECT_EQ(CountCode(serverSide, channel::EC_SENT), 1000);
    EXPECT_EQ(CountCode(serverSide, channel::EC_INTERNAL_ERROR), 0);
}

} // namespace
} // namespace enginetest
