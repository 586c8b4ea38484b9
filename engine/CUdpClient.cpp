#include "engine/CUdpClient.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"
#include "engine/ClientSupport.h"
#include "engine/SendOutcome.h"
#include "ferrox/sync/Waitable.h"

namespace engine {

CUdpClient::CUdpClient(IApp* sink, const channel::PeerAddress& peer,
                       const channel::ProbeOptions& options)
    : CSocketList(sink, peer, channel::PROTOCOL_UDP), m_options(options)
{}

CUdpClient::~CUdpClient()
{
    // No bounded wait first: a running probe is interrupted in its last pause.
    m_tasks.Shutdown(0);
    StopTimers(); // their ids are socket numbers that the next client may be given
    CloseAll();
}

void CUdpClient::Start(const std::vector<std::uint16_t>& pairs)
{
    m_counters.Clear();
    if (!m_ports.empty()) {
        CloseAll();
        m_ports.clear();
    }
    std::vector<std::uint16_t> clientPorts;
    m_serverPorts.clear();
    const std::size_t used =
        pairs.size() & ~static_cast<std::size_t>(1); // an odd last entry is ignored
    for (std::size_t i = 0; i < used; i += 2) {
        m_portMap[pairs[i + 1]] = pairs[i];
        m_serverPorts.push_back(pairs[i]);
        clientPorts.push_back(pairs[i + 1]);
    }
    StartPorts(clientPorts);
}

void CUdpClient::CloseAll()
{
    m_portMap.clear();
    CloseSockets();
}

std::uint16_t CUdpClient::ServerPortAt(int index) const
{
    return index >= 0 && static_cast<std::size_t>(index) < m_serverPorts.size()
               ? m_serverPorts[static_cast<std::size_t>(index)]
               : 0;
}

void CUdpClient::QueueRow(int code, int eventIndex, std::uint16_t clientPort,
                          std::uint16_t serverPort, ProbeCounts counts, bool finished)
{
    channel::ClientRow row;
    row.port = serverPort;
    row.protocol = channel::PROTOCOL_UDP;
    row.peer = m_address;
    row.code = static_cast<std::uint32_t>(code);
    row.port1 = clientPort;
    row.port2 = serverPort;
    row.attempts = counts.attempts;
    row.replies = counts.replies;
    row.finished = finished;
    row.eventIndex = eventIndex;
    QueueClientRow(row);
}

void CUdpClient::OpenSocket(SOCKET& socket, std::uint16_t clientPort)
{
    const int index = IndexOfSlot(socket);
    const std::uint16_t serverPort = ServerPortAt(index);
    socket = platform::WSASocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0);
    int code = channel::EC_PORT_OPEN;
    int error = 0;
    if (socket == platform::INVALID_SOCKET || m_sink == nullptr ||
        m_sink->SelectAsync(socket, channel::WM_UDP_CLIENT_SOCKET, platform::FD_READ) != 0) {
        error = platform::WSAGetLastError();
        if (socket != platform::INVALID_SOCKET)
            platform::closesocket(socket);
        socket = platform::INVALID_SOCKET;
        const int eventIndex = Report(channel::STATUS_ERROR, channel::EC_INTERNAL_ERROR, error,
                                      nullptr, clientPort, 0, false);
        // No probe can go from this port: its row is final at once, so the check
        // does not wait for it in vain.
        QueueRow(channel::EC_INTERNAL_ERROR, eventIndex, clientPort, serverPort, ProbeCounts{},
                 true);
        return;
    }
    const platform::DWORD timeOut =
        static_cast<platform::DWORD>(m_options.timeOut > 0 ? m_options.timeOut : 1);
    platform::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeOut),
                         sizeof(timeOut));
    platform::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeOut),
                         sizeof(timeOut));
    m_counters.Enter(socket, ProbeCounts{});

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
    if (m_sink)
        m_sink->PostToWindow(channel::WM_UDP_CLIENT_SOCKET, static_cast<loop::WPARAM>(socket),
                             WithLife(channel::PROBE_NOW, LifeAt(index)));
    Report(channel::EventCodeStatus(code), code, error, nullptr, clientPort, 0, false);
}

void CUdpClient::OnSocketEvent(SOCKET socket, int index, loop::LPARAM code)
{
    if (SocketCount() == 0 || index < 0 || index >= SocketCount() || SocketAt(index) != socket)
        return;
    const std::uint16_t clientPort = m_ports[static_cast<std::size_t>(index)];
    const std::uint16_t serverPort = ServerPortAt(index);

    if (code == channel::PROBE_TIMER || CodeOf(code) == channel::PROBE_NOW) {
        // The first probe is asked for by a message with the socket's life, the
        // others by the timer; anything else is meant for an earlier socket.
        if (!IsOwnRequest(index, code))
            return;
        // Read before the task can count its own attempt.
        const int attempts = m_counters.Attempts(socket);
        if (attempts >= m_options.maxSendCount)
            return;
        m_tasks.Start(socket,
                      MakeMemberTask(this, &CUdpClient::Send, static_cast<unsigned int>(socket),
                                     static_cast<unsigned short>(serverPort),
                                     static_cast<unsigned short>(clientPort)));
        if (attempts < m_options.maxSendCount - 1)
            ArmTimer(index, socket, m_options.timeSendDelay);
        return;
    }
    const unsigned error = platform::WSAGETSELECTERROR(code);
    if (error != 0) {
        Report(channel::STATUS_ERROR, channel::EC_INTERNAL_ERROR, static_cast<int>(error),
               m_address.text, clientPort, serverPort, false);
        return;
    }
    if (platform::WSAGETSELECTEVENT(code) == platform::FD_READ) {
        Receive(socket, clientPort, serverPort);
        return;
    }
    Report(channel::STATUS_ERROR, channel::EC_INTERNAL_ERROR, platform::WSAGetLastError(),
           m_address.text, clientPort, serverPort, false);
}

void CUdpClient::Receive(SOCKET socket, std::uint16_t clientPort, std::uint16_t serverPort)
{
    // A reply is never handled while its probe is still being reported.
    m_tasks.WaitAndRemove(socket, -1);
    char buffer[channel::ReceiveBufferSize];
    const int received = platform::recvfrom(socket, buffer, sizeof(buffer), 0, nullptr, nullptr);
    int code = channel::EC_RECEIVED;
    int error = 0;
    ProbeCounts counts;
    if (received == platform::SOCKET_ERROR) {
        code = channel::EC_RECEIVE_FAILED;
        error = platform::WSAGetLastError();
        counts = m_counters.Get(socket);
    } else {
        // Any datagram at the client port is a reply: content and source are not
        // looked at.
        counts = m_counters.AddReply(socket);
    }
    const int eventIndex = Report(channel::EventCodeStatus(code), code, error, m_address.text,
                                  clientPort, serverPort, true);
    QueueRow(code, eventIndex, clientPort, serverPort, counts,
             counts.attempts == m_options.maxSendCount);
}

void CUdpClient::Send(unsigned int socketValue, unsigned short serverPort,
                      unsigned short clientPort)
{
    const SOCKET socket = static_cast<SOCKET>(socketValue);
    try {
        const std::vector<char> request =
            channel::BuildRequest(channel::DatagramProbeSize(m_options.sendDataSize));
        ProbeCounts counts = m_counters.AddAttempt(socket); // counted before it goes
        const sockaddr_in peer = PeerEndpoint(m_address, serverPort);
        const int sent =
            platform::sendto(socket, request.data(), static_cast<int>(request.size()), 0,
                             reinterpret_cast<const sockaddr*>(&peer), sizeof(peer));
        const SendOutcome outcome = OutcomeOfSend(sent, static_cast<int>(request.size()));
        const int code = outcome.code;
        const int error = outcome.error;
        const int eventIndex = Report(channel::EventCodeStatus(code), code, error, m_address.text,
                                      clientPort, serverPort, false);
        QueueRow(code, eventIndex, clientPort, serverPort, counts, false);
        if (counts.attempts == m_options.maxSendCount) {
            // The pause for the last reply runs in a task of its own: a read
            // waits for this send task on the GUI thread, and must not wait out
            // the pause too (every other channel would stall meanwhile).
            m_tasks.StartUnlisted(
                MakeMemberTask(this, &CUdpClient::CloseCycle, socketValue,
                               LastProbe{code, eventIndex, serverPort, clientPort}));
        }
    } catch (const EGeneric& e) {
        LogClientTaskError(e);
    }
}

void CUdpClient::CloseCycle(unsigned int socketValue, LastProbe probe)
{
    const SOCKET socket = static_cast<SOCKET>(socketValue);
    try {
        Sleep(static_cast<unsigned>(m_options.timeOut > 0 ? m_options.timeOut : 0));
        // The counts after the pause: a reply that came in it belongs to the cycle.
        const ProbeCounts counts = m_counters.Get(socket);
        QueueRow(probe.code, probe.eventIndex, probe.clientPort, probe.serverPort, counts, true);
    } catch (const EGeneric& e) {
        LogClientTaskError(e);
    }
}

} // namespace engine
