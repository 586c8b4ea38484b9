#pragma once

// The listening side of UDP channels on one local address: receives datagrams on
// the channels' server ports and sends each one back, unchanged, to the sender's
// address at the channel's configured client port.
//
// Start takes a flat list of pairs: server port, client port, server port, ...
// An odd last entry is ignored.
//
// Threads: everything runs on the GUI thread, driven by WM_UDP_SERVER_SOCKET.

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

    std::vector<std::uint16_t> m_replyPorts;
};

} // namespace engine
