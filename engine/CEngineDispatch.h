#pragma once

// The one road from the main window's messages to the protocol objects: a
// socket notification, a client's own message or a probe timer goes to the
// object that owns the socket. The application logic and the engine tests
// both dispatch through this class, so the tests exercise the program's
// dispatch, not a copy of it.
//
// Rules (message numbers in channel/AppMessages.h)
// - 0x8009, 0x800A, 0x800B go to the UDP, TCP, IP servers; 0x800C, 0x800D,
//   0x800E to the UDP, TCP, IP clients. The objects of the protocol are asked
//   FindSocket(socket) in the order they were added; the first that knows it
//   gets OnSocketEvent(socket, index, lParam) and the search stops.
// - A probe timer (id = socket) is killed first (IApp::StopSendTimer), then
//   offered with PROBE_TIMER to the TCP clients, then the UDP clients, then the
//   IP clients, until one owns the socket. A deadline timer (the socket with
//   CSocketList::kDeadlineTimerBit) is killed, then offered with
//   PROBE_DEADLINE to the TCP clients.
// - The result is 0 when an object took the message, 1 when none did. What an
//   object throws passes on to the caller (the logic reports it).
//
// Clients and the client lock
// - The client lists are changed by the client-check task (StartClient,
//   StopClients) and walked by the dispatch on the GUI thread; the client lock
//   guards them. It is recursive: a client's Start opens its ports under it
//   and queues client rows, which the application logic guards with this same
//   lock (ClientLock).
// - A Start takes the client lock a slice of ports at a time (IStartGate), and
//   gives way between two slices to a dispatch that waits for the lock: the
//   GUI thread waits for one slice at most, not for thousands of ports. The
//   started client stays pinned until its Start is over.
// - A dispatch looks the client up and pins it (takes a reference) under the
//   client lock, then calls it without the lock: the GUI thread never holds
//   the client lock while a client works, so a client's pool tasks, which
//   queue client rows under that lock, are never kept waiting by a dispatch.
// - Removal takes clients out of the lists under the lock and drops them after
//   releasing it, once no dispatch has them pinned; the last reference deletes
//   the client, whose destructor waits for its tasks (which queue rows).
// - Lock order: the client lock may be held while the event store's locks or
//   the filter's are taken, never the reverse.
//
// Threads
// - GUI thread (asserted in debug builds): AddServer and the dispatch
//   operations. Servers are not owned; they outlive the dispatch.
// - Any thread: the client operations (in the program, the client-check task
//   starts and stops clients; the front end's end stops the rest).

#include "engine/CSocketList.h"
#include "engine/IApp.h"
#include "loop/CRecursiveMutex.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace engine {

class CEngineDispatch final : private IStartGate
{
public:
    using ClientPtr = std::shared_ptr<CSocketList>;

    // The objects a message of the main window is meant for.
    struct Route
    {
        bool server = false; // servers, else clients
        int protocol = 0;    // 1 TCP, 2 UDP, 3 IP
    };
    // None for a message that is not one of the six socket messages.
    static std::optional<Route> RouteOf(loop::UINT message);

    // sink: whose StopSendTimer kills an expired probe timer.
    explicit CEngineDispatch(IApp& sink);
    // Stops the clients still listed.
    ~CEngineDispatch();
    CEngineDispatch(const CEngineDispatch&) = delete;
    CEngineDispatch& operator=(const CEngineDispatch&) = delete;

    void AddServer(CSocketList* server);

    // Lists the client. StartClient also starts it with the ports; a message
    // for a port that is open already reaches it while later ports open.
    void AddClient(ClientPtr client);
    void StartClient(ClientPtr client, const std::vector<std::uint16_t>& ports);
    // The first listed client of each protocol whose peer is `peer`.
    void StopClients(const channel::PeerAddress& peer);
    void StopAllClients();
    void RemoveClient(const CSocketList* client);
    std::size_t ClientCount(int protocol) const;

    int Dispatch(const Route& route, SOCKET socket, loop::LPARAM code);
    int DispatchServerMessage(int protocol, SOCKET socket, loop::LPARAM code);
    int DispatchClientMessage(int protocol, SOCKET socket, loop::LPARAM code)
        KANALIKO_EXCLUDES(m_clientLock);
    int DispatchTimer(loop::UINT_PTR id);

    // The client lock, for what the owner guards with it (the logic's queue of
    // client rows).
    loop::CRecursiveMutex& ClientLock() KANALIKO_RETURN_CAPABILITY(m_clientLock)
    {
        return m_clientLock;
    }

private:
    using ServerList = std::vector<CSocketList*>;
    using ClientList = std::vector<ClientPtr>;

    // By protocol code; index 0 stays empty.
    static constexpr std::size_t kProtocols = 4;
    static bool IsProtocol(int protocol);

    void List(ClientPtr client) KANALIKO_REQUIRES(m_clientLock);
    // The gate a Start opens its ports under: the client lock, taken only when
    // no dispatch waits for it (a released lock taken straight back would keep
    // the GUI thread waiting through the whole start).
    void Enter() override KANALIKO_ACQUIRE(m_clientLock);
    void Leave() override KANALIKO_RELEASE(m_clientLock);
    // The client of the protocol that owns the socket, pinned, with the
    // socket's index; none when no client owns it.
    ClientPtr Pin(int protocol, SOCKET socket, int& index) KANALIKO_EXCLUDES(m_clientLock);
    // Drops the dispatch's reference and wakes a removal that waits for it.
    void Unpin(ClientPtr& client);
    // Waits until no dispatch has the clients pinned, then drops them (no lock
    // held: a client's destructor waits for its tasks, which queue rows).
    void Release(std::vector<ClientPtr>& clients) KANALIKO_EXCLUDES(m_clientLock);

    IApp& m_sink;
    std::array<ServerList, kProtocols> m_servers; // GUI thread

    mutable loop::CRecursiveMutex m_clientLock;
    std::array<ClientList, kProtocols> m_clients KANALIKO_GUARDED_BY(m_clientLock);
    // Dispatches waiting to pin a client: a Start lets them in first.
    std::atomic<int> m_pinWaiting{0};

    // A dispatch's pin is dropped under this lock, and a removal waits here
    // for the last one.
    std::mutex m_pinLock;
    std::condition_variable m_pinReleased;
};

} // namespace engine
