#pragma once

// The probing side of TCP channels for one peer: connects to every port, sends
// probes over each connection and waits for the echo, reconnecting after a
// failure, until each port's budget of attempts is spent.
//
// Progress of one port: open (6) -> connect (13, then 4 or 7, the wait for the
// connect's end kept by the event loop) -> on 4 the first
// probe (10 or 8, then 11 or 9); each probe that leaves the attempts below
// MaxSendCount - 1 arms the timer, whose expiry sends the next probe on the same
// connection; a failed receive leads, through WM_TCP_CLIENT_SOCKET with
// TCP_FAILED, to a new socket, the counters carried over; a failed connect
// leads there too, after the pause of TimeSendDelay seconds on the port's timer.
//
// Threads: Start, and the first OpenSocket of each port it makes, run on the
// thread that starts the client (the client-check task, under the client lock
// of engine/CEngineDispatch.h); OnSocketEvent on the GUI thread; Connect,
// Probe and reconnects (OpenSocket again, FindSocket) as pool tasks. The
// destructor returns only when no task of the client runs any more.

#include "channel/ProbeOptions.h"
#include "engine/CClientTasks.h"
#include "engine/CProbeCounters.h"
#include "engine/CSocketList.h"

#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace engine {

class CTcpClient : public CSocketList
{
public:
    CTcpClient(IApp* sink, const channel::PeerAddress& peer, const channel::ProbeOptions& options);
    ~CTcpClient() override;

    // Empties the counters, then opens one socket per port.
    void Start(const std::vector<std::uint16_t>& ports) override;
    // Creates (or replaces) the socket of a port and starts connecting.
    void OpenSocket(SOCKET& socket, std::uint16_t port) override;
    // TCP_CONNECTED (posted with the socket's life) or PROBE_TIMER (the port's
    // timer): probe; TCP_FAILED: reconnect; TCP_CONNECT_FAILED: reconnect when
    // the pause between attempts is over (the port's timer, then taken as
    // TCP_FAILED); TCP_CONNECTING: wait for FD_CONNECT, or for the port's timer
    // of TimeOut, to end the connect; TCP_AWAIT_ECHO: wait for the echo
    // (FD_READ, FD_CLOSE) or the deadline (PROBE_DEADLINE). A message of an earlier socket with the
    // same number, or a timer the present socket did not arm, is ignored.
    void OnSocketEvent(SOCKET socket, int index, loop::LPARAM code) override;

    // Pool task bodies. What they post carries the life of their socket.
    // Connect makes the connect call and reports it; a connect under way ends
    // on the GUI thread (EndConnect).
    void Connect(SocketLife socket, unsigned short port);
    void Probe(SocketLife socket, unsigned short port, std::string peerText);
    // The reconnect task: replaces the socket and connects again.
    void Reopen(unsigned int socket, unsigned short port);

private:
    // How long a connect or probe task itself waits for the connect's end or
    // the echo before the event loop takes the wait over (up to TimeOut in all).
    static constexpr int kQuickWaitMs = 5;

    // GUI thread: a connect under way has ended with that error (0: connected;
    // WSAETIMEDOUT: no answer within TimeOut). Reports 4 or 7 and goes on as
    // a connect that ended at once.
    void EndConnect(SOCKET socket, int index, int error);
    // GUI thread: the next step of a port after a request that is its own
    // (code without its life).
    void Advance(SOCKET socket, int index, loop::LPARAM code);
    // Reports what the receive of a probe's echo gave (received bytes, or -1
    // and the error): 11, or 9 with the probe timer stopped. True when the
    // echo came whole. Pool or GUI thread.
    bool ReportEcho(SocketLife target, std::uint16_t port, const std::string& peerText,
                    int received, int error);
    // GUI thread: the wait for a probe's echo has ended (FD_READ or FD_CLOSE:
    // timedOut 0; its deadline: WSAETIMEDOUT). Reads and reports the echo and
    // reconnects after a failure.
    void EndEchoWait(SOCKET socket, int index, int timedOut);
    void ReportStep(int code, int error, std::uint16_t port, bool incoming, bool finished,
                    ProbeCounts counts, const std::string& peerText);

    const channel::ProbeOptions m_options;
    CClientTasks m_tasks;
    CProbeCounters m_counters;
    std::mutex m_socketLock; // socket replacement and the entry of counters
    // Lives of sockets whose timer is the pause after a failed connect. GUI
    // thread only, as OnSocketEvent.
    std::unordered_set<std::uint32_t> m_pausedLives;
    // Lives of sockets whose connect is under way: their timer is TimeOut,
    // their watch waits for FD_CONNECT. GUI thread only.
    std::unordered_set<std::uint32_t> m_connectingLives;
    // Sockets (by life) whose probes wait for their echoes on the event loop,
    // with how many wait: their deadline timer runs, their watch waits for
    // FD_READ or FD_CLOSE. GUI thread only.
    std::unordered_map<std::uint32_t, int> m_awaiting;
};

} // namespace engine
