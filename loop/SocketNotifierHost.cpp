#include "loop/SocketNotifierHost.h"

#include "loop/EventLoop.h"
#include "loop/SocketWatchTable.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace loop::detail {

namespace {

// How long a listening socket whose accept failed for want of a descriptor waits
// before it tries again, when no watched socket closes meanwhile: long enough
// that such a listener costs nothing, short enough that a descriptor freed by
// anything else (a client check that ends) is put to use soon.
constexpr int kStarvedRetryMs = 250;

// Ready sockets taken per wake-up. More stay ready (level-triggered) and are
// taken at the next turn of the loop, after what else is queued.
constexpr int kReadyPerWake = 512;

std::uint64_t Tag(platform::SOCKET s, std::uint64_t generation)
{
    return (generation << 32) | static_cast<std::uint32_t>(s);
}

} // namespace

CSocketNotifierHost::CSocketNotifierHost() : m_starvedRetry(new QTimer(this))
{
    m_starvedRetry->setSingleShot(true);
    m_starvedRetry->setInterval(kStarvedRetryMs);
    connect(m_starvedRetry, &QTimer::timeout, this,
            [] { CSocketWatchTable::Instance().RetryStarvedAccepts(); });
}

CSocketNotifierHost::~CSocketNotifierHost()
{
    if (m_setNotifier) {
        m_setNotifier->setEnabled(false);
        delete m_setNotifier;
    }
    if (m_epoll >= 0)
        ::close(m_epoll);
    m_entries.clear();
}

void CSocketNotifierHost::StartStarvedRetry()
{
    Q_ASSERT(IsGuiThread());
    if (!m_starvedRetry->isActive())
        m_starvedRetry->start();
}

bool CSocketNotifierHost::EnsureSet()
{
    if (m_setNotifier)
        return true;
    if (m_epoll < 0)
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        qWarning("asynchronous selection: no epoll set (errno %d)", errno);
        return false;
    }
    m_setNotifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_setNotifier, &QSocketNotifier::activated, this, [this] { OnSetReady(); });
    return true;
}

bool CSocketNotifierHost::Enable(platform::SOCKET s, std::uint64_t generation, bool writable)
{
    if (!EnsureSet())
        return false;
    epoll_event event{};
    event.events = EPOLLIN | (writable ? EPOLLOUT : 0u);
    event.data.u64 = Tag(s, generation);
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, s, &event) == 0)
        return true;
    // Still in the set from an earlier watch of the same socket.
    return errno == EEXIST && ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, s, &event) == 0;
}

void CSocketNotifierHost::Disable(platform::SOCKET s)
{
    // A socket closed meanwhile has left the set by itself (ENOENT, or EBADF
    // when the number is a placeholder now): nothing to do then.
    if (m_epoll >= 0)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, s, nullptr);
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

    auto it = m_entries.find(s);
    if (it != m_entries.end() && it->second.generation != wish.generation) {
        Drop(s); // an entry of an earlier watch of this socket
        it = m_entries.end();
    }
    if (it == m_entries.end()) {
        if (!wish.enabled)
            return; // entered when it is first wanted
        it = m_entries.emplace(s, Entry{wish.generation, false, false}).first;
    }
    Entry& entry = it->second;
    if (entry.enabled == wish.enabled && (!wish.enabled || entry.writable == wish.writable))
        return;
    if (wish.enabled) {
        entry.enabled = Enable(s, wish.generation, wish.writable);
        entry.writable = wish.writable;
    } else {
        Disable(s);
        entry.enabled = false;
    }
}

void CSocketNotifierHost::Drop(platform::SOCKET s)
{
    auto it = m_entries.find(s);
    if (it == m_entries.end())
        return;
    if (it->second.enabled)
        Disable(s);
    m_entries.erase(it);
}

void CSocketNotifierHost::OnSetReady()
{
    epoll_event ready[kReadyPerWake];
    const int count = ::epoll_wait(m_epoll, ready, kReadyPerWake, 0);
    CSocketWatchTable& table = CSocketWatchTable::Instance();
    for (int i = 0; i < count; ++i) {
        const auto s = static_cast<platform::SOCKET>(
            static_cast<std::uint32_t>(ready[i].data.u64 & 0xFFFFFFFFu));
        const std::uint32_t tag = static_cast<std::uint32_t>(ready[i].data.u64 >> 32);
        // What an earlier socket of this batch did may have ended or replaced
        // this socket's watch since the set reported it.
        auto it = m_entries.find(s);
        if (it == m_entries.end() || !it->second.enabled ||
            static_cast<std::uint32_t>(it->second.generation) != tag)
            continue;
        table.OnReady(s, it->second.generation);
        Sync(s);
    }
}

} // namespace loop::detail
