#include "loop/SocketNotifierHost.h"

#include "loop/EventLoop.h"
#include "loop/SocketWatchTable.h"

#include <QSocketNotifier>
#include <QTimer>

namespace loop::detail {

namespace {

// How long a listening socket whose accept failed for want of a descriptor waits
// before it tries again, when no watched socket closes meanwhile: long enough
// that such a listener costs nothing, short enough that a descriptor freed by
// anything else (a client check that ends) is put to use soon.
constexpr int kStarvedRetryMs = 250;

} // namespace

CSocketNotifierHost::CSocketNotifierHost() : m_starvedRetry(new QTimer(this))
{
    m_starvedRetry->setSingleShot(true);
    m_starvedRetry->setInterval(kStarvedRetryMs);
    connect(m_starvedRetry, &QTimer::timeout, this,
            [] { CSocketWatchTable::Instance().RetryStarvedAccepts(); });
}

void CSocketNotifierHost::StartStarvedRetry()
{
    Q_ASSERT(IsGuiThread());
    if (!m_starvedRetry->isActive())
        m_starvedRetry->start();
}

CSocketNotifierHost::~CSocketNotifierHost()
{
    for (auto& [s, entry] : m_notifiers) {
        entry.notifier->setEnabled(false);
        delete entry.notifier;
    }
    m_notifiers.clear();
}

void CSocketNotifierHost::Sync(platform::SOCKET s)
{
    Q_ASSERT(IsGuiThread());
    CSocketWatchTable& table = CSocketWatchTable::Instance();
    const NotifierWish wish = table.Wish(s);

    if (wish.action != NotifierWish::Action::Keep) {
        Drop(s);
        if (wish.action == NotifierWish::Action::RemoveAndErase)
            table.EraseCancelled(s, wish.generation);
        else if (wish.action == NotifierWish::Action::RemoveAndRelease && table.EraseReserved(s)) {
            platform::ReleaseReservedDescriptor(s);
            table.RetryStarvedAccepts(); // the number is free only now
        }
        return;
    }

    auto it = m_notifiers.find(s);
    if (it != m_notifiers.end() && it->second.generation != wish.generation) {
        Drop(s); // a notifier of an earlier watch of this socket
        it = m_notifiers.end();
    }
    if (it == m_notifiers.end()) {
        if (!wish.enabled)
            return; // made when it is first needed
        auto* notifier = new QSocketNotifier(s, QSocketNotifier::Read, this);
        const std::uint64_t generation = wish.generation;
        connect(notifier, &QSocketNotifier::activated, this,
                [this, s, generation] { OnActivated(s, generation); });
        it = m_notifiers.emplace(s, Entry{notifier, generation}).first;
    }
    if (it->second.notifier->isEnabled() != wish.enabled)
        it->second.notifier->setEnabled(wish.enabled);
}

void CSocketNotifierHost::Drop(platform::SOCKET s)
{
    auto it = m_notifiers.find(s);
    if (it == m_notifiers.end())
        return;
    QSocketNotifier* notifier = it->second.notifier;
    m_notifiers.erase(it);
    // Disabling takes the descriptor out of the loop's poll set at once; the
    // object itself may only be deleted later when it is emitting right now.
    notifier->setEnabled(false);
    if (s == m_dispatching)
        notifier->deleteLater();
    else
        delete notifier;
}

void CSocketNotifierHost::OnActivated(platform::SOCKET s, std::uint64_t generation)
{
    const platform::SOCKET outer = m_dispatching;
    m_dispatching = s;
    CSocketWatchTable::Instance().OnReady(s, generation);
    Sync(s);
    m_dispatching = outer;
}

} // namespace loop::detail
