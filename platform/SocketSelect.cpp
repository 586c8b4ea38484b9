// select with Winsock's meaning, built on poll(2).
//
// The one difference that matters to the program: Linux shows a failed
// non-blocking connect as writable (and readable); Windows shows it in the except
// set and never as writable. A socket whose connect is pending is therefore asked
// for SO_ERROR as soon as poll reports anything for it, and sorted by the answer.

#include "platform/SocketHooks.h"
#include "ferrox/values/TimeUnits.h"
#include "platform/SocketTable.h"
#include "platform/Sockets.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace platform {

using detail::CSocketTable;
using detail::Fail;
using detail::SocketRecord;

void SocketSetZero(SocketSet* set)
{
    if (set)
        set->fd_count = 0;
}

bool SocketSetAdd(SOCKET s, SocketSet* set)
{
    if (!set)
        return false;
    if (SocketSetIsSet(s, set))
        return true;
    if (set->fd_count >= SOCKET_SET_SIZE)
        return false;
    set->fd_array[set->fd_count++] = s;
    return true;
}

void SocketSetRemove(SOCKET s, SocketSet* set)
{
    if (!set)
        return;
    auto* end = set->fd_array + set->fd_count;
    auto* kept = std::remove(set->fd_array, end, s);
    set->fd_count = static_cast<unsigned>(kept - set->fd_array);
}

bool SocketSetIsSet(SOCKET s, const SocketSet* set)
{
    if (!set)
        return false;
    const auto* end = set->fd_array + std::min(set->fd_count, SOCKET_SET_SIZE);
    return std::find(set->fd_array, end, s) != end;
}

namespace {

struct Candidate
{
    SOCKET socket;
    SocketRecord record;
    bool wantRead = false;
    bool wantWrite = false;
    bool wantExcept = false;
    bool readable = false;
    bool writable = false;
    bool exceptional = false;
};

// The pending connect's verdict, as far as the system has one: the error it
// keeps (SO_ERROR, which reading clears), or 0.
int PendingConnectError(SOCKET s)
{
    int systemError = 0;
    socklen_t length = sizeof systemError;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &systemError, &length) != 0)
        systemError = errno;
    return systemError;
}

// Records a pending connect that ended; returns whether the socket is watched.
bool RecordConnected(SOCKET s)
{
    bool watched = false;
    CSocketTable::Instance().Update(s, [&watched](SocketRecord& r) {
        r.connectPending = false;
        r.connected = true;
        watched = r.watched;
    });
    return watched;
}

// Records a pending connect that failed with the system's error; returns the
// Winsock error. The system's copy of the error is gone now: it is kept for
// SO_ERROR and for later selects, which go on reporting the failure in the
// except set.
int RecordConnectFailure(SOCKET s, int systemError)
{
    const int wsaError = WsaFromErrno(systemError, SocketKind::Stream);
    CSocketTable::Instance().Update(s, [wsaError](SocketRecord& r) {
        r.connectPending = false;
        r.failedConnectError = wsaError;
        r.pendingSoError = wsaError;
    });
    return wsaError;
}

// Sorts out a pending non-blocking connect that poll has reported on. Returns the
// Winsock error of a connect that failed, 0 otherwise.
int ResolvePendingConnect(Candidate& candidate, short events)
{
    const int systemError = PendingConnectError(candidate.socket);
    if (systemError == 0) {
        if (!(events & (POLLOUT | POLLIN)))
            return 0; // not decided yet
        const bool watched = RecordConnected(candidate.socket);
        candidate.record.connectPending = false;
        candidate.record.connected = true;
        if (ISocketHooks* hooks = watched ? detail::InstalledHooks() : nullptr)
            hooks->AfterStateChange(candidate.socket);
        return 0;
    }
    const int wsaError = RecordConnectFailure(candidate.socket, systemError);
    candidate.record.connectPending = false;
    candidate.record.failedConnectError = wsaError;
    return wsaError;
}

} // namespace

ConnectOutcome ResolveConnect(SOCKET s, int* error)
{
    *error = 0;
    SocketRecord record;
    if (!CSocketTable::Instance().Find(s, &record))
        return ConnectOutcome::Pending;
    if (record.connected)
        return ConnectOutcome::Connected;
    if (record.failedConnectError != 0) {
        *error = record.failedConnectError;
        return ConnectOutcome::Failed;
    }
    if (!record.connectPending)
        return ConnectOutcome::Pending;
    if (const int systemError = PendingConnectError(s)) {
        *error = RecordConnectFailure(s, systemError);
        return ConnectOutcome::Failed;
    }
    // Writable without an error may still be early: connected only once the
    // system names the peer.
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
        return ConnectOutcome::Pending;
    RecordConnected(s); // the caller is the watch layer itself: no hook
    return ConnectOutcome::Connected;
}

namespace {

void KeepReady(SocketSet* set, const std::vector<Candidate>& candidates, bool Candidate::*ready)
{
    if (!set)
        return;
    SocketSet result;
    for (unsigned i = 0; i < std::min(set->fd_count, SOCKET_SET_SIZE); ++i) {
        const SOCKET s = set->fd_array[i];
        auto it = std::find_if(candidates.begin(), candidates.end(),
                               [s](const Candidate& c) { return c.socket == s; });
        if (it != candidates.end() && (*it).*ready)
            SocketSetAdd(s, &result);
    }
    *set = result;
}

} // namespace

int select(int ignored, SocketSet* readSet, SocketSet* writeSet, SocketSet* exceptSet,
           const timeval* timeout)
{
    (void)ignored;
    std::vector<Candidate> candidates;
    auto collect = [&candidates](SocketSet* set, bool Candidate::*want) {
        if (!set)
            return true;
        for (unsigned i = 0; i < std::min(set->fd_count, SOCKET_SET_SIZE); ++i) {
            const SOCKET s = set->fd_array[i];
            auto it = std::find_if(candidates.begin(), candidates.end(),
                                   [s](const Candidate& c) { return c.socket == s; });
            if (it == candidates.end()) {
                Candidate candidate{s, {}};
                if (!CSocketTable::Instance().Find(s, &candidate.record))
                    return false;
                candidates.push_back(candidate);
                it = candidates.end() - 1;
            }
            (*it).*want = true;
        }
        return true;
    };
    if (!collect(readSet, &Candidate::wantRead) || !collect(writeSet, &Candidate::wantWrite) ||
        !collect(exceptSet, &Candidate::wantExcept))
        return Fail(WSAENOTSOCK);
    if (candidates.empty())
        return Fail(WSAEINVAL);

    using Clock = std::chrono::steady_clock;
    const bool unlimited = timeout == nullptr;
    const auto deadline =
        unlimited ? Clock::time_point::max()
                  : Clock::now() + duration_of_timeval(*timeout);

    std::vector<pollfd> polled(candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& c = candidates[i];
        polled[i].fd = c.socket;
        // A pending connect is always watched for writability: that is how its
        // success shows, whichever set the caller put it in.
        polled[i].events = static_cast<short>(
            (c.wantRead ? POLLIN : 0) | ((c.wantWrite || c.record.connectPending) ? POLLOUT : 0) |
            (c.wantExcept ? POLLPRI : 0));
    }

    int failedConnectError = 0;
    int ready = 0;
    for (;;) {
        // A connect that failed earlier stays in the except set and is never
        // writable; it needs no poll.
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            Candidate& c = candidates[i];
            if (c.record.failedConnectError != 0) {
                c.exceptional = c.wantExcept;
                if (c.wantExcept)
                    failedConnectError = c.record.failedConnectError;
                polled[i].fd = -1;
            }
        }

        int waitMs = -1;
        if (!unlimited) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
        }
        const bool anyReady = std::any_of(candidates.begin(), candidates.end(),
                                          [](const Candidate& c) { return c.exceptional; });
        const int count = ::poll(polled.data(), polled.size(), anyReady ? 0 : waitMs);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return Fail(WsaFromErrno(errno));
        }

        for (std::size_t i = 0; i < candidates.size(); ++i) {
            Candidate& c = candidates[i];
            const short events = polled[i].revents;
            if (polled[i].fd < 0 || events == 0)
                continue;
            if (c.record.connectPending) {
                if (const int error = ResolvePendingConnect(c, events)) {
                    c.exceptional = c.wantExcept;
                    if (c.wantExcept)
                        failedConnectError = error;
                    polled[i].fd = -1;
                    continue;
                }
                if (c.record.connectPending) {
                    if (events & (POLLHUP | POLLERR | POLLNVAL))
                        polled[i].fd = -1; // a hang-up without a verdict: do not spin on it
                    continue;
                }
                if (!c.wantWrite)
                    polled[i].events = static_cast<short>(polled[i].events & ~POLLOUT);
            }
            c.readable = c.wantRead && (events & (POLLIN | POLLHUP | POLLERR));
            c.writable = c.wantWrite && (events & POLLOUT);
            c.exceptional = c.exceptional || (c.wantExcept && (events & POLLPRI));
            if (!c.readable && !c.writable && !c.exceptional &&
                (events & (POLLHUP | POLLERR | POLLNVAL)))
                polled[i].fd = -1; // conditions nobody asked for, reported every time: do not spin
        }

        ready = 0;
        for (const Candidate& c : candidates)
            ready += int(c.readable) + int(c.writable) + int(c.exceptional);
        if (ready > 0 || (!unlimited && Clock::now() >= deadline))
            break;
        if (std::all_of(polled.begin(), polled.end(), [](const pollfd& p) { return p.fd < 0; })) {
            // Nothing left worth polling: sleep out the time-out.
            ::poll(nullptr, 0, waitMs);
            break;
        }
    }

    KeepReady(readSet, candidates, &Candidate::readable);
    KeepReady(writeSet, candidates, &Candidate::writable);
    KeepReady(exceptSet, candidates, &Candidate::exceptional);
    WSASetLastError(failedConnectError);
    return ready;
}

} // namespace platform
