#pragma once

// The probing side of IP channels for one peer: a raw socket per protocol
// number that sends a probe every TimeSendDelay seconds until MaxSendCount
// probes have gone, and counts the datagrams that carry the reply word (from
// any host). Other datagrams of the protocol leave no trace.
//
// Threads: Start and OnSocketEvent on the GUI thread; Send on pool threads. The
// destructor returns only when no task of the client runs any more.

#include "channel/ProbeOptions.h"
#include "engine/CClientTasks.h"
#include "engine/CProbeCounters.h"
#include "engine/CSocketList.h"

#include <utility>

namespace engine {

class CIpClient final : public CSocketList
{
public:
    CIpClient(IApp* sink, const channel::PeerAddress& peer, const channel::ProbeOptions& options);
    ~CIpClient() override;

    void Start(const std::vector<std::uint16_t>& protocols) override;
    void OpenSocket(SOCKET& socket, std::uint16_t protocol) override;
    void OnSocketEvent(SOCKET socket, int index, loop::LPARAM code) override;

    // Pool task body: one probe on the protocol's socket.
    void Send(unsigned int socket, unsigned short protocol);
    // Pool task body: after the last probe, TimeOut for its reply, then the row
    // that closes the protocol's cycle (code and event index of that probe).
    void CloseCycle(unsigned int socket, unsigned short protocol, std::pair<int, int> lastProbe);

    ProbeCounts Counts(SOCKET socket) const { return m_counters.Get(socket); }

private:
    void Receive(SOCKET socket, std::uint16_t protocol);

    const channel::ProbeOptions m_options;
    CClientTasks m_tasks;
    CProbeCounters m_counters;
};

} // namespace engine
