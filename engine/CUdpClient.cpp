#include "engine/CUdpClient.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"

namespace engine {

CUdpClient::CUdpClient(IApp* sink, const channel::PeerAddress& peer,
                       const channel::ProbeOptions& options)
    : CDatagramClient(sink, peer, channel::PROTOCOL_UDP, channel::WM_UDP_CLIENT_SOCKET, options)
{}

void CUdpClient::Start(const std::vector<std::uint16_t>& pairs)
{
    std::vector<std::uint16_t> clientPorts;
    m_serverPorts.clear();
    const std::size_t used =
        pairs.size() & ~static_cast<std::size_t>(1); // an odd last entry is ignored
    for (std::size_t i = 0; i < used; i += 2) {
        m_serverPorts.push_back(pairs[i]);
        clientPorts.push_back(pairs[i + 1]);
    }
    StartSockets(clientPorts);
}

CDatagramClient::ChannelPorts CUdpClient::ChannelAt(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_serverPorts.size())
        return {};
    const std::uint16_t serverPort = m_serverPorts[static_cast<std::size_t>(index)];
    return {m_ports[static_cast<std::size_t>(index)], serverPort, serverPort};
}

void CUdpClient::OpenSocket(SOCKET& socket, std::uint16_t clientPort)
{
    const int index = IndexOfSlot(socket);
    socket = platform::WSASocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0);
    if (socket == platform::INVALID_SOCKET || !Watch(socket)) {
        GiveUp(socket, index, channel::EC_INTERNAL_ERROR, platform::WSAGetLastError());
        return;
    }
    int code = channel::EC_PORT_OPEN;
    int error = 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(clientPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (platform::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        // The probes still go, from whatever port the system assigns.
        error = platform::WSAGetLastError();
        code =
            error == platform::WSAEADDRINUSE ? channel::EC_PORT_BUSY : channel::EC_INTERNAL_ERROR;
    }
    Ready(socket, index, code, error);
}

} // namespace engine
