#include "engine/CEngineDispatch.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace engine {

std::optional<CEngineDispatch::Route> CEngineDispatch::RouteOf(loop::UINT message)
{
    switch (message) {
    case channel::WM_UDP_SERVER_SOCKET: return Route{true, channel::PROTOCOL_UDP};
    case channel::WM_TCP_SERVER_SOCKET: return Route{true, channel::PROTOCOL_TCP};
    case channel::WM_IP_SERVER_SOCKET: return Route{true, channel::PROTOCOL_IP};
    case channel::WM_UDP_CLIENT_SOCKET: return Route{false, channel::PROTOCOL_UDP};
    case channel::WM_TCP_CLIENT_SOCKET: return Route{false, channel::PROTOCOL_TCP};
    case channel::WM_IP_CLIENT_SOCKET: return Route{false, channel::PROTOCOL_IP};
    default: return std::nullopt;
    }
}

CEngineDispatch::CEngineDispatch(IApp& sink) : m_sink(sink) {}

CEngineDispatch::~CEngineDispatch()
{
    StopAllClients();
}

bool CEngineDispatch::IsProtocol(int protocol)
{
    return protocol > 0 && static_cast<std::size_t>(protocol) < kProtocols;
}

void CEngineDispatch::AddServer(CSocketList* server)
{
    loop::AssertGuiThread("CEngineDispatch::AddServer");
    if (IsProtocol(server->Protocol()))
        m_servers[static_cast<std::size_t>(server->Protocol())].push_back(server);
}

void CEngineDispatch::List(ClientPtr client)
{
    if (IsProtocol(client->Protocol()))
        m_clients[static_cast<std::size_t>(client->Protocol())].push_back(std::move(client));
}

void CEngineDispatch::AddClient(ClientPtr client)
{
    loop::CRecursiveMutex::Lock lock(m_clientLock);
    List(std::move(client));
}

void CEngineDispatch::StartClient(ClientPtr client, const std::vector<std::uint16_t>& ports)
{
    // Pinned while it starts: a removal meanwhile waits for the Start to end.
    ClientPtr started = client;
    {
        loop::CRecursiveMutex::Lock lock(m_clientLock);
        List(std::move(client));
    }
    struct PinGuard
    {
        CEngineDispatch& dispatch;
        ClientPtr& client;
        ~PinGuard()
        {
            client->SetStartGate(nullptr);
            dispatch.Unpin(client);
        }
    } pin{*this, started};
    started->SetStartGate(this);
    started->Start(ports);
}

void CEngineDispatch::Enter()
{
    // A dispatch needs the lock for a look-up only: it is let in first. The
    // wait is bounded: a caller that holds the lock already (it is recursive)
    // must not wait for a dispatch that waits for it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
    while (m_pinWaiting.load(std::memory_order_acquire) > 0 &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    m_clientLock.lock();
}

void CEngineDispatch::Leave()
{
    m_clientLock.unlock();
}

void CEngineDispatch::StopClients(const channel::PeerAddress& peer)
{
    std::vector<ClientPtr> removed;
    {
        loop::CRecursiveMutex::Lock lock(m_clientLock);
        for (ClientList& list : m_clients) {
            auto found = std::find_if(list.begin(), list.end(),
                                      [&peer](const ClientPtr& c) { return c->Address() == peer; });
            if (found != list.end()) {
                removed.push_back(std::move(*found));
                list.erase(found);
            }
        }
    }
    Release(removed);
}

void CEngineDispatch::StopAllClients()
{
    std::vector<ClientPtr> removed;
    {
        loop::CRecursiveMutex::Lock lock(m_clientLock);
        for (ClientList& list : m_clients) {
            for (ClientPtr& client : list)
                removed.push_back(std::move(client));
            list.clear();
        }
    }
    Release(removed);
}

void CEngineDispatch::RemoveClient(const CSocketList* client)
{
    std::vector<ClientPtr> removed;
    {
        loop::CRecursiveMutex::Lock lock(m_clientLock);
        for (ClientList& list : m_clients) {
            auto found = std::find_if(list.begin(), list.end(),
                                      [client](const ClientPtr& c) { return c.get() == client; });
            if (found != list.end()) {
                removed.push_back(std::move(*found));
                list.erase(found);
            }
        }
    }
    Release(removed);
}

std::size_t CEngineDispatch::ClientCount(int protocol) const
{
    if (!IsProtocol(protocol))
        return 0;
    loop::CRecursiveMutex::Lock lock(m_clientLock);
    return m_clients[static_cast<std::size_t>(protocol)].size();
}

void CEngineDispatch::Release(std::vector<ClientPtr>& clients)
{
    for (ClientPtr& client : clients) {
        {
            std::unique_lock<std::mutex> lock(m_pinLock);
            m_pinReleased.wait(lock, [&client] { return client.use_count() == 1; });
        }
        client.reset(); // the last reference: the destructor waits for the tasks
    }
    clients.clear();
}

int CEngineDispatch::Dispatch(const Route& route, SOCKET socket, loop::LPARAM code)
{
    return route.server ? DispatchServerMessage(route.protocol, socket, code)
                        : DispatchClientMessage(route.protocol, socket, code);
}

int CEngineDispatch::DispatchServerMessage(int protocol, SOCKET socket, loop::LPARAM code)
{
    loop::AssertGuiThread("CEngineDispatch::DispatchServerMessage");
    if (!IsProtocol(protocol))
        return 1;
    for (CSocketList* server : m_servers[static_cast<std::size_t>(protocol)]) {
        const int index = server->FindSocket(socket);
        if (index != -1) {
            server->OnSocketEvent(socket, index, code);
            return 0;
        }
    }
    return 1;
}

CEngineDispatch::ClientPtr CEngineDispatch::Pin(int protocol, SOCKET socket, int& index)
{
    m_pinWaiting.fetch_add(1, std::memory_order_acq_rel);
    loop::CRecursiveMutex::Lock lock(m_clientLock);
    m_pinWaiting.fetch_sub(1, std::memory_order_acq_rel);
    for (const ClientPtr& candidate : m_clients[static_cast<std::size_t>(protocol)]) {
        index = candidate->FindSocket(socket);
        if (index != -1)
            return candidate; // the copy is the pin: a removal waits for it
    }
    return nullptr;
}

void CEngineDispatch::Unpin(ClientPtr& client)
{
    {
        std::lock_guard<std::mutex> lock(m_pinLock);
        client.reset();
    }
    m_pinReleased.notify_all();
}

int CEngineDispatch::DispatchClientMessage(int protocol, SOCKET socket, loop::LPARAM code)
{
    loop::AssertGuiThread("CEngineDispatch::DispatchClientMessage");
    if (!IsProtocol(protocol))
        return 1;
    int index = -1;
    ClientPtr client = Pin(protocol, socket, index);
    if (!client)
        return 1;
    struct PinGuard
    {
        CEngineDispatch& dispatch;
        ClientPtr& client;
        ~PinGuard() { dispatch.Unpin(client); }
    } pin{*this, client};
    client->OnSocketEvent(socket, index, code); // without the client lock
    return 0;
}

int CEngineDispatch::DispatchTimer(loop::UINT_PTR id)
{
    loop::AssertGuiThread("CEngineDispatch::DispatchTimer");
    // A probe timer fires once: the client arms it again for the next probe.
    m_sink.StopSendTimer(id);
    if ((id & CSocketList::kDeadlineTimerBit) != 0) // only TCP clients wait this way
        return DispatchClientMessage(channel::PROTOCOL_TCP,
                                     static_cast<SOCKET>(id & ~CSocketList::kDeadlineTimerBit),
                                     channel::PROBE_DEADLINE);
    const auto socket = static_cast<SOCKET>(id);
    for (int protocol : {channel::PROTOCOL_TCP, channel::PROTOCOL_UDP, channel::PROTOCOL_IP}) {
        if (DispatchClientMessage(protocol, socket, channel::PROBE_TIMER) == 0)
            return 0;
    }
    return 1;
}

} // namespace engine
