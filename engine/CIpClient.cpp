#include "engine/CIpClient.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"

namespace engine {

CIpClient::CIpClient(IApp* sink, const channel::PeerAddress& peer,
                     const channel::ProbeOptions& options)
    : CDatagramClient(sink, peer, channel::PROTOCOL_IP, channel::WM_IP_CLIENT_SOCKET, options)
{}

CDatagramClient::ChannelPorts CIpClient::ChannelAt(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_ports.size())
        return {};
    const std::uint16_t protocol = m_ports[static_cast<std::size_t>(index)];
    return {protocol, protocol, 0}; // a raw socket's port field carries nothing
}

bool CIpClient::IsReply(const char* data, std::size_t size) const
{
    // What a raw socket reads starts with the IPv4 header.
    return channel::RawDatagramHasWord(data, size, channel::ReplyWord);
}

int CIpClient::ReceiveFailureCode(int error) const
{
    // The peer's system answered that it has no such protocol.
    return error == platform::WSAECONNRESET ? channel::EC_NO_PROTOCOL
                                            : channel::EC_RECEIVE_FAILED;
}

void CIpClient::OpenSocket(SOCKET& socket, std::uint16_t protocol)
{
    const int index = IndexOfSlot(socket);
    socket = platform::WSASocket(AF_INET, SOCK_RAW, protocol, nullptr, 0, 0);
    if (socket == platform::INVALID_SOCKET) {
        // Without a socket no probe can go: the protocol's row is final at once
        // (code 3 or 14), not a run of send failures.
        const int error = platform::WSAGetLastError();
        GiveUp(socket, index,
               error == platform::WSAEACCES ? channel::EC_NEED_ADMIN : channel::EC_INTERNAL_ERROR,
               error);
        return;
    }
    if (!Watch(socket)) {
        GiveUp(socket, index, channel::EC_INTERNAL_ERROR, platform::WSAGetLastError());
        return;
    }
    Ready(socket, index, channel::EC_OPENED, 0);
}

} // namespace engine
