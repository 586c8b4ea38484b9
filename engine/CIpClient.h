#pragma once

// The probing side of IP channels for one peer: a raw socket per protocol
// number (not bound) that sends a probe to the peer (CDatagramClient). Only a
// datagram that carries the reply word, from any host, is a reply; other
// datagrams of the protocol (other nodes' requests) leave no trace. A receive
// that fails with 10054 means the peer's system has no such protocol (12).
// Without administrator rights the protocol reports 3 and its row is final.
//
// Threads: as CDatagramClient.

#include "engine/CDatagramClient.h"

namespace engine {

class CIpClient final : public CDatagramClient
{
public:
    CIpClient(IApp* sink, const channel::PeerAddress& peer, const channel::ProbeOptions& options);

    void OpenSocket(SOCKET& socket, std::uint16_t protocol) override;

private:
    ChannelPorts ChannelAt(int index) const override;
    bool IsReply(const char* data, std::size_t size) const override;
    int ReceiveFailureCode(int error) const override;
};

} // namespace engine
