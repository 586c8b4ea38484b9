#pragma once

// What the UDP and IP clients share: one datagram socket per channel of the
// peer, a probe from it every TimeSendDelay seconds until MaxSendCount probes
// have gone, and the count of the replies that come back. A datagram client
// never replaces a socket: a failed send or receive is only reported, and the
// next probe still goes at its time.
//
// Progress of one channel: open -> the client's own PROBE_NOW (first probe)
// -> probe (10 or 8) -> each reply gives 11 (IP: or 12) -> PROBE_TIMER ->
// the next probe ... -> after the last probe a pause of TimeOut and a final
// row with finished = yes. A channel whose socket cannot be made or watched
// gets its final row at once (no probe can go from it).
//
// The GUI thread never waits for a probe task: the task posts PROBE_SENT when
// its probe is reported, and a read notification that comes while a probe of
// its socket is still being reported is kept until then (no further read
// notification comes meanwhile: nothing has been read). The pause after the
// last probe is a timer of the event loop (the port's timer, which no probe
// needs any more), so no pool worker sleeps either.
//
// A derived class opens the channel's socket (OpenSocket, with Watch, GiveUp
// and Ready below), names the channel's ports (ChannelAt) and says what a
// received datagram means (IsReply, ReceiveFailureCode).
//
// Threads: Start, and the OpenSocket calls it makes, run on the thread that
// starts the client (the client-check task, under the client lock of
// engine/CEngineDispatch.h); OnSocketEvent on the GUI thread; Send as a pool
// task, which uses only what it is given, the counters, the last-probe slots
// and the sink, never the derived class. The destructor returns only when no
// task of the client runs any more.

#include "channel/ProbeOptions.h"
#include "engine/CClientTasks.h"
#include "engine/CProbeCounters.h"
#include "engine/CSocketList.h"

#include <cstddef>
#include <mutex>
#include <vector>

namespace engine {

class CDatagramClient : public CSocketList
{
public:
    ~CDatagramClient() override;

    void Start(const std::vector<std::uint16_t>& ports) override;
    // A read notification, the client's own PROBE_NOW or the port's timer.
    void OnSocketEvent(SOCKET socket, int index, loop::LPARAM code) final;

    // One channel as events, rows and probes name it.
    struct ChannelPorts
    {
        std::uint16_t localPort = 0; // events' port 1: UDP client port, IP protocol
        std::uint16_t peerPort = 0;  // events' port 2, the row's port: UDP server port, IP protocol
        std::uint16_t sendPort = 0;  // where probes go: UDP server port, IP 0
    };
    // What the row that closes a channel's cycle repeats of its last probe.
    struct LastProbe
    {
        bool sent = false; // the last probe has been reported
        int code = 0;
        int eventIndex = -1;
    };

    // Pool task body: one probe from the socket of that index, then
    // PROBE_SENT with the socket's life.
    void Send(SocketLife socket, int index, ChannelPorts ports);

protected:
    // message: the client's socket message (notifications and its own).
    CDatagramClient(IApp* sink, const channel::PeerAddress& peer, int protocol,
                    loop::UINT message, const channel::ProbeOptions& options);

    // Empties the counters, then opens one socket per port.
    void StartSockets(const std::vector<std::uint16_t>& socketPorts);

    virtual ChannelPorts ChannelAt(int index) const = 0;
    // Whether a datagram read from a channel's socket is a reply.
    virtual bool IsReply(const char* data, std::size_t size) const = 0;
    // The event code of a failed receive: 9, unless the class says otherwise.
    virtual int ReceiveFailureCode(int error) const;

    // For OpenSocket. Watch: the socket's reads are notified with the client's
    // message; false (WSAGetLastError says why) when that failed.
    bool Watch(SOCKET socket);
    // The channel's socket could not be made or watched: reported with code
    // and error, the socket (if any) closed, and the channel's row final.
    void GiveUp(SOCKET& socket, int index, int code, int error);
    // The channel's socket is ready: time-outs at TimeOut, counts at 0, the
    // first probe asked for, and the open reported with code and error.
    void Ready(SOCKET socket, int index, int code, int error);

    const channel::ProbeOptions m_options;

private:
    // Where a channel stands between the GUI thread's steps. GUI thread only.
    struct ChannelState
    {
        int sending = 0;          // probes started whose PROBE_SENT has not come
        bool readWaiting = false; // a read notification waits for them
        bool closing = false;     // the pause after the last probe runs
    };

    void StartProbe(SOCKET socket, int index, const ChannelPorts& ports);
    void ProbeSent(SOCKET socket, int index, const ChannelPorts& ports);
    void CloseCycle(SOCKET socket, int index, const ChannelPorts& ports);
    void Receive(SOCKET socket, const ChannelPorts& ports);
    void QueueRow(int code, int eventIndex, const ChannelPorts& ports, ProbeCounts counts,
                  bool finished);

    const loop::UINT m_message;
    CClientTasks m_tasks;
    CProbeCounters m_counters;
    std::vector<ChannelState> m_states; // by index
    // By index: written by the last probe's task, read on the GUI thread.
    std::mutex m_lastLock;
    std::vector<LastProbe> m_lastProbes;
};

} // namespace engine
