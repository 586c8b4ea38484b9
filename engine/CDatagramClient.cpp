#include "engine/CDatagramClient.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"
#include "engine/ClientSupport.h"
#include "engine/SendOutcome.h"

namespace engine {

CDatagramClient::CDatagramClient(IApp* sink, const channel::PeerAddress& peer, int protocol,
                                 loop::UINT message, const channel::ProbeOptions& options)
    : CSocketList(sink, peer, protocol), m_options(options), m_message(message)
{}

CDatagramClient::~CDatagramClient()
{
    // Tasks first, without a bounded wait: a probe still running is cut short
    // in its last pause. Then the timers, whose ids are socket numbers that
    // the next client may be given.
    m_tasks.Shutdown(0);
    StopTimers();
    CloseAll();
}

void CDatagramClient::Start(const std::vector<std::uint16_t>& ports)
{
    StartSockets(ports);
}

void CDatagramClient::StartSockets(const std::vector<std::uint16_t>& socketPorts)
{
    m_counters.Clear();
    // Before any socket is open: its first message may come at once.
    m_states.assign(socketPorts.size(), ChannelState{});
    {
        std::lock_guard<std::mutex> lock(m_lastLock);
        m_lastProbes.assign(socketPorts.size(), LastProbe{});
    }
    StartPorts(socketPorts);
}

int CDatagramClient::ReceiveFailureCode(int) const
{
    return channel::EC_RECEIVE_FAILED;
}

void CDatagramClient::QueueRow(int code, int eventIndex, const ChannelPorts& ports,
                               ProbeCounts counts, bool finished)
{
    channel::ClientRow row;
    row.port = ports.peerPort;
    row.protocol = static_cast<std::uint32_t>(m_protocol);
    row.peer = m_address;
    row.code = static_cast<std::uint32_t>(code);
    row.port1 = ports.localPort;
    row.port2 = ports.peerPort;
    row.attempts = counts.attempts;
    row.replies = counts.replies;
    row.finished = finished;
    row.eventIndex = eventIndex;
    QueueClientRow(row);
}

bool CDatagramClient::Watch(SOCKET socket)
{
    return m_sink != nullptr && m_sink->SelectAsync(socket, m_message, platform::FD_READ) == 0;
}

void CDatagramClient::GiveUp(SOCKET& socket, int index, int code, int error)
{
    if (socket != platform::INVALID_SOCKET)
        platform::closesocket(socket);
    socket = platform::INVALID_SOCKET;
    const ChannelPorts ports = ChannelAt(index);
    const int eventIndex =
        Report(channel::EventCodeStatus(code), code, error, nullptr, ports.localPort, 0, false);
    // No probe can go from this channel: its row is final at once, so the
    // check does not wait for it in vain.
    QueueRow(code, eventIndex, ports, ProbeCounts{}, true);
}

void CDatagramClient::Ready(SOCKET socket, int index, int code, int error)
{
    SetSocketTimeOuts(socket, m_options.timeOut);
    m_counters.Enter(socket, ProbeCounts{});
    if (m_sink)
        m_sink->PostToWindow(m_message, static_cast<loop::WPARAM>(socket),
                             WithLife(channel::PROBE_NOW, LifeAt(index)));
    Report(channel::EventCodeStatus(code), code, error, nullptr, ChannelAt(index).localPort, 0,
           false);
}

void CDatagramClient::OnSocketEvent(SOCKET socket, int index, loop::LPARAM code)
{
    if (!IsSocketAt(index, socket))
        return;
    const ChannelPorts ports = ChannelAt(index);
    if (code == channel::PROBE_TIMER) {
        // Anything but this socket's own timer is meant for an earlier socket
        // that had the same number.
        if (!IsOwnRequest(index, code))
            return;
        if (m_states[static_cast<std::size_t>(index)].closing)
            CloseCycle(socket, index, ports);
        else
            StartProbe(socket, index, ports);
        return;
    }
    if (CodeOf(code) == channel::PROBE_NOW) {
        if (IsOwnRequest(index, code))
            StartProbe(socket, index, ports);
        return;
    }
    if (CodeOf(code) == channel::PROBE_SENT) {
        if (IsOwnRequest(index, code))
            ProbeSent(socket, index, ports);
        return;
    }
    const unsigned error = platform::WSAGETSELECTERROR(code);
    if (error != 0) {
        Report(channel::STATUS_ERROR, channel::EC_INTERNAL_ERROR, static_cast<int>(error),
               m_address.text, ports.localPort, ports.peerPort, false);
        return;
    }
    if (platform::WSAGETSELECTEVENT(code) == platform::FD_READ) {
        ChannelState& state = m_states[static_cast<std::size_t>(index)];
        if (state.sending > 0) {
            // A reply is never handled while its probe is still being
            // reported: it is read when the probe's task says it is done.
            state.readWaiting = true;
            return;
        }
        Receive(socket, ports);
        return;
    }
    Report(channel::STATUS_ERROR, channel::EC_INTERNAL_ERROR, platform::WSAGetLastError(),
           m_address.text, ports.localPort, ports.peerPort, false);
}

void CDatagramClient::StartProbe(SOCKET socket, int index, const ChannelPorts& ports)
{
    // Read before the task can count its own attempt, so the number of probes
    // never depends on how fast the pool picks the task up.
    const int attempts = m_counters.Attempts(socket);
    if (attempts >= m_options.maxSendCount)
        return;
    if (!m_tasks.Start(socket, MakeMemberTask(this, &CDatagramClient::Send,
                                              SocketLife{socket, LifeAt(index)}, index, ports)))
        return; // the client is closing
    ++m_states[static_cast<std::size_t>(index)].sending;
    if (attempts < m_options.maxSendCount - 1)
        ArmTimer(index, socket, m_options.timeSendDelay);
}

void CDatagramClient::ProbeSent(SOCKET socket, int index, const ChannelPorts& ports)
{
    ChannelState& state = m_states[static_cast<std::size_t>(index)];
    if (state.sending > 0)
        --state.sending;
    m_tasks.WaitAndRemove(socket, 0); // the task is at its end: no wait
    bool last;
    {
        std::lock_guard<std::mutex> lock(m_lastLock);
        last = m_lastProbes[static_cast<std::size_t>(index)].sent;
    }
    if (last && state.sending == 0 && !state.closing) {
        // The pause for the last replies: the port's timer, free now that no
        // probe is due.
        state.closing = true;
        ArmPauseTimer(index, socket, m_options.timeOut > 0 ? m_options.timeOut : 0);
    }
    if (state.sending == 0 && state.readWaiting) {
        state.readWaiting = false;
        Receive(socket, ports);
    }
}

void CDatagramClient::CloseCycle(SOCKET socket, int index, const ChannelPorts& ports)
{
    m_states[static_cast<std::size_t>(index)].closing = false;
    LastProbe probe;
    {
        std::lock_guard<std::mutex> lock(m_lastLock);
        probe = m_lastProbes[static_cast<std::size_t>(index)];
    }
    // The counts after the pause: a reply that came in it belongs to the cycle.
    QueueRow(probe.code, probe.eventIndex, ports, m_counters.Get(socket), true);
}

void CDatagramClient::Receive(SOCKET socket, const ChannelPorts& ports)
{
    char buffer[channel::ReceiveBufferSize];
    const int received = platform::recvfrom(socket, buffer, sizeof(buffer), 0, nullptr, nullptr);
    int code = channel::EC_RECEIVED;
    int error = 0;
    ProbeCounts counts;
    if (received == platform::SOCKET_ERROR) {
        error = platform::WSAGetLastError();
        code = ReceiveFailureCode(error);
        counts = m_counters.Get(socket);
    } else {
        if (!IsReply(buffer, static_cast<std::size_t>(received)))
            return; // no trace
        counts = m_counters.AddReply(socket);
    }
    const int eventIndex = Report(channel::EventCodeStatus(code), code, error, m_address.text,
                                  ports.localPort, ports.peerPort, true);
    QueueRow(code, eventIndex, ports, counts, counts.attempts == m_options.maxSendCount);
}

void CDatagramClient::Send(SocketLife target, int index, ChannelPorts ports)
{
    const SOCKET socket = target.socket;
    try {
        const std::vector<char> request =
            channel::BuildRequest(channel::DatagramProbeSize(m_options.sendDataSize));
        const ProbeCounts counts = m_counters.AddAttempt(socket); // counted before it goes
        const sockaddr_in peer = PeerEndpoint(m_address, ports.sendPort);
        const SendOutcome outcome = OutcomeOfSend(
            platform::sendto(socket, request.data(), static_cast<int>(request.size()), 0,
                             reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)),
            static_cast<int>(request.size()));
        const int eventIndex = Report(channel::EventCodeStatus(outcome.code), outcome.code,
                                      outcome.error, m_address.text, ports.localPort,
                                      ports.peerPort, false);
        QueueRow(outcome.code, eventIndex, ports, counts, false);
        if (counts.attempts == m_options.maxSendCount) {
            // What the row that closes the cycle repeats, after the pause.
            std::lock_guard<std::mutex> lock(m_lastLock);
            if (index >= 0 && static_cast<std::size_t>(index) < m_lastProbes.size())
                m_lastProbes[static_cast<std::size_t>(index)] =
                    LastProbe{true, outcome.code, eventIndex};
        }
    } catch (const EGeneric& e) {
        LogClientTaskError(e);
    }
    // Also after a failure: a read that waits for this probe must not wait
    // for ever.
    if (m_sink)
        m_sink->PostToWindow(m_message, static_cast<loop::WPARAM>(socket),
                             WithLife(channel::PROBE_SENT, target.life));
}

} // namespace engine
