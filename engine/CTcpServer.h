#pragma once

// The listening side of TCP channels on one local address: listens on every
// port, accepts connections and echoes each read with one send.
//
// Threads: everything runs on the GUI thread, driven by WM_TCP_SERVER_SOCKET
// notifications; no lock is taken.

#include "engine/CSocketList.h"

#include <utility>
#include <vector>

namespace engine {

class CTcpServer final : public CSocketList
{
public:
    CTcpServer(IApp* sink, const channel::PeerAddress& localAddress);
    ~CTcpServer() override;

    void OpenSocket(SOCKET& socket, std::uint16_t port) override;
    // Closes the accepted connections, then the listening sockets.
    void CloseAll() override;
    // Notification code: the event (1 read, 8 accept, 32 close) in the low 16
    // bits, its error in the high 16.
    void OnSocketEvent(SOCKET socket, int index, loop::LPARAM code) override;
    // The index of a listening socket; for an accepted connection the number of
    // listening sockets; otherwise -1.
    int FindSocket(SOCKET socket) const override;

    std::size_t AcceptedCount() const { return m_accepted.size(); }

private:
    void Accept(int index);
    void OnConnectionEvent(SOCKET socket, unsigned event, unsigned error);
    // Removes a connection from the list and closes it.
    void Forget(SOCKET socket, std::uint16_t port);

    // (accepted socket, listening port that accepted it), in order of acceptance.
    std::vector<std::pair<SOCKET, std::uint16_t>> m_accepted;
};

} // namespace engine
