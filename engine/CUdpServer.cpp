#include "engine/CUdpServer.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"
#include "engine/SendOutcome.h"
#include "platform/ReceiveStamp.h"

#include <algorithm>

namespace engine {

CUdpServer::CUdpServer(IApp* sink, const channel::PeerAddress& localAddress)
    : CSocketList(sink, localAddress, channel::PROTOCOL_UDP)
{}

CUdpServer::~CUdpServer()
{
    CloseAll();
}

void CUdpServer::Start(const std::vector<std::uint16_t>& pairs)
{
    std::vector<std::uint16_t> listening;
    std::vector<std::uint16_t> replies;
    const std::size_t used =
        pairs.size() & ~static_cast<std::size_t>(1); // an odd last entry is ignored
    for (std::size_t i = 0; i < used; i += 2) {
        listening.push_back(pairs[i]);
        replies.push_back(pairs[i + 1]);
    }
    StartPorts(listening);
    m_replyPorts = replies;
    // Every server port of the scheme, also one whose socket could not be
    // opened here: the peers serve it all the same.
    m_serverPorts = listening;
    std::sort(m_serverPorts.begin(), m_serverPorts.end());
}

bool CUdpServer::IsServerPort(std::uint16_t port) const
{
    return std::binary_search(m_serverPorts.begin(), m_serverPorts.end(), port);
}

void CUdpServer::OpenSocket(SOCKET& socket, std::uint16_t port)
{
    OpenServerSocket(socket, port,
                     {SOCK_DGRAM, IPPROTO_UDP, channel::WM_UDP_SERVER_SOCKET, platform::FD_READ});
    if (socket != platform::INVALID_SOCKET)
        platform::StampArrivals(socket);
}

void CUdpServer::CloseAll()
{
    m_replyPorts.clear();
    m_serverPorts.clear();
    m_echoes.Clear();
    CloseSockets();
}

void CUdpServer::OnSocketEvent(SOCKET socket, int index, loop::LPARAM code)
{
    if (!IsSocketAt(index, socket))
        return;
    const std::uint16_t port = m_ports[static_cast<std::size_t>(index)];
    const std::uint16_t reply = static_cast<std::size_t>(index) < m_replyPorts.size()
                                    ? m_replyPorts[static_cast<std::size_t>(index)]
                                    : 0;
    if (platform::WSAGETSELECTEVENT(code) == platform::FD_READ &&
        platform::WSAGETSELECTERROR(code) == 0)
        ReceiveAndEcho(socket, port, reply);
    else
        ReportWithServerRow(channel::EC_INTERNAL_ERROR, platform::WSAGetLastError(), port);
}

void CUdpServer::ReceiveAndEcho(SOCKET socket, std::uint16_t listenPort, std::uint16_t replyPort)
{
    char buffer[channel::ReceiveBufferSize];
    sockaddr_in sender{};
    // An unreachable answer to an earlier echo (a closed client port) is
    // reported as a warning.
    const int received = ReceiveDatagram(socket, buffer, sizeof(buffer), sender, listenPort);
    if (received < 0)
        return;
    const std::int64_t arrivalNs = platform::LastArrivalNs(socket);
    const std::string senderText = channel::AddressText(sender.sin_addr.s_addr);
    const std::uint16_t senderPort = ntohs(sender.sin_port);
    Report(channel::STATUS_INFORMATION, channel::EC_RECEIVED, 0, senderText.c_str(), listenPort,
           senderPort, true);
    // Some server's echo (see the header): answering it would start an exchange
    // of echoes that never ends.
    if (IsServerPort(senderPort))
        return;
    // Where this server's echo went within the last 0.9 s: an echo coming
    // back from another node's server (see the header).
    if (m_echoes.EchoedLately(sender.sin_addr.s_addr, senderPort, listenPort, arrivalNs))
        return;

    // The echo goes to the channel's configured client port, not to the port the
    // datagram came from. A channel without a client port (0) is answered where
    // the datagram came from: port 0 can be no one's.
    sockaddr_in target = sender;
    if (replyPort != 0)
        target.sin_port = htons(replyPort);
    const SendOutcome outcome =
        OutcomeOfSend(platform::sendto(socket, buffer, received, 0,
                                       reinterpret_cast<const sockaddr*>(&target), sizeof(target)),
                      received);
    m_echoes.Remember(target.sin_addr.s_addr, ntohs(target.sin_port), listenPort, arrivalNs);
    Report(channel::EventCodeStatus(outcome.code), outcome.code, outcome.error, senderText.c_str(),
           listenPort, ntohs(target.sin_port), false);
}

} // namespace engine
