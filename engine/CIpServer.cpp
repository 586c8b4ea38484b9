#include "engine/CIpServer.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"
#include "engine/SendOutcome.h"

namespace engine {

CIpServer::CIpServer(IApp* sink, const channel::PeerAddress& localAddress)
    : CSocketList(sink, localAddress, channel::PROTOCOL_IP)
{}

CIpServer::~CIpServer()
{
    CloseAll();
}

void CIpServer::OpenSocket(SOCKET& socket, std::uint16_t protocol)
{
    OpenServerSocket(socket, protocol,
                     {SOCK_RAW, protocol, channel::WM_IP_SERVER_SOCKET, platform::FD_READ});
}

void CIpServer::OnSocketEvent(SOCKET socket, int index, loop::LPARAM code)
{
    if (!IsSocketAt(index, socket))
        return;
    const std::uint16_t protocol = m_ports[static_cast<std::size_t>(index)];
    if (platform::WSAGETSELECTEVENT(code) == platform::FD_READ &&
        platform::WSAGETSELECTERROR(code) == 0)
        ReadAndAnswer(socket, protocol);
    else
        ReportWithServerRow(channel::EC_INTERNAL_ERROR, platform::WSAGetLastError(), protocol);
}

void CIpServer::ReadAndAnswer(SOCKET socket, std::uint16_t protocol)
{
    char buffer[channel::ReceiveBufferSize];
    sockaddr_in sender{};
    const int received = ReceiveDatagram(socket, buffer, sizeof(buffer), sender, protocol);
    if (received < 0)
        return;
    // What a raw socket reads starts with the IPv4 header; its own length field
    // says where the payload begins (options move it).
    if (!channel::RawDatagramHasWord(buffer, static_cast<std::size_t>(received),
                                     channel::ProbeWord))
        return; // not a probe: no event, no reply
    const std::string senderText = channel::AddressText(sender.sin_addr.s_addr);
    Report(channel::STATUS_INFORMATION, channel::EC_RECEIVED, 0, senderText.c_str(), protocol,
           protocol, true);

    const std::vector<char> reply = channel::BuildReply();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr = sender.sin_addr;
    const int sent = platform::sendto(socket, reply.data(), static_cast<int>(reply.size()), 0,
                                      reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    const SendOutcome outcome = OutcomeOfSend(sent, static_cast<int>(reply.size()));
    const int code = outcome.code;
    const int error = outcome.error;
    Report(channel::EventCodeStatus(code), code, error, senderText.c_str(), protocol, protocol,
           false);
}

} // namespace engine
