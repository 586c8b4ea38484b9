#pragma once

// The client check without widgets: for each peer address in turn it starts the
// peer's clients, waits on the named manual-reset event "ClientStop" for the
// peer's time (or until every port of the peer has finished), stops the clients
// and goes on with the next peer. The GUI and the headless front end both run it.
//
// The peer's time, in milliseconds (unsigned 32-bit arithmetic):
//   (max(3 x TimeOut x nTCP, TimeOut x nIP) + 1000 x TimeSendDelay) x MaxSendCount
// with nTCP and nIP the lengths of the scheme's TCP and IP port lists (the UDP
// list does not count).
//
// Early end of a peer: the taker of client rows hands every row it takes to
// OnClientRow. The check keeps the client pane's tree of the peers
// (core::CPortRows) and applies to it every finished row of the current peer's
// turn; when every port of the grid has finished for the peer (ports are
// counted, not rows: a port listed in two groups counts once), ClientStop is
// set.
//
// Threads
// - Start, OnClientRow: the GUI thread. The options, port lists and groups are
//   copied at Start, so an edit of the scheme does not reach a running check.
// - Stop, IsRunning, WaitForEnd, CurrentPeer: any thread.
// - The loop runs as one task on the ferrox pool; the observer is called from it.
// - Destruction: stops the check and waits for the loop to end, so a check must
//   be destroyed before the application logic it drives.

#include "core/CAppLogic.h"
#include "core/CPortRows.h"
#include "ferrox/sync/Event.h"
#include "ferrox/threads/ThreadTask.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace core {

// What a front end hears about the check's progress (called on the check's task).
class IClientCheckObserver
{
public:
    // The peer's clients are about to start.
    virtual void OnPeerStarted(const std::string& peer) = 0;
    // The peer's clients have been stopped. allPortsFinished: every port row had
    // its finished row before the time was up.
    virtual void OnPeerFinished(const std::string& peer, bool allPortsFinished) = 0;
    // The loop has ended (after the last peer or a stop).
    virtual void OnCheckFinished() = 0;
    virtual ~IClientCheckObserver() = default;
};

class CClientCheck final
{
public:
    // The name of the event the loop waits on.
    static constexpr const char* StopEventName = "ClientStop";

    explicit CClientCheck(CAppLogic& logic, IClientCheckObserver* observer = nullptr);
    ~CClientCheck();
    CClientCheck(const CClientCheck&) = delete;
    CClientCheck& operator=(const CClientCheck&) = delete;

    // Starts the loop over the peers (dotted texts, in order). False when a check
    // is running. A loop that is still ending after a stop is waited for first.
    bool Start(const std::vector<std::string>& peers);
    // Sets ClientStop, clears the running flag and the filter's follow flag; the
    // loop then stops the current peer's clients and ends.
    void Stop();
    bool IsRunning() const { return m_running.load(); }
    // Waits for the loop's task to end (-1: no limit); true when none runs.
    bool WaitForEnd(int ms);

    // The finished-rows rule (see above). True when this row set ClientStop.
    bool OnClientRow(const channel::ClientRow& row);

    // The peer being waited on, "" between peers.
    std::string CurrentPeer() const;
    // The peer's time of the check that runs (or ran last).
    std::uint32_t PeerWaitMs() const { return m_waitMs.load(); }

    // ((the larger of 3 x TimeOut x TCP ports and TimeOut x IP ports) + 1000 x
    // TimeSendDelay) x MaxSendCount ms, unsigned 32-bit. That leaves a scheme
    // of UDP pairs alone (no TCP or IP port) less than its probes need when
    // TimeOut is not far below the delay: each pair's last probe goes
    // (MaxSendCount - 1) x TimeSendDelay s after its first, and its cycle ends
    // TimeOut later, so the peer used to end before the replies to its last
    // probes were counted. With UDP pairs the wait is therefore at least
    // (TimeOut + 1000 x TimeSendDelay) x MaxSendCount ms: a delay and a
    // time-out per attempt.
    static std::uint32_t PeerWaitMs(const channel::ProbeOptions& options, std::size_t tcpPorts,
                                    std::size_t ipPorts, std::size_t udpPairs = 0);

private:
    void Loop();
    // Waits on ClientStop for up to ms; true when it was set.
    bool WaitForStop(std::uint32_t ms);
    // Waits until the GUI thread has handled everything posted to it so far
    // (bounded; given up when the check is stopped). False when it gave up.
    bool WaitForGuiThread();

    static constexpr int kGuiWaitMs = 5000;
    static constexpr unsigned kGuiPollMs = 20;

    CAppLogic& m_logic;
    IClientCheckObserver* const m_observer;
    std::shared_ptr<TEvent> m_stopEvent;

    std::atomic<bool> m_running{false};
    std::atomic<std::uint32_t> m_waitMs{0};
    std::mutex m_taskLock; // Start and WaitForEnd
    SmartPtr<TThreadTask> m_task;

    // Copied at Start; read by the loop.
    std::vector<std::string> m_peers;
    ClientPlan m_plan;

    mutable std::mutex m_lock; // the current peer and the rows
    std::string m_currentPeer;
    std::uint32_t m_currentAddress = 0;
    std::uint32_t m_turnFirstSequence = 0; // rows of earlier turns are older
    bool m_stopSetThisTurn = false;
    CPortRows m_rows; // built at Start from the peers and the scheme
};

} // namespace core
