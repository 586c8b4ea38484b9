#pragma once

// The watches of asynchronous selection: which socket notifies which window with
// which message, and where each watch stands under Winsock's re-enabling rule.
// It is the socket layer's hooks object (platform/SocketHooks.h), so socket calls
// made on any thread update the watches. The notifiers themselves belong to
// CSocketNotifierHost on the GUI thread, which asks this table what each
// socket's notifier should be. Internal to loop/.
//
// Threads: any, except where a member says "GUI thread". One mutex guards the
// table; it is released before the host is called on the GUI thread, and taken
// before the window registry's lock (posting), never after it.

#include "loop/WindowTypes.h"
#include "platform/SocketHooks.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace loop::detail {

class CSocketNotifierHost;

// What a socket's notifier should be, as the GUI thread is to make it.
struct NotifierWish
{
    enum class Action
    {
        Keep,             // a notifier of this generation, enabled or not
        Remove,           // no notifier
        RemoveAndErase,   // no notifier; then forget the cancelled watch
        RemoveAndRelease, // no notifier; then free the closed socket's descriptor number
    };
    Action action = Action::Remove;
    std::uint64_t generation = 0;
    bool enabled = false;
    bool writable = false; // also when the socket becomes writable (a connect ends)
};

class CSocketWatchTable final : public platform::ISocketHooks
{
public:
    // Installs itself as the socket layer's hooks on first use; lives for the
    // rest of the process.
    static CSocketWatchTable& Instance();

    // 0 or a Winsock error code.
    int Register(platform::SOCKET s, HWND window, UINT message, long events);
    void Cancel(platform::SOCKET s);

    // GUI thread: what the socket's notifier should be now.
    NotifierWish Wish(platform::SOCKET s);
    // GUI thread: the notifier of that generation reported readiness. Posts what
    // Winsock would post and updates the watch; the caller then applies Wish.
    void OnReady(platform::SOCKET s, std::uint64_t generation);
    // GUI thread: the notifier is gone; forget a cancelled watch of that
    // generation / a closed socket's watch. EraseReserved answers whether the
    // descriptor number is now to be released.
    void EraseCancelled(platform::SOCKET s, std::uint64_t generation);
    bool EraseReserved(platform::SOCKET s);
    // GUI thread: the host is going away with the QCoreApplication. Every watch
    // ends; reserved descriptor numbers are released.
    void HostDestroyed();
    // Any thread: a descriptor may have become free. Listening sockets whose
    // accept failed for want of one get their accept notification back.
    void RetryStarvedAccepts();

    // platform::ISocketHooks, any thread.
    bool BeforeClose(platform::SOCKET s) override;
    void AfterCloseReserved(platform::SOCKET s) override;
    void AfterReceive(platform::SOCKET s) override;
    bool AfterAccept(platform::SOCKET listening, platform::SOCKET accepted, int error) override;
    void AfterStateChange(platform::SOCKET s) override;

private:
    CSocketWatchTable() = default;

    enum class Phase
    {
        Active,    // notifications flow
        Cancelled, // events = 0: the notifier is to go, then the entry
        Closing,   // closesocket is putting the placeholder in place
        Reserved,  // closed; the notifier is to go, then the number is freed
    };

    struct Watch
    {
        std::uint64_t generation = 0;
        HWND window = nullptr;
        UINT message = 0;
        long events = 0;
        Phase phase = Phase::Active;
        bool readArmed = true;      // FD_READ may be posted
        bool acceptArmed = true;    // FD_ACCEPT may be posted
        bool connectArmed = true;   // FD_CONNECT may be posted (when asked for)
        bool peerClosed = false;    // FD_CLOSE was posted: the watch is over
        bool awaitingState = false; // a stream socket not yet listening or connected
        // An accept failed for want of descriptors or memory: the accept
        // notification waits for RetryStarvedAccepts instead of the next accept.
        bool acceptStarved = false;
        // Cleared when the watch ends: queued notifications are then dropped.
        std::shared_ptr<std::atomic<bool>> valid;
    };

    // Makes the host (once per QCoreApplication); the lock must be held.
    CSocketNotifierHost* EnsureHost();
    // Has the host bring the socket's notifier in line with Wish: at once on
    // the GUI thread, else by a posted event. Called without the lock.
    void Sync(platform::SOCKET s);
    // Has the host call RetryStarvedAccepts after its pause. Without the lock.
    void ScheduleStarvedRetry();
    static void EndWatch(Watch& watch, Phase phase);

    std::mutex m_mutex;
    std::unordered_map<platform::SOCKET, Watch> m_watches;
    CSocketNotifierHost* m_host = nullptr;
    std::uint64_t m_nextGeneration = 1;
    bool m_anyStarved = false; // some watch may have acceptStarved set
};

} // namespace loop::detail
