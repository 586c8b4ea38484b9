#pragma once

// The GUI thread's side of asynchronous selection. Every watched socket is in
// one epoll set, and one QSocketNotifier on that set wakes the loop: a wake-up
// costs what the ready sockets cost, not what the watched ones do, and the
// event loop itself polls three descriptors whatever the number of sockets.
// Made, switched and dropped only here, as CSocketWatchTable says. Level-
// triggered, and a hang-up or error is reported whatever is asked for, so a
// socket whose watch may not post is taken out of the set; otherwise a socket
// nobody reads would wake the loop without end. Internal to loop/.
//
// Stale readiness: an epoll entry carries the socket and (the low half of) its
// watch's generation, so readiness that was collected for a socket whose watch
// has ended or been replaced by the time it is handled is dropped. A socket
// closed on another thread keeps its number (platform's placeholder) until
// Drop has run here.
//
// Threads: lives on the GUI thread; every member runs there. Other threads reach
// it only through queued calls made by the table.

#include "platform/Sockets.h"

#include <QObject>

#include <cstdint>
#include <unordered_map>

class QSocketNotifier;
class QTimer;

namespace loop::detail {

class CSocketNotifierHost final : public QObject
{
public:
    CSocketNotifierHost();
    ~CSocketNotifierHost() override;

    // Brings the socket's place in the set in line with the table's wish.
    void Sync(platform::SOCKET s);
    // Takes the socket out of the set and forgets it, if it is known.
    void Drop(platform::SOCKET s);
    // Has the table retry the accepts that failed for want of a descriptor, after
    // a pause (unless a watched socket closes first).
    void StartStarvedRetry();

private:
    // The set's notifier fired: hands each ready socket to the table.
    void OnSetReady();
    // Made on first use, on the GUI thread (the host may be made elsewhere).
    bool EnsureSet();
    // Puts the socket in the set for reading (and writing: writable).
    bool Enable(platform::SOCKET s, std::uint64_t generation, bool writable);
    void Disable(platform::SOCKET s);

    struct Entry
    {
        std::uint64_t generation;
        bool enabled;
        bool writable;
    };
    std::unordered_map<platform::SOCKET, Entry> m_entries;
    int m_epoll = -1;
    QSocketNotifier* m_setNotifier = nullptr;
    QTimer* m_starvedRetry;
};

} // namespace loop::detail
