#pragma once

// The GUI thread's side of asynchronous selection: one QSocketNotifier (read
// type) per watched socket, made, switched and deleted only here, as
// CSocketWatchTable says. Qt's notifiers are level-triggered and their read
// notifier also fires on a pending error or hang-up, so a notifier is disabled
// whenever its watch may not post; otherwise a socket nobody reads would wake the
// loop without end. Internal to loop/.
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

    // Brings the socket's notifier in line with the table's wish.
    void Sync(platform::SOCKET s);
    // Disables and drops the socket's notifier, if any.
    void Drop(platform::SOCKET s);
    // Has the table retry the accepts that failed for want of a descriptor, after
    // a pause (unless a watched socket closes first).
    void StartStarvedRetry();

private:
    void OnActivated(platform::SOCKET s, std::uint64_t generation);

    struct Entry
    {
        QSocketNotifier* notifier;
        std::uint64_t generation;
    };
    std::unordered_map<platform::SOCKET, Entry> m_notifiers;
    // The socket whose notifier is emitting right now: its notifier may not be
    // deleted from inside its own signal, only later.
    platform::SOCKET m_dispatching = platform::INVALID_SOCKET;
    QTimer* m_starvedRetry;
};

} // namespace loop::detail
