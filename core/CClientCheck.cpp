#include "core/CClientCheck.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/threads/ThreadPool.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <chrono>

namespace core {

CClientCheck::CClientCheck(CAppLogic& logic, IClientCheckObserver* observer)
    : m_logic(logic), m_observer(observer), m_stopEvent(OpenNamedEvent(StopEventName, true, false))
{}

CClientCheck::~CClientCheck()
{
    Stop();
    WaitForEnd(-1);
}

std::uint32_t CClientCheck::PeerWaitMs(const channel::ProbeOptions& options, std::size_t tcpPorts,
                                       std::size_t ipPorts, std::size_t udpPairs)
{
    const auto timeOut = static_cast<std::uint32_t>(options.timeOut);
    const std::uint32_t tcp = 3u * timeOut * static_cast<std::uint32_t>(tcpPorts);
    const std::uint32_t ip = timeOut * static_cast<std::uint32_t>(ipPorts);
    std::uint32_t ms =
        (std::max(tcp, ip) + 1000u * static_cast<std::uint32_t>(options.timeSendDelay)) *
        static_cast<std::uint32_t>(options.maxSendCount);
    if (udpPairs > 0) {
        // What the UDP pairs' probes need (see the header); 64-bit, clamped.
        const std::uint64_t udp =
            (static_cast<std::uint64_t>(timeOut) +
             1000u * static_cast<std::uint64_t>(options.timeSendDelay)) *
            static_cast<std::uint64_t>(options.maxSendCount);
        ms = static_cast<std::uint32_t>(
            std::max<std::uint64_t>(ms, std::min<std::uint64_t>(udp, INFINITE - 1)));
    }
    // 0xFFFFFFFF would mean "no limit" to the wait.
    return ms == INFINITE ? INFINITE - 1 : ms;
}

bool CClientCheck::Start(const std::vector<std::string>& peers)
{
    std::lock_guard<std::mutex> taskLock(m_taskLock);
    if (m_running.load())
        return false;
    // A loop that was stopped may still be stopping its clients: one loop at a time.
    if (m_task)
        m_task->WaitForEnd(-1);
    m_task = nullptr;

    m_peers = peers;
    m_plan = m_logic.MakeClientPlan();
    m_waitMs.store(PeerWaitMs(m_plan.options, m_plan.tcpPorts.size(), m_plan.ipPorts.size(),
                              m_plan.udpPorts.size() / 2));
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_rows.Build(peers, m_logic.Settings().Groups());
        m_currentPeer.clear();
    }
    m_running.store(true);
    m_stopEvent->Reset();
    SmartPtr<TThreadTask> task = MakeMemberTask(this, &CClientCheck::Loop);
    m_task = task;
    try {
        GetSystemThreadPool()->AddTask(task);
    } catch (...) {
        m_running.store(false);
        m_task = nullptr;
        throw;
    }
    return true;
}

void CClientCheck::Stop()
{
    // The flag before the event: a loop that resets the event for its next peer
    // checks the flag afterwards, so this stop is never lost.
    m_running.store(false);
    m_stopEvent->Set();
    m_logic.SetFilterFollow(false);
}

bool CClientCheck::WaitForEnd(int ms)
{
    SmartPtr<TThreadTask> task;
    {
        std::lock_guard<std::mutex> lock(m_taskLock);
        task = m_task;
    }
    return !task || task->WaitForEnd(ms);
}

std::string CClientCheck::CurrentPeer() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_currentPeer;
}

bool CClientCheck::WaitForStop(std::uint32_t ms)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const unsigned result =
            m_stopEvent->Wait(static_cast<unsigned>(std::max<long long>(left, 0)), true);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result == WAIT_TIMEOUT || Clock::now() >= deadline)
            return m_stopEvent->IsSet();
        // Queued calls ran (WAIT_IO_COMPLETION): wait out the rest.
    }
}

bool CClientCheck::WaitForGuiThread()
{
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr)
        return true;
    auto passed = std::make_shared<TEvent>(true, false);
    QMetaObject::invokeMethod(
        application, [passed] { passed->Set(); }, Qt::QueuedConnection);
    // Bounded, and given up at once on a stop: the GUI thread may itself be
    // waiting for this loop to end.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuiWaitMs);
    while (m_running.load() && std::chrono::steady_clock::now() < deadline) {
        if (passed->Wait(kGuiPollMs, false) == WAIT_OBJECT_0)
            return true;
    }
    return false;
}

bool CClientCheck::OnClientRow(const channel::ClientRow& row)
{
    if (!row.finished)
        return false;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_currentPeer.empty() || row.peer.address != m_currentAddress)
        return false;
    // A late row of an earlier turn with the same peer does not count.
    if (static_cast<std::int32_t>(row.sequence - m_turnFirstSequence) < 0)
        return false;
    m_rows.Apply(row);
    if (m_stopSetThisTurn || !m_rows.AllPortsFinished(m_currentAddress))
        return false;
    m_stopSetThisTurn = true;
    m_stopEvent->Set();
    return true;
}

void CClientCheck::Loop()
{
    try {
        for (const std::string& peer : m_peers) {
            m_logic.SetFilterFollow(true);
            m_stopEvent->Reset();
            if (!m_running.load())
                break;
            // The previous peer's sockets were closed on this thread; the GUI
            // thread's poll holds on to them (and to their bound UDP client
            // ports, which this peer binds again) until it has gone round once.
            if (&peer != &m_peers.front())
                WaitForGuiThread();
            {
                std::lock_guard<std::mutex> lock(m_lock);
                channel::PeerAddress address;
                channel::ParseAddress(address, peer.c_str());
                m_currentPeer = peer;
                m_currentAddress = address.address;
                m_turnFirstSequence = m_logic.NextClientRowSequence();
                m_rows.ResetFinished(address.address);
                m_stopSetThisTurn = false;
            }
            if (m_observer)
                m_observer->OnPeerStarted(peer);
            m_logic.StartClients(peer, m_plan);
            WaitForStop(m_waitMs.load());
            bool allFinished;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                allFinished = m_rows.AllPortsFinished(m_currentAddress);
                m_currentPeer.clear();
                m_currentAddress = 0;
            }
            m_logic.StopClients(peer);
            if (m_observer)
                m_observer->OnPeerFinished(peer, allFinished);
            if (!m_running.load())
                break;
        }
    } catch (const EGeneric& e) {
        if (Debug.GetEnabled())
            TDebugStreamSession(Debug) << e.what() << "\n";
    }
    // The end of the check, as a stop: whatever clients an interrupted turn
    // left behind go too.
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_currentPeer.clear();
        m_currentAddress = 0;
    }
    Stop();
    for (const std::string& peer : m_peers)
        m_logic.StopClients(peer);
    if (m_observer)
        m_observer->OnCheckFinished();
}

} // namespace core
