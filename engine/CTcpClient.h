#pragma once

// The probing side of TCP channels for one peer: connects to every port, sends
// probes over each connection and waits for the echo, reconnecting after a
// failure, until each port's budget of attempts is spent.
//
// Progress of one port: open (6) -> connect (13, then 4 or 7) -> on 4 the first
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
    // TCP_FAILED). A message of an earlier socket with the same number, or a
    // timer the present socket did not arm, is ignored.
    void OnSocketEvent(SOCKET socket, int index, loop::LPARAM code) override;

    // Pool task bodies. What they post carries the life of their socket.
    void Connect(SocketLife socket, unsigned short port);
    void Probe(SocketLife socket, unsigned short port, std::string peerText);
    // The reconnect task: replaces the socket and connects again.
    void Reopen(unsigned int socket, unsigned short port);

private:
    void ReportStep(int code, int error, std::uint16_t port, bool incoming, bool finished,
                    ProbeCounts counts, const std::string& peerText);

    const channel::ProbeOptions m_options;
    CClientTasks m_tasks;
    CProbeCounters m_counters;
    std::mutex m_socketLock; // socket replacement and the entry of counters
    // Lives of sockets whose timer is the pause after a failed connect. GUI
    // thread only, as OnSocketEvent.
    std::unordered_set<std::uint32_t> m_pausedLives;
};

} // namespace engine
