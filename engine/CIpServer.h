#pragma once

// The listening side of IP channels on one local address: a raw socket per IP
// protocol number that answers every datagram carrying the probe word with the
// reply word. Raw sockets need administrator rights (root or CAP_NET_RAW);
// without them every protocol reports code 3.
//
// Threads: everything runs on the GUI thread, driven by WM_IP_SERVER_SOCKET.

#include "engine/CSocketList.h"

namespace engine {

class CIpServer final : public CSocketList
{
public:
    CIpServer(IApp* sink, const channel::PeerAddress& localAddress);
    ~CIpServer() override;

    void OpenSocket(SOCKET& socket, std::uint16_t protocol) override;
    void OnSocketEvent(SOCKET socket, int index, loop::LPARAM code) override;

private:
    void ReadAndAnswer(SOCKET socket, std::uint16_t protocol);
};

} // namespace engine
