#pragma once

// The listening side of TCP channels on one local address: listens on every
// port, accepts connections and echoes each read with one send.
//
// A peer can hold connections open; each costs a descriptor, a notifier and the
// kernel's buffers. The server keeps at most ConnectionLimit() of them: a
// quarter of the process's descriptors (so a peer can never take the ones the
// node's own listening sockets, clients and files need), at least 16 and at
// most 4096 (a thousand peers probing at once fit; more memory buys nothing),
// or the number of listening ports when that is more (one peer checking the
// whole scheme holds a connection on every port).
// At the limit further connections wait in the system's queue, their
// notification off, until one closes; the limit is reported once each time it
// is reached (code 14 with 10024, "too many sockets"). An accept that fails is
// reported once too, not again until an accept succeeds: a failure for want of
// descriptors recurs until one is free, and the event loop offers the waiting
// connection again only after a pause or a close.
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

    // Takes the connection limit from the descriptor limit of the moment, then
    // opens the ports.
    void Start(const std::vector<std::uint16_t>& ports) override;
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
    std::size_t ConnectionLimit() const { return m_limit; }

private:
    void Accept(int index);
    // Code 14 for a listening port, with its server row.
    void ReportListenerError(int index, int error);
    // A connection closed: connections that waited for room come in.
    void AcceptWaiting();
    void OnConnectionEvent(SOCKET socket, unsigned event, unsigned error);
    // Removes a connection from the list and closes it (AcceptWaiting follows
    // once the close is reported).
    void Forget(SOCKET socket, std::uint16_t port);

    // (accepted socket, listening port that accepted it), in order of acceptance.
    std::vector<std::pair<SOCKET, std::uint16_t>> m_accepted;
    std::size_t m_limit;
    // By listening index: a connection waits for room; the accept error last
    // reported (0: none since the last accept that worked).
    std::vector<bool> m_waiting;
    std::vector<int> m_acceptErrors;
    // The limit was reached and reported; again only after the connections
    // have fallen to half of it.
    bool m_fullReported = false;
};

} // namespace engine
