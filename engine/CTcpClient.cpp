#include "engine/CTcpClient.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"
#include "engine/ClientSupport.h"
#include "engine/SendOutcome.h"
#include "ferrox/debug/DebugStream.h"

#include <algorithm>
#include <vector>

namespace engine {

namespace {

// A connected probe socket: blocking, with both time-outs at TimeOut, so one
// receive waits for the echo at most that long.
bool MakeBlockingWithTimeouts(SOCKET s, int timeOut)
{
    platform::u_long nonBlocking = 0;
    if (platform::ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        return false;
    SetSocketTimeOuts(s, timeOut);
    return true;
}

// Waits up to ms for the socket to become readable (read) or for its connect
// to end (not read): 1 readable or connected, 0 not yet, -1 failed (the last
// socket error says why).
int WaitForSocket(SOCKET s, bool read, int ms)
{
    platform::SocketSet ready, failed;
    platform::SocketSetZero(&ready);
    platform::SocketSetZero(&failed);
    platform::SocketSetAdd(s, &ready);
    platform::SocketSetAdd(s, &failed);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    const int count = read ? platform::select(0, &ready, nullptr, nullptr, &limit)
                           : platform::select(0, nullptr, &ready, &failed, &limit);
    if (count == 0)
        return 0;
    return count > 0 && platform::SocketSetIsSet(s, &ready) ? 1 : -1;
}

// Why a socket could not be selected: never 0, which would read as success.
int SelectError()
{
    const int error = platform::WSAGetLastError();
    return error != 0 ? error : platform::WSAEINVAL;
}

// A TCP port's row: the port on both sides, not finished, no event yet.
channel::ClientRow RowOf(const channel::PeerAddress& peer, int code, std::uint16_t port,
                         ProbeCounts counts)
{
    channel::ClientRow row;
    row.port = port;
    row.protocol = channel::PROTOCOL_TCP;
    row.peer = peer;
    row.code = static_cast<std::uint32_t>(code);
    row.port1 = port;
    row.port2 = port;
    row.attempts = counts.attempts;
    row.replies = counts.replies;
    return row;
}

} // namespace

CTcpClient::CTcpClient(IApp* sink, const channel::PeerAddress& peer,
                       const channel::ProbeOptions& options)
    : CSocketList(sink, peer, channel::PROTOCOL_TCP), m_options(options)
{}

CTcpClient::~CTcpClient()
{
    // Tasks first: they use the sockets and this object. Then the timers, whose
    // ids are socket numbers that the next client may be given.
    m_tasks.Shutdown(m_options.timeSendDelay * 1000);
    StopTimers();
    for (int i = 0; i < SocketCount(); ++i)
        StopDeadline(SocketAt(i));
    CloseSockets();
}

void CTcpClient::Start(const std::vector<std::uint16_t>& ports)
{
    m_counters.Clear();
    StartPorts(ports);
}

void CTcpClient::ReportStep(int code, int error, std::uint16_t port, bool incoming, bool finished,
                            ProbeCounts counts, const std::string& peerText)
{
    channel::ClientRow row = RowOf(m_address, code, port, counts);
    row.finished = finished;
    row.eventIndex =
        Report(channel::EventCodeStatus(code), code, error, peerText.c_str(), port, port, incoming);
    QueueClientRow(row);
}

void CTcpClient::OpenSocket(SOCKET& socket, std::uint16_t port)
{
    const SOCKET old = socket;
    const int index = old == platform::INVALID_SOCKET ? IndexOfSlot(socket) : FindSocket(old);
    if (old != platform::INVALID_SOCKET && index < 0)
        return; // not (or no longer) a socket of this client
    SOCKET created;
    std::uint32_t life;
    ProbeCounts carried;
    // A probe that was given up on may still be in its receive on the old socket;
    // it must be out before the socket is closed and its number reused.
    if (old != platform::INVALID_SOCKET)
        m_tasks.WaitForRetired(old);
    {
        std::lock_guard<std::mutex> lock(m_socketLock);
        if (old != platform::INVALID_SOCKET)
            platform::closesocket(old);
        created = platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (old != platform::INVALID_SOCKET) {
            SetSocketAt(index, created);
            carried = m_counters.Take(old);
        } else {
            socket = created;
        }
        // Very likely the old socket's number: what is still queued for the old
        // one must not reach this one.
        life = NewLifeAt(index);
    }
    if (old != platform::INVALID_SOCKET)
        m_tasks.Rekey(old, created);

    int code = channel::EC_OPENED;
    int error = 0;
    platform::u_long nonBlocking = 1;
    if (created == platform::INVALID_SOCKET ||
        platform::ioctlsocket(created, FIONBIO, &nonBlocking) != 0) {
        code = channel::EC_INTERNAL_ERROR;
        error = platform::WSAGetLastError();
    } else {
        std::lock_guard<std::mutex> lock(m_socketLock);
        m_counters.Enter(created, carried);
    }

    // The open is reported without a peer.
    channel::ClientRow row = RowOf(m_address, code, port, carried);
    // Nothing more can happen on a port whose socket could not be made: its row
    // is final, so the check does not wait for it in vain.
    row.finished = code == channel::EC_INTERNAL_ERROR;
    row.eventIndex = Report(channel::EventCodeStatus(code), code, error, nullptr, port, 0, false);
    QueueClientRow(row);
    if (code == channel::EC_INTERNAL_ERROR) {
        if (created != platform::INVALID_SOCKET) {
            std::lock_guard<std::mutex> lock(m_socketLock);
            platform::closesocket(created);
            if (old != platform::INVALID_SOCKET)
                SetSocketAt(index, platform::INVALID_SOCKET);
            else
                socket = platform::INVALID_SOCKET;
        }
        return;
    }

    if (m_tasks.Has(created)) {
        // A reconnect, already on the pool thread of its task.
        Connect(SocketLife{created, life}, port);
        return;
    }
    m_tasks.Start(created, MakeMemberTask(this, &CTcpClient::Connect, SocketLife{created, life},
                                          static_cast<unsigned short>(port)));
}

void CTcpClient::Reopen(unsigned int socket, unsigned short port)
{
    try {
        SOCKET s = static_cast<SOCKET>(socket);
        OpenSocket(s, port);
    } catch (const EGeneric& e) {
        LogClientTaskError(e);
    }
}

void CTcpClient::Connect(SocketLife target, unsigned short port)
{
    const SOCKET socket = target.socket;
    try {
        // Reports one step of the connect; a failure counts an attempt.
        auto report = [&](int code, int error) {
            const ProbeCounts counts = code == channel::EC_CONNECT_FAILED
                                           ? m_counters.AddAttempt(socket)
                                           : m_counters.Get(socket);
            ReportStep(code, error, port, false,
                       code == channel::EC_CONNECT_FAILED &&
                           counts.attempts == m_options.maxSendCount,
                       counts, m_address.text);
        };
        const sockaddr_in peer = PeerEndpoint(m_address, port);
        int code = channel::EC_CONNECTED;
        int error = 0;
        if (platform::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) ==
            0) {
            // The probe's one receive must wait for the echo: a socket left
            // non-blocking would fail every probe at once.
            MakeBlockingWithTimeouts(socket, m_options.timeOut);
        } else {
            error = platform::WSAGetLastError();
            code = error == platform::WSAEWOULDBLOCK ? channel::EC_CONNECTING
                                                     : channel::EC_CONNECT_FAILED;
        }
        if (code == channel::EC_CONNECTING) {
            report(code, 0);
            // A peer nearby answers within a millisecond: such a connect ends
            // here, and the GUI thread is spared a watch for it.
            const int ready =
                WaitForSocket(socket, false, std::min(m_options.timeOut, kQuickWaitMs));
            if (ready > 0 && MakeBlockingWithTimeouts(socket, m_options.timeOut)) {
                code = channel::EC_CONNECTED;
                error = 0;
            } else if (ready != 0) {
                code = channel::EC_CONNECT_FAILED;
                error = platform::WSAGetLastError();
            }
        }
        if (code != channel::EC_CONNECTING)
            report(code, error);
        // The wait for a connect under way (up to TimeOut) and the pause after
        // a failed one (TimeSendDelay) are the event loop's: the socket's
        // FD_CONNECT and the port's timer. No pool worker waits, so a scheme of
        // many closed or silent ports is not serialised by the pool's limit.
        const loop::LPARAM next = code == channel::EC_CONNECTED    ? channel::TCP_CONNECTED
                                  : code == channel::EC_CONNECTING ? channel::TCP_CONNECTING
                                                                   : channel::TCP_CONNECT_FAILED;
        if (m_sink)
            m_sink->PostToWindow(channel::WM_TCP_CLIENT_SOCKET, static_cast<loop::WPARAM>(socket),
                                 WithLife(next, target.life));
    } catch (const EGeneric& e) {
        LogClientTaskError(e);
    }
}

void CTcpClient::EndConnect(SOCKET socket, int index, int error)
{
    // The watch goes first: the socket may then block again.
    if (m_sink)
        m_sink->SelectAsync(socket, 0, 0);
    const std::uint16_t port = m_ports[static_cast<std::size_t>(index)];
    ProbeCounts counts;
    int code = channel::EC_CONNECTED;
    if (error == 0 && MakeBlockingWithTimeouts(socket, m_options.timeOut)) {
        counts = m_counters.Get(socket);
    } else {
        code = channel::EC_CONNECT_FAILED;
        if (error == 0)
            error = platform::WSAGetLastError();
        counts = m_counters.AddAttempt(socket);
    }
    ReportStep(code, error, port, false,
               code == channel::EC_CONNECT_FAILED && counts.attempts == m_options.maxSendCount,
               counts, m_address.text);
    Advance(socket, index,
            code == channel::EC_CONNECTED ? channel::TCP_CONNECTED : channel::TCP_CONNECT_FAILED);
}

void CTcpClient::Probe(SocketLife target, unsigned short port, std::string peerText)
{
    const SOCKET socket = target.socket;
    try {
        const std::size_t size = channel::TcpProbeSize(m_options.sendDataSize);
        std::vector<char> buffer(size, 0);
        const SendOutcome outcome =
            OutcomeOfSend(platform::send(socket, buffer.data(), static_cast<int>(size), 0),
                          static_cast<int>(size));
        const ProbeCounts counts = m_counters.AddAttempt(socket);
        ReportStep(outcome.code, outcome.error, port, false, false, counts, peerText);

        // A peer nearby echoes within a millisecond: such an echo is taken
        // here. Otherwise the event loop waits for it, so an echo that does
        // not come holds no pool worker for TimeOut.
        if (WaitForSocket(socket, true, std::min(m_options.timeOut, kQuickWaitMs)) == 0) {
            if (m_sink)
                m_sink->PostToWindow(channel::WM_TCP_CLIENT_SOCKET,
                                     static_cast<loop::WPARAM>(socket),
                                     WithLife(channel::TCP_AWAIT_ECHO, target.life));
            return;
        }
        std::fill(buffer.begin(), buffer.end(), 0);
        const int received = platform::recv(socket, buffer.data(), static_cast<int>(size), 0);
        const int error = received < 0 ? platform::WSAGetLastError() : 0;
        if (!ReportEcho(target, port, peerText, received, error) && m_sink)
            m_sink->PostToWindow(channel::WM_TCP_CLIENT_SOCKET, static_cast<loop::WPARAM>(socket),
                                 WithLife(channel::TCP_FAILED, target.life));
    } catch (const EGeneric& e) {
        LogClientTaskError(e);
    }
}

bool CTcpClient::ReportEcho(SocketLife target, std::uint16_t port, const std::string& peerText,
                            int received, int error)
{
    const SOCKET socket = target.socket;
    int code = channel::EC_RECEIVED;
    ProbeCounts counts;
    if (received == static_cast<int>(channel::TcpProbeSize(m_options.sendDataSize))) {
        error = 0;
        counts = m_counters.AddReply(socket);
    } else {
        // A short read (the echo in pieces) fails the probe as well; it has no
        // socket error of its own.
        code = channel::EC_RECEIVE_FAILED;
        counts = m_counters.Get(socket);
        StopTimerOfLife(socket, target.life);
    }
    ReportStep(code, error, port, true, counts.attempts == m_options.maxSendCount, counts,
               peerText);
    return code == channel::EC_RECEIVED;
}

void CTcpClient::EndEchoWait(SOCKET socket, int index, int timedOut)
{
    int received = -1;
    int error = timedOut;
    if (timedOut == 0) {
        // The socket is still watched, so non-blocking: the GUI thread never
        // waits here. Nothing to read means a probe task that overlapped this
        // wait (its timer came first) took the bytes: the wait goes on.
        std::vector<char> buffer(channel::TcpProbeSize(m_options.sendDataSize), 0);
        received = platform::recv(socket, buffer.data(), static_cast<int>(buffer.size()), 0);
        error = received < 0 ? platform::WSAGetLastError() : 0;
        if (received < 0 && error == platform::WSAEWOULDBLOCK)
            return;
    }
    auto awaiting = m_awaiting.find(LifeAt(index));
    // A probe sent while another waited (TimeOut longer than the delay between
    // probes) waits on: one echo came, the next one is still due.
    const bool more = awaiting != m_awaiting.end() && --awaiting->second > 0 && received > 0 &&
                      timedOut == 0;
    if (!more) {
        if (awaiting != m_awaiting.end())
            m_awaiting.erase(awaiting);
        StopDeadline(socket);
        // The watch goes, and the socket blocks again for the next probe task.
        if (m_sink)
            m_sink->SelectAsync(socket, 0, 0);
        MakeBlockingWithTimeouts(socket, m_options.timeOut);
    }
    const std::uint16_t port = m_ports[static_cast<std::size_t>(index)];
    if (!ReportEcho(SocketLife{socket, LifeAt(index)}, port, m_address.text, received, error))
        Advance(socket, index, channel::TCP_FAILED);
}

void CTcpClient::OnSocketEvent(SOCKET socket, int index, loop::LPARAM code)
{
    if (!IsSocketAt(index, socket))
        return;
    // The deadline of an echo wait: killed whenever its wait ends, so it is
    // never an earlier socket's.
    if (code == channel::PROBE_DEADLINE) {
        if (m_awaiting.count(LifeAt(index)) != 0)
            EndEchoWait(socket, index, platform::WSAETIMEDOUT); // no echo within TimeOut
        return;
    }
    // The end of a connect or an echo wait: a socket notification (its watch
    // ends with the socket, so none is stale).
    if (LifeOf(code) == 0 && code != channel::PROBE_TIMER) {
        const auto event = static_cast<long>(platform::WSAGETSELECTEVENT(code));
        if (event == platform::FD_CONNECT && m_connectingLives.erase(LifeAt(index)) != 0) {
            StopTimerOfLife(socket, LifeAt(index));
            EndConnect(socket, index, static_cast<int>(platform::WSAGETSELECTERROR(code)));
        } else if ((event == platform::FD_READ || event == platform::FD_CLOSE) &&
                   m_awaiting.count(LifeAt(index)) != 0) {
            EndEchoWait(socket, index, 0);
        }
        return;
    }
    // Posted for an earlier socket that had this number, or a timer this
    // socket did not arm.
    if (!IsOwnRequest(index, code))
        return;
    code = CodeOf(code);
    if (code == channel::PROBE_TIMER && m_connectingLives.erase(LifeAt(index)) != 0) {
        EndConnect(socket, index, platform::WSAETIMEDOUT); // no answer within TimeOut
        return;
    }
    if (code == channel::PROBE_TIMER && m_pausedLives.erase(LifeAt(index)) != 0)
        code = channel::TCP_FAILED; // the pause after a failed connect is over
    Advance(socket, index, code);
}

void CTcpClient::Advance(SOCKET socket, int index, loop::LPARAM code)
{
    // The GUI thread never waits for a task. The message's own task posted it
    // as its last step; a probe still running when the next one is due (a
    // pool far behind) keeps its socket and counts, and a reconnect waits for
    // it on its own thread before the socket goes (WaitForRetired).
    m_tasks.WaitAndRemove(socket, 0);
    const std::uint16_t port = m_ports[static_cast<std::size_t>(index)];

    if (code == channel::TCP_CONNECTING) {
        m_connectingLives.insert(LifeAt(index));
        ArmPauseTimer(index, socket, std::max(m_options.timeOut - kQuickWaitMs, 10));
        if (m_sink == nullptr ||
            m_sink->SelectAsync(socket, channel::WM_TCP_CLIENT_SOCKET, platform::FD_CONNECT) != 0) {
            m_connectingLives.erase(LifeAt(index));
            StopTimerOfLife(socket, LifeAt(index));
            EndConnect(socket, index, SelectError());
        }
        return;
    }
    if (code == channel::TCP_AWAIT_ECHO) {
        const bool watched = m_awaiting[LifeAt(index)]++ > 0;
        ArmDeadline(socket, std::max(m_options.timeOut - kQuickWaitMs, 10));
        if (!watched && (m_sink == nullptr ||
                         m_sink->SelectAsync(socket, channel::WM_TCP_CLIENT_SOCKET,
                                             platform::FD_READ | platform::FD_CLOSE) != 0))
            EndEchoWait(socket, index, SelectError());
        return;
    }
    if (code == channel::TCP_CONNECT_FAILED) {
        if (m_counters.Attempts(socket) >= m_options.maxSendCount)
            return;
        m_pausedLives.insert(LifeAt(index));
        ArmPauseTimer(index, socket, m_options.timeSendDelay * 1000);
        return;
    }
    if (code == channel::TCP_CONNECTED || code == channel::PROBE_TIMER) {
        // Read before the probe task can count its own attempt, so the number of
        // probes never depends on how fast the pool picks the task up.
        const int attempts = m_counters.Attempts(socket);
        if (attempts >= m_options.maxSendCount)
            return;
        m_tasks.Start(
            socket, MakeMemberTask(this, &CTcpClient::Probe, SocketLife{socket, LifeAt(index)},
                                   static_cast<unsigned short>(port), std::string(m_address.text)));
        if (attempts < m_options.maxSendCount - 1)
            ArmTimer(index, socket, m_options.timeSendDelay);
        return;
    }
    if (code == channel::TCP_FAILED) {
        if (m_counters.Attempts(socket) >= m_options.maxSendCount)
            return;
        m_tasks.Start(socket,
                      MakeMemberTask(this, &CTcpClient::Reopen, static_cast<unsigned int>(socket),
                                     static_cast<unsigned short>(port)));
    }
}

} // namespace engine
