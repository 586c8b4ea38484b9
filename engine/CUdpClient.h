#pragma once

// The probing side of UDP channels for one peer: binds each channel's client
// port, sends a probe from it to the peer's server port every TimeSendDelay
// seconds until MaxSendCount probes have gone, and counts every datagram that
// comes back to the client port. A UDP client never replaces a socket: a failed
// send or receive is only reported, and the next probe still goes at its time.
//
// Progress of one port: open (1, 2 or 14) -> WM_UDP_CLIENT_SOCKET/PROBE_NOW ->
// probe (10 or 8) -> each reply gives 11 -> the timer sends the next probe ->
// after the last probe a pause of TimeOut and a final row with finished = yes.
//
// Threads: Start and OnSocketEvent on the GUI thread; Send on pool threads. The
// destructor returns only when no task of the client runs any more.

#include "channel/ProbeOptions.h"
#include "engine/CClientTasks.h"
#include "engine/CProbeCounters.h"
#include "engine/CSocketList.h"

#include <map>

namespace engine {

class CUdpClient final : public CSocketList
{
public:
    CUdpClient(IApp* sink, const channel::PeerAddress& peer, const channel::ProbeOptions& options);
    ~CUdpClient() override;

    void Start(const std::vector<std::uint16_t>& pairs) override;
    void OpenSocket(SOCKET& socket, std::uint16_t clientPort) override;
    void CloseAll() override;
    // A read notification, or PROBE_NOW (the first probe, or the timer).
    void OnSocketEvent(SOCKET socket, int index, loop::LPARAM code) override;

    // Pool task body: one probe from the socket to the server port.
    void Send(unsigned int socket, unsigned short serverPort, unsigned short clientPort);
    // What the row that closes a port's cycle repeats of its last probe.
    struct LastProbe
    {
        int code = 0;
        int eventIndex = -1;
        std::uint16_t serverPort = 0;
        std::uint16_t clientPort = 0;
    };
    // Pool task body: after the last probe, TimeOut for its reply, then the row
    // that closes the port's cycle.
    void CloseCycle(unsigned int socket, LastProbe probe);

    ProbeCounts Counts(SOCKET socket) const { return m_counters.Get(socket); }

private:
    void Receive(SOCKET socket, std::uint16_t clientPort, std::uint16_t serverPort);

    void QueueRow(int code, int eventIndex, std::uint16_t clientPort, std::uint16_t serverPort,
                  ProbeCounts counts, bool finished);
    std::uint16_t ServerPortAt(int index) const;

    const channel::ProbeOptions m_options;
    std::map<std::uint16_t, std::uint16_t> m_portMap; // client port -> server port
    // The server port of each socket, by index: channels without a client port
    // (0) share the map's key, so the socket's own entry is what counts.
    std::vector<std::uint16_t> m_serverPorts;
    CClientTasks m_tasks;
    CProbeCounters m_counters;
};

} // namespace engine
