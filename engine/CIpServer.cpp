#include "engine/CIpServer.h"

#include "engine/AppMessages.h"
#include "engine/EventCodes.h"
#include "engine/ProbeMessages.h"

namespace engine {

CIpServer::CIpServer(IApp* sink, const PeerAddress& localAddress)
    : CSocketList(sink, localAddress, PROTOCOL_IP)
{}

CIpServer::~CIpServer()
{
    CloseAll();
}

void CIpServer::OpenSocket(SOCKET& socket, std::uint16_t protocol)
{
    int code = EC_PORT_OPEN;
    int error = 0;
    socket = platform::WSASocket(AF_INET, SOCK_RAW, protocol, nullptr, 0, 0);
    if (socket == platform::INVALID_SOCKET) {
        error = platform::WSAGetLastError();
        code = error == platform::WSAEACCES ? EC_NEED_ADMIN : EC_INTERNAL_ERROR;
    } else if (m_sink == nullptr ||
               m_sink->SelectAsync(socket, WM_IP_SERVER_SOCKET, platform::FD_READ) != 0) {
        error = platform::WSAGetLastError();
        code = EC_INTERNAL_ERROR;
    } else {
        // The port field carries the protocol number, which raw sockets ignore.
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(protocol);
        address.sin_addr.s_addr = m_address.address;
        if (platform::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
            0) {
            error = platform::WSAGetLastError();
            code = error == platform::WSAEADDRINUSE ? EC_PORT_BUSY : EC_INTERNAL_ERROR;
        }
    }
    if (code != EC_PORT_OPEN && socket != platform::INVALID_SOCKET) {
        platform::closesocket(socket);
        socket = platform::INVALID_SOCKET;
    }
    ReportWithServerRow(code, error, protocol);
}

void CIpServer::OnSocketEvent(SOCKET socket, int index, ui::LPARAM code)
{
    if (SocketCount() == 0 || index < 0 || index >= SocketCount() || SocketAt(index) != socket)
        return;
    const std::uint16_t protocol = m_ports[static_cast<std::size_t>(index)];
    if (platform::WSAGETSELECTEVENT(code) == platform::FD_READ &&
        platform::WSAGETSELECTERROR(code) == 0)
        ReadAndAnswer(socket, protocol);
    else
        ReportWithServerRow(EC_INTERNAL_ERROR, platform::WSAGetLastError(), protocol);
}

void CIpServer::ReadAndAnswer(SOCKET socket, std::uint16_t protocol)
{
    char buffer[ReceiveBufferSize];
    sockaddr_in sender{};
    int senderLength = sizeof(sender);
    const int received = platform::recvfrom(socket, buffer, sizeof(buffer), 0,
                                            reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received == platform::SOCKET_ERROR) {
        const int error = platform::WSAGetLastError();
        const int code = error == platform::WSAECONNRESET ? EC_RECEIVE_FAILED : EC_INTERNAL_ERROR;
        Report(EventCodeStatus(code), code, error, nullptr, protocol, 0, false);
        return;
    }
    // What a raw socket reads starts with the IPv4 header; its own length field
    // says where the payload begins (options move it).
    const std::size_t length = static_cast<std::size_t>(received);
    const std::size_t offset =
        Ipv4PayloadOffset(reinterpret_cast<const unsigned char*>(buffer), length);
    if (!PayloadHasWord(buffer + offset, length - offset, ProbeWord))
        return; // not a probe: no event, no reply
    const std::string senderText = AddressText(sender.sin_addr.s_addr);
    Report(STATUS_INFORMATION, EC_RECEIVED, 0, senderText.c_str(), protocol, protocol, true);

    const std::vector<char> reply = BuildReply();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr = sender.sin_addr;
    const int sent = platform::sendto(socket, reply.data(), static_cast<int>(reply.size()), 0,
                                      reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    const int code = sent == static_cast<int>(reply.size()) ? EC_SENT : EC_SEND_FAILED;
    const int error = code == EC_SENT ? 0 : platform::WSAGetLastError();
    Report(EventCodeStatus(code), code, error, senderText.c_str(), protocol, protocol, false);
}

} // namespace engine
