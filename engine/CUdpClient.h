#pragma once

// The probing side of UDP channels for one peer: binds each channel's client
// port and sends a probe from it to the peer's server port (CDatagramClient).
// Any datagram that comes back to the client port is a reply: its content and
// source are not looked at. A client port that cannot be bound is reported
// (2 or 14), and its probes still go, from whatever port the system assigns.
//
// Start takes a flat list of pairs: server port, client port, server port, ...
// An odd last entry is ignored.
//
// Threads: as CDatagramClient.

#include "engine/CDatagramClient.h"

namespace engine {

class CUdpClient final : public CDatagramClient
{
public:
    CUdpClient(IApp* sink, const channel::PeerAddress& peer, const channel::ProbeOptions& options);

    void Start(const std::vector<std::uint16_t>& pairs) override;
    void OpenSocket(SOCKET& socket, std::uint16_t clientPort) override;

private:
    ChannelPorts ChannelAt(int index) const override;
    bool IsReply(const char*, std::size_t) const override { return true; }

    // The server port of each socket, by index (the client ports are the
    // sockets' ports).
    std::vector<std::uint16_t> m_serverPorts;
};

} // namespace engine
