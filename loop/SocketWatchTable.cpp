#include "loop/SocketWatchTable.h"

#include "loop/EventLoop.h"
#include "loop/SocketNotifierHost.h"
#include "loop/ThreadAnnotations.h"
#include "loop/WindowRegistry.h"

#include <QCoreApplication>
#include <QThread>

#include <vector>

namespace loop::detail {

using platform::SOCKET;

namespace {

void DestroyHostAtExit()
{
    // Called from QCoreApplication's destructor on the GUI thread, while the
    // event dispatcher still exists.
    CSocketWatchTable::Instance().HostDestroyed();
}

} // namespace

CSocketWatchTable& CSocketWatchTable::Instance()
{
    // Never destroyed: socket calls on pool threads may reach the hooks while
    // static objects go away.
    static CSocketWatchTable* table = [] {
        auto* created = new CSocketWatchTable;
        platform::InstallSocketHooks(created);
        return created;
    }();
    return *table;
}

CSocketNotifierHost* CSocketWatchTable::EnsureHost()
{
    if (m_host)
        return m_host;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return nullptr;
    m_host = new CSocketNotifierHost;
    if (QThread::currentThread() != application->thread())
        m_host->moveToThread(application->thread());
    qAddPostRoutine(&DestroyHostAtExit);
    return m_host;
}

void CSocketWatchTable::Sync(SOCKET s)
{
    std::unique_lock lock(m_mutex);
    CSocketNotifierHost* host = m_host;
    if (!host)
        return;
    if (IsGuiThread()) {
        // The host lives on this thread and cannot go away meanwhile.
        lock.unlock();
        host->Sync(s);
        return;
    }
    // Queued under the lock, so the host cannot be destroyed in between.
    AnnotateBeforePost();
    QMetaObject::invokeMethod(
        host,
        [host, s] {
            AnnotateAfterDelivery();
            host->Sync(s);
        },
        Qt::QueuedConnection);
}

void CSocketWatchTable::ScheduleStarvedRetry()
{
    std::unique_lock lock(m_mutex);
    CSocketNotifierHost* host = m_host;
    if (!host)
        return;
    if (IsGuiThread()) {
        lock.unlock();
        host->StartStarvedRetry();
        return;
    }
    AnnotateBeforePost();
    QMetaObject::invokeMethod(
        host,
        [host] {
            AnnotateAfterDelivery();
            host->StartStarvedRetry();
        },
        Qt::QueuedConnection);
}

void CSocketWatchTable::RetryStarvedAccepts()
{
    std::vector<SOCKET> rearmed;
    {
        std::lock_guard lock(m_mutex);
        if (!m_anyStarved)
            return;
        for (auto& [s, watch] : m_watches) {
            if (!watch.acceptStarved)
                continue;
            watch.acceptStarved = false;
            if (watch.phase == Phase::Active) {
                watch.acceptArmed = true;
                rearmed.push_back(s);
            }
        }
        m_anyStarved = false;
    }
    for (SOCKET s : rearmed)
        Sync(s);
}

void CSocketWatchTable::EndWatch(Watch& watch, Phase phase)
{
    watch.phase = phase;
    if (watch.valid)
        watch.valid->store(false, std::memory_order_release);
}

int CSocketWatchTable::Register(SOCKET s, HWND window, UINT message, long events)
{
    {
        std::lock_guard lock(m_mutex);
        if (!EnsureHost())
            return platform::WSAEINVAL;
        auto it = m_watches.find(s);
        if (it != m_watches.end())
            EndWatch(it->second, Phase::Cancelled); // its queued notifications are void
        Watch watch;
        watch.generation = m_nextGeneration++;
        watch.window = window;
        watch.message = message;
        watch.events = events;
        watch.valid = std::make_shared<std::atomic<bool>>(true);
        m_watches[s] = std::move(watch);
    }
    Sync(s);
    return 0;
}

void CSocketWatchTable::Cancel(SOCKET s)
{
    {
        std::lock_guard lock(m_mutex);
        auto it = m_watches.find(s);
        if (it == m_watches.end() || it->second.phase != Phase::Active)
            return;
        EndWatch(it->second, Phase::Cancelled);
    }
    Sync(s);
}

NotifierWish CSocketWatchTable::Wish(SOCKET s)
{
    std::lock_guard lock(m_mutex);
    NotifierWish wish;
    auto it = m_watches.find(s);
    if (it == m_watches.end())
        return wish;
    const Watch& watch = it->second;
    wish.generation = watch.generation;
    switch (watch.phase) {
    case Phase::Active: {
        platform::SocketState state;
        if (!platform::QuerySocket(s, &state))
            return wish; // being closed right now
        wish.action = NotifierWish::Action::Keep;
        const bool listening = state.kind == platform::SocketKind::Stream && state.listening;
        const bool armed = listening ? watch.acceptArmed : watch.readArmed;
        wish.writable = !listening && state.kind == platform::SocketKind::Stream &&
                        (watch.events & platform::FD_CONNECT) != 0 && watch.connectArmed;
        wish.enabled = (armed || wish.writable) && !watch.peerClosed && !watch.awaitingState;
        return wish;
    }
    case Phase::Cancelled: wish.action = NotifierWish::Action::RemoveAndErase; return wish;
    case Phase::Closing: wish.action = NotifierWish::Action::Remove; return wish;
    case Phase::Reserved: wish.action = NotifierWish::Action::RemoveAndRelease; return wish;
    }
    return wish;
}

void CSocketWatchTable::OnReady(SOCKET s, std::uint64_t generation)
{
    std::lock_guard lock(m_mutex);
    auto it = m_watches.find(s);
    if (it == m_watches.end() || it->second.generation != generation ||
        it->second.phase != Phase::Active)
        return;
    Watch& watch = it->second;
    platform::SocketState state;
    if (!platform::QuerySocket(s, &state))
        return;

    long event = 0;
    int error = 0;
    if (state.kind == platform::SocketKind::Stream && state.listening) {
        if (!watch.acceptArmed)
            return;
        watch.acceptArmed = false;
        event = platform::FD_ACCEPT;
    } else if (state.kind != platform::SocketKind::Stream) {
        // Data or a pending ICMP answer: either way the next receive has
        // something to say, so FD_READ with error 0.
        if (!watch.readArmed)
            return;
        watch.readArmed = false;
        event = platform::FD_READ;
    } else if ((watch.events & platform::FD_CONNECT) != 0 && watch.connectArmed) {
        switch (platform::ResolveConnect(s, &error)) {
        case platform::ConnectOutcome::Pending:
            // Not connecting (yet): a fresh socket reports a hang-up until it
            // connects; wait for that (AfterStateChange).
            watch.awaitingState = true;
            return;
        case platform::ConnectOutcome::Failed: watch.peerClosed = true; break;
        case platform::ConnectOutcome::Connected: break;
        }
        watch.connectArmed = false;
        event = platform::FD_CONNECT;
    } else {
        switch (platform::ProbeStream(s, &error)) {
        case platform::StreamReadiness::Data:
            if (!watch.readArmed)
                return;
            watch.readArmed = false;
            event = platform::FD_READ;
            break;
        case platform::StreamReadiness::Closed:
        case platform::StreamReadiness::Failed:
            watch.peerClosed = true;
            event = platform::FD_CLOSE;
            break;
        case platform::StreamReadiness::NotConnected:
            // A fresh stream socket reports a hang-up until it listens or
            // connects; wait for that (AfterStateChange).
            watch.awaitingState = true;
            return;
        case platform::StreamReadiness::Nothing: return;
        }
    }
    if ((watch.events & event) == 0)
        return; // not asked for; the watch is disarmed all the same
    CWindowRegistry::Instance().Post(
        watch.window, watch.message, static_cast<WPARAM>(s),
        platform::WSAMAKESELECTREPLY(static_cast<unsigned>(event), static_cast<unsigned>(error)),
        watch.valid);
}

void CSocketWatchTable::EraseCancelled(SOCKET s, std::uint64_t generation)
{
    std::lock_guard lock(m_mutex);
    auto it = m_watches.find(s);
    if (it != m_watches.end() && it->second.generation == generation &&
        it->second.phase == Phase::Cancelled)
        m_watches.erase(it);
}

bool CSocketWatchTable::EraseReserved(SOCKET s)
{
    std::lock_guard lock(m_mutex);
    auto it = m_watches.find(s);
    if (it == m_watches.end() || it->second.phase != Phase::Reserved)
        return false;
    m_watches.erase(it);
    return true;
}

void CSocketWatchTable::HostDestroyed()
{
    CSocketNotifierHost* host = nullptr;
    std::vector<SOCKET> reserved;
    std::vector<SOCKET> watched;
    {
        std::lock_guard lock(m_mutex);
        host = m_host;
        m_host = nullptr;
        for (auto& [s, watch] : m_watches) {
            if (watch.phase == Phase::Reserved)
                reserved.push_back(s);
            else if (watch.phase == Phase::Active)
                watched.push_back(s);
            EndWatch(watch, watch.phase);
        }
        m_watches.clear();
    }
    delete host; // disables and deletes every notifier
    for (SOCKET s : reserved)
        platform::ReleaseReservedDescriptor(s);
    for (SOCKET s : watched)
        platform::SetSocketWatched(s, false);
}

bool CSocketWatchTable::BeforeClose(SOCKET s)
{
    // A descriptor is about to be free (or, when the number is reserved, soon):
    // a listener that could not accept for want of one may try again. Its
    // notification is posted from the loop, after this close has happened.
    RetryStarvedAccepts();
    std::unique_lock lock(m_mutex);
    auto it = m_watches.find(s);
    if (it == m_watches.end())
        return false;
    if (!m_host) {
        m_watches.erase(it);
        return false;
    }
    if (IsGuiThread()) {
        // The notifier can go right now, before the descriptor does.
        EndWatch(it->second, Phase::Cancelled);
        m_watches.erase(it);
        CSocketNotifierHost* host = m_host;
        lock.unlock();
        host->Drop(s);
        return false;
    }
    EndWatch(it->second, Phase::Closing);
    return true;
}

void CSocketWatchTable::AfterCloseReserved(SOCKET s)
{
    {
        std::lock_guard lock(m_mutex);
        auto it = m_watches.find(s);
        if (it != m_watches.end()) {
            it->second.phase = Phase::Reserved;
        } else {
            // The host went away in between and took the notifier with it.
            platform::ReleaseReservedDescriptor(s);
            return;
        }
    }
    Sync(s);
}

void CSocketWatchTable::AfterReceive(SOCKET s)
{
    {
        std::lock_guard lock(m_mutex);
        auto it = m_watches.find(s);
        if (it == m_watches.end() || it->second.phase != Phase::Active || it->second.readArmed)
            return;
        it->second.readArmed = true;
    }
    Sync(s);
}

bool CSocketWatchTable::AfterAccept(SOCKET listening, SOCKET accepted, int error)
{
    bool rearmed = false;
    bool watchedNew = false;
    bool starved = false;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_watches.find(listening);
        if (it == m_watches.end() || it->second.phase != Phase::Active)
            return false;
        Watch& watch = it->second;
        if (accepted == platform::INVALID_SOCKET &&
            (error == platform::WSAEMFILE || error == platform::WSAENOBUFS)) {
            // The connection is still waiting and the notifier would fire again
            // at once, for as long as no descriptor is free: wait for one.
            if (!watch.acceptArmed) {
                watch.acceptStarved = true;
                m_anyStarved = true;
                starved = true;
            }
        } else {
            rearmed = !watch.acceptArmed;
            watch.acceptArmed = true;
            watch.acceptStarved = false;
        }
        if (accepted != platform::INVALID_SOCKET) {
            Watch fresh;
            fresh.generation = m_nextGeneration++;
            fresh.window = watch.window;
            fresh.message = watch.message;
            fresh.events = watch.events;
            fresh.valid = std::make_shared<std::atomic<bool>>(true);
            m_watches[accepted] = std::move(fresh);
            watchedNew = true;
        }
    }
    if (rearmed)
        Sync(listening);
    if (watchedNew)
        Sync(accepted);
    if (starved)
        ScheduleStarvedRetry();
    return watchedNew;
}

void CSocketWatchTable::AfterStateChange(SOCKET s)
{
    {
        std::lock_guard lock(m_mutex);
        auto it = m_watches.find(s);
        if (it == m_watches.end() || it->second.phase != Phase::Active || !it->second.awaitingState)
            return;
        it->second.awaitingState = false;
    }
    Sync(s);
}

} // namespace loop::detail
