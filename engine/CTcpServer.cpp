#include "engine/CTcpServer.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "engine/SendOutcome.h"

#include <algorithm>

namespace engine {

namespace {

// "%d.%d.%d.%d" of the connection's own (local) address: the text the server
// reports as the peer of an accepted connection.
std::string LocalAddressText(SOCKET s)
{
    sockaddr_in local{};
    int length = sizeof(local);
    if (platform::getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return channel::AddressText(0);
    return channel::AddressText(local.sin_addr.s_addr);
}

constexpr std::size_t kMinConnections = 16;
constexpr std::size_t kMaxConnections = 4096;

// A peer that checks the whole scheme holds one connection per port: a
// scheme of more ports than kMaxConnections must still fit one peer, as far
// as the descriptors allow.
std::size_t ConnectionLimitNow(std::size_t ports)
{
    const std::size_t quarter = static_cast<std::size_t>(platform::DescriptorLimit()) / 4;
    return std::clamp(quarter, kMinConnections, std::max(kMaxConnections, ports));
}

} // namespace

CTcpServer::CTcpServer(IApp* sink, const channel::PeerAddress& localAddress)
    : CSocketList(sink, localAddress, channel::PROTOCOL_TCP), m_limit(ConnectionLimitNow(0))
{}

void CTcpServer::Start(const std::vector<std::uint16_t>& ports)
{
    m_limit = ConnectionLimitNow(ports.size());
    StartPorts(ports);
    m_waiting.assign(ports.size(), false);
    m_acceptErrors.assign(ports.size(), 0);
    m_fullReported = false;
}

CTcpServer::~CTcpServer()
{
    CloseAll();
}

void CTcpServer::OpenSocket(SOCKET& socket, std::uint16_t port)
{
    OpenServerSocket(socket, port,
                     {SOCK_STREAM, IPPROTO_TCP, channel::WM_TCP_SERVER_SOCKET,
                      platform::FD_READ | platform::FD_ACCEPT | platform::FD_CLOSE});
}

void CTcpServer::CloseAll()
{
    for (const auto& [socket, port] : m_accepted)
        platform::closesocket(socket);
    m_accepted.clear();
    m_waiting.clear();
    m_acceptErrors.clear();
    CloseSockets();
}

int CTcpServer::FindSocket(SOCKET socket) const
{
    int index = CSocketList::FindSocket(socket);
    if (index >= 0)
        return index;
    for (const auto& entry : m_accepted) {
        if (entry.first == socket)
            return SocketCount();
    }
    return -1;
}

void CTcpServer::OnSocketEvent(SOCKET socket, int index, loop::LPARAM code)
{
    const unsigned event = platform::WSAGETSELECTEVENT(code);
    const unsigned error = platform::WSAGETSELECTERROR(code);
    if (SocketCount() == 0 || index < 0 ||
        index >= SocketCount() + static_cast<int>(m_accepted.size()))
        return;
    if (IsSocketAt(index, socket)) {
        if (event == platform::FD_ACCEPT && error == 0) {
            Accept(index);
        } else {
            // The notification's own error is not what is reported here: the
            // last socket error is.
            ReportListenerError(index, platform::WSAGetLastError());
        }
        return;
    }
    OnConnectionEvent(socket, event, error);
}

void CTcpServer::ReportListenerError(int index, int error)
{
    ReportWithServerRow(channel::EC_INTERNAL_ERROR, error, m_ports[static_cast<std::size_t>(index)]);
}

void CTcpServer::Accept(int index)
{
    const std::size_t slot = static_cast<std::size_t>(index);
    if (m_accepted.size() >= m_limit) {
        // No accept call: the connection waits in the system's queue and the
        // listener's notification stays off until a connection closes.
        m_waiting[slot] = true;
        if (!m_fullReported) {
            m_fullReported = true;
            ReportListenerError(index, platform::WSAEMFILE);
        }
        return;
    }
    m_waiting[slot] = false;
    const SOCKET listening = SocketAt(index);
    const std::uint16_t port = m_ports[slot];
    SOCKET accepted = platform::WSAAccept(listening, nullptr, nullptr, nullptr, 0);
    if (accepted == platform::INVALID_SOCKET) {
        const int error = platform::WSAGetLastError();
        // Nothing waiting (a retry after a close found the queue empty) is no
        // failure; a failure that recurs is reported once.
        if (error != platform::WSAEWOULDBLOCK && error != m_acceptErrors[slot]) {
            m_acceptErrors[slot] = error;
            ReportListenerError(index, error);
        }
        return;
    }
    m_acceptErrors[slot] = 0;
    // The accepted socket is watched like its listening socket from here on: its
    // reads and its close arrive as WM_TCP_SERVER_SOCKET.
    m_accepted.emplace_back(accepted, port);
    const std::string address = LocalAddressText(accepted);
    Report(channel::STATUS_INFORMATION, channel::EC_CONNECTED, 0, address.c_str(), port, port,
           false);
}

void CTcpServer::OnConnectionEvent(SOCKET socket, unsigned event, unsigned error)
{
    auto entry = std::find_if(m_accepted.begin(), m_accepted.end(),
                              [&](const auto& e) { return e.first == socket; });
    if (entry == m_accepted.end())
        return;
    const std::uint16_t port = entry->second;
    const std::string address = LocalAddressText(socket);

    if (error != 0) {
        int eventIndex = Report(channel::STATUS_ERROR, channel::EC_INTERNAL_ERROR,
                                static_cast<int>(error), address.c_str(), port, port, false);
        if (m_sink)
            m_sink->UpdateServerRow(channel::EC_INTERNAL_ERROR, m_protocol, port, eventIndex);
        // A connection the peer reset is dead and no longer watched: keeping it
        // listed would only hold its descriptor until the servers stop, and a
        // node that sees many resets would run out of descriptors.
        if (event == platform::FD_CLOSE) {
            Forget(socket, port);
            AcceptWaiting();
        }
        return;
    }
    if (event == platform::FD_READ) {
        char buffer[2048];
        const int received = platform::recv(socket, buffer, sizeof(buffer), 0);
        Report(channel::STATUS_INFORMATION, channel::EC_RECEIVED, 0, address.c_str(), port, port,
               true);
        // A failed read is still reported as received; nothing is echoed then,
        // so no negative or oversize length ever reaches send.
        if (received > 0) {
            // A short echo (a slow reader whose window and our send buffer are
            // full) loses the rest: it is a failed send, with the counts.
            const SendOutcome outcome =
                OutcomeOfSend(platform::send(socket, buffer, received, 0), received);
            Report(channel::EventCodeStatus(outcome.code), outcome.code, outcome.error,
                   address.c_str(), port, port, false);
        }
        return;
    }
    if (event == platform::FD_CLOSE) {
        Forget(socket, port);
        Report(channel::STATUS_INFORMATION, channel::EC_DISCONNECTED, 0, address.c_str(), port,
               port, false);
        AcceptWaiting();
        return;
    }
    Report(channel::STATUS_ERROR, channel::EC_INTERNAL_ERROR, platform::WSAGetLastError(),
           address.c_str(), port, port, false);
}

void CTcpServer::Forget(SOCKET socket, std::uint16_t port)
{
    m_accepted.erase(
        std::remove_if(m_accepted.begin(), m_accepted.end(),
                       [&](const auto& e) { return e.first == socket && e.second == port; }),
        m_accepted.end());
    platform::closesocket(socket);
    if (m_accepted.size() <= m_limit / 2)
        m_fullReported = false;
}

void CTcpServer::AcceptWaiting()
{
    for (int index = 0; index < SocketCount() && m_accepted.size() < m_limit; ++index) {
        if (m_waiting[static_cast<std::size_t>(index)])
            Accept(index); // one connection; the notification brings the next
    }
}

} // namespace engine
