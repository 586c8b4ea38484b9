#pragma once

// The listening side of UDP channels on one local address: receives datagrams on
// the channels' server ports and sends each one back, unchanged, to the sender's
// address at the channel's configured client port.
//
// Start takes a flat list of pairs: server port, client port, server port, ...
// An odd last entry is ignored.
//
// Echoes of echoes are not answered. Every node serves the same scheme, and a
// server's echo always leaves from one of the scheme's server ports, while a
// probe leaves from its channel's client port (or, when that port cannot be
// bound, from one the system picks). A datagram that comes from one of the
// server ports is therefore some server's echo: it is reported as received and
// not answered. Without this, one datagram made two servers (or one server and
// itself) echo each other without end: a pair whose two ports are equal, crossed
// pairs (a, b) + (b, a), or a pair without a client port hit from a server port.
// A node that serves cannot probe from a port its own server holds, so no probe
// of a serving node is lost; what no longer gets an answer is a probe from a
// client port that is also a server port, sent by a node that does not serve.
//
// Nodes whose schemes differ can still pass a datagram around: node A's server
// port X echoes to node B's port Y, which B serves with a pair whose client
// port is X, and so on; neither sees one of its own server ports as the
// source. So a server also remembers, for each listening port, the remote
// endpoints (address, port) it echoed to, with the arrival time of the
// datagram it answered (CRecentEchoes). A datagram from such an endpoint to
// that listening port which arrives within 0.9 s is received and not
// answered. A client probes one channel at most once a second (the delay
// between probes is at least 1 s), so its next probe comes later than that
// and is answered; an echo loop comes round within a round trip and stops on
// its second turn. The memory is a fixed table: a peer cannot make it grow.
//
// Threads: everything runs on the GUI thread, driven by WM_UDP_SERVER_SOCKET.

#include "engine/CRecentEchoes.h"
#include "engine/CSocketList.h"

#include <vector>

namespace engine {

class CUdpServer final : public CSocketList
{
public:
    CUdpServer(IApp* sink, const channel::PeerAddress& localAddress);
    ~CUdpServer() override;

    void Start(const std::vector<std::uint16_t>& pairs) override;
    void OpenSocket(SOCKET& socket, std::uint16_t port) override;
    void CloseAll() override;
    void OnSocketEvent(SOCKET socket, int index, loop::LPARAM code) override;

    // The reply port of each listening port, by index.
    const std::vector<std::uint16_t>& ReplyPorts() const { return m_replyPorts; }

private:
    void ReceiveAndEcho(SOCKET socket, std::uint16_t listenPort, std::uint16_t replyPort);
    bool IsServerPort(std::uint16_t port) const;

    std::vector<std::uint16_t> m_replyPorts;
    // The scheme's server ports, sorted: where echoes come from.
    std::vector<std::uint16_t> m_serverPorts;
    CRecentEchoes m_echoes;
};

} // namespace engine
