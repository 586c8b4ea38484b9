#include "engine/CIpClient.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"
#include "engine/ClientSupport.h"
#include "engine/SendOutcome.h"
#include "ferrox/sync/Waitable.h"

namespace engine {

namespace {

channel::ClientRow IpRow(const channel::PeerAddress& peer, int code, int eventIndex,
                         std::uint16_t protocol, ProbeCounts counts, bool finished)
{
    channel::ClientRow row;
    row.port = protocol;
    row.protocol = channel::PROTOCOL_IP;
    row.peer = peer;
    row.code = static_cast<std::uint32_t>(code);
    row.port1 = protocol;
    row.port2 = protocol;
    row.attempts = counts.attempts;
    row.replies = counts.replies;
    row.finished = finished;
    row.eventIndex = eventIndex;
    return row;
}

} // namespace

CIpClient::CIpClient(IApp* sink, const channel::PeerAddress& peer,
                     const channel::ProbeOptions& options)
    : CSocketList(sink, peer, channel::PROTOCOL_IP), m_options(options)
{}

CIpClient::~CIpClient()
{
    m_tasks.Shutdown(0);
    StopTimers(); // their ids are socket numbers that the next client may be given
    CloseAll();
}

void CIpClient::Start(const std::vector<std::uint16_t>& protocols)
{
    m_counters.Clear();
    StartPorts(protocols);
}

void CIpClient::OpenSocket(SOCKET& socket, std::uint16_t protocol)
{
    const int index = IndexOfSlot(socket);
    int code = channel::EC_OPENED;
    int error = 0;
    socket = platform::WSASocket(AF_INET, SOCK_RAW, protocol, nullptr, 0, 0);
    if (socket == platform::INVALID_SOCKET) {
        error = platform::WSAGetLastError();
        code = error == platform::WSAEACCES ? channel::EC_NEED_ADMIN : channel::EC_INTERNAL_ERROR;
    } else if (m_sink == nullptr ||
               m_sink->SelectAsync(socket, channel::WM_IP_CLIENT_SOCKET, platform::FD_READ) != 0) {
        error = platform::WSAGetLastError();
        code = channel::EC_INTERNAL_ERROR;
        platform::closesocket(socket);
        socket = platform::INVALID_SOCKET;
    }
    if (code != channel::EC_OPENED) {
        // Without a socket no probe can go: the protocol's row is final at once
        // (shown with code 3 or 14), rather than a run of send failures on a
        // socket that does not exist.
        const int eventIndex =
            Report(channel::EventCodeStatus(code), code, error, nullptr, protocol, 0, false);
        QueueClientRow(IpRow(m_address, code, eventIndex, protocol, ProbeCounts{}, true));
        return;
    }
    const platform::DWORD timeOut =
        static_cast<platform::DWORD>(m_options.timeOut > 0 ? m_options.timeOut : 1);
    platform::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeOut),
                         sizeof(timeOut));
    platform::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeOut),
                         sizeof(timeOut));
    m_counters.Enter(socket, ProbeCounts{});
    if (m_sink)
        m_sink->PostToWindow(channel::WM_IP_CLIENT_SOCKET, static_cast<loop::WPARAM>(socket),
                             WithLife(channel::PROBE_NOW, LifeAt(index)));
    Report(channel::EventCodeStatus(code), code, error, nullptr, protocol, 0, false);
}

void CIpClient::OnSocketEvent(SOCKET socket, int index, loop::LPARAM code)
{
    if (SocketCount() == 0 || index < 0 || index >= SocketCount() || SocketAt(index) != socket)
        return;
    const std::uint16_t protocol = m_ports[static_cast<std::size_t>(index)];
    if (code == channel::PROBE_TIMER || CodeOf(code) == channel::PROBE_NOW) {
        // The first probe is asked for by a message with the socket's life, the
        // others by the timer; anything else is meant for an earlier socket.
        if (!IsOwnRequest(index, code))
            return;
        const int attempts = m_counters.Attempts(socket); // before the task counts its own
        if (attempts >= m_options.maxSendCount)
            return;
        m_tasks.Start(socket,
                      MakeMemberTask(this, &CIpClient::Send, static_cast<unsigned int>(socket),
                                     static_cast<unsigned short>(protocol)));
        if (attempts < m_options.maxSendCount - 1)
            ArmTimer(index, socket, m_options.timeSendDelay);
        return;
    }
    if (platform::WSAGETSELECTERROR(code) != 0) {
        Report(channel::STATUS_ERROR, channel::EC_INTERNAL_ERROR, platform::WSAGetLastError(),
               m_address.text, protocol, protocol, false);
        return;
    }
    if (platform::WSAGETSELECTEVENT(code) == platform::FD_READ) {
        Receive(socket, protocol);
        return;
    }
    Report(channel::STATUS_ERROR, channel::EC_INTERNAL_ERROR, platform::WSAGetLastError(),
           m_address.text, protocol, protocol, false);
}

void CIpClient::Receive(SOCKET socket, std::uint16_t protocol)
{
    m_tasks.WaitAndRemove(socket, -1);
    char buffer[channel::ReceiveBufferSize];
    const int received = platform::recvfrom(socket, buffer, sizeof(buffer), 0, nullptr, nullptr);
    int code;
    int error = 0;
    ProbeCounts counts;
    if (received == platform::SOCKET_ERROR) {
        error = platform::WSAGetLastError();
        // The peer's system answered that it has no such protocol.
        code =
            error == platform::WSAECONNRESET ? channel::EC_NO_PROTOCOL : channel::EC_RECEIVE_FAILED;
        counts = m_counters.Get(socket);
    } else {
        if (!channel::RawDatagramHasWord(buffer, static_cast<std::size_t>(received),
                                         channel::ReplyWord))
            return; // another node's request or any other datagram: no trace
        code = channel::EC_RECEIVED;
        counts = m_counters.AddReply(socket);
    }
    const int eventIndex = Report(channel::EventCodeStatus(code), code, error, m_address.text,
                                  protocol, protocol, true);
    QueueClientRow(IpRow(m_address, code, eventIndex, protocol, counts,
                         counts.attempts == m_options.maxSendCount));
}

void CIpClient::Send(unsigned int socketValue, unsigned short protocol)
{
    const SOCKET socket = static_cast<SOCKET>(socketValue);
    try {
        const std::vector<char> request =
            channel::BuildRequest(channel::DatagramProbeSize(m_options.sendDataSize));
        ProbeCounts counts = m_counters.AddAttempt(socket);
        const sockaddr_in peer = PeerEndpoint(m_address, 0);
        const int sent =
            platform::sendto(socket, request.data(), static_cast<int>(request.size()), 0,
                             reinterpret_cast<const sockaddr*>(&peer), sizeof(peer));
        const SendOutcome outcome = OutcomeOfSend(sent, static_cast<int>(request.size()));
        const int code = outcome.code;
        const int error = outcome.error;
        const int eventIndex = Report(channel::EventCodeStatus(code), code, error, m_address.text,
                                      protocol, protocol, false);
        QueueClientRow(IpRow(m_address, code, eventIndex, protocol, counts, false));
        if (counts.attempts == m_options.maxSendCount) {
            // The pause for the last reply runs in a task of its own, so a read
            // (which waits for this send task on the GUI thread) need not wait it out.
            m_tasks.StartUnlisted(MakeMemberTask(this, &CIpClient::CloseCycle, socketValue,
                                                 protocol, std::make_pair(code, eventIndex)));
        }
    } catch (const EGeneric& e) {
        LogClientTaskError(e);
    }
}

void CIpClient::CloseCycle(unsigned int socketValue, unsigned short protocol,
                           std::pair<int, int> lastProbe)
{
    const SOCKET socket = static_cast<SOCKET>(socketValue);
    try {
        Sleep(static_cast<unsigned>(m_options.timeOut > 0 ? m_options.timeOut : 0));
        // The counts after the pause: a reply that came in it belongs to the cycle.
        const ProbeCounts counts = m_counters.Get(socket);
        QueueClientRow(IpRow(m_address, lastProbe.first, lastProbe.second, protocol, counts, true));
    } catch (const EGeneric& e) {
        LogClientTaskError(e);
    }
}

} // namespace engine
