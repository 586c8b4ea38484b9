#include "platform/SocketTable.h"

#include <atomic>

namespace platform::detail {

CSocketTable& CSocketTable::Instance()
{
    // Never destroyed: sockets may still be closed by threads that outlive
    // static destruction.
    static CSocketTable* table = new CSocketTable;
    return *table;
}

void CSocketTable::Add(SOCKET s, const SocketRecord& record)
{
    std::lock_guard lock(m_mutex);
    m_records[s] = record;
}

bool CSocketTable::Find(SOCKET s, SocketRecord* record) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_records.find(s);
    if (it == m_records.end())
        return false;
    if (record)
        *record = it->second;
    return true;
}

bool CSocketTable::Update(SOCKET s, const std::function<void(SocketRecord&)>& change)
{
    std::lock_guard lock(m_mutex);
    auto it = m_records.find(s);
    if (it == m_records.end())
        return false;
    change(it->second);
    return true;
}

bool CSocketTable::Take(SOCKET s, SocketRecord* record)
{
    std::lock_guard lock(m_mutex);
    auto it = m_records.find(s);
    if (it == m_records.end())
        return false;
    if (record)
        *record = it->second;
    m_records.erase(it);
    return true;
}

void CSocketTable::AddReserved(SOCKET s)
{
    std::lock_guard lock(m_mutex);
    m_reserved.insert(s);
}

bool CSocketTable::TakeReserved(SOCKET s)
{
    std::lock_guard lock(m_mutex);
    return m_reserved.erase(s) != 0;
}

bool FindOrFail(SOCKET s, SocketRecord* record)
{
    if (CSocketTable::Instance().Find(s, record))
        return true;
    WSASetLastError(WSAENOTSOCK);
    return false;
}

int FailWithErrno(int error, SocketKind kind)
{
    SetLastErrorFromErrno(error, kind);
    return SOCKET_ERROR;
}

int Fail(int wsaError)
{
    WSASetLastError(wsaError);
    return SOCKET_ERROR;
}

namespace {
std::atomic<ISocketHooks*> g_hooks{nullptr};
}

ISocketHooks* InstalledHooks()
{
    return g_hooks.load(std::memory_order_acquire);
}

} // namespace platform::detail

namespace platform {

void InstallSocketHooks(ISocketHooks* hooks)
{
    if (hooks)
        detail::PlaceholderDescriptor(); // now, while descriptors are to be had
    detail::g_hooks.store(hooks, std::memory_order_release);
}

bool SetSocketWatched(SOCKET s, bool watched)
{
    return detail::CSocketTable::Instance().Update(s, [watched](detail::SocketRecord& record) {
        record.watched = watched;
        if (watched) {
            record.everWatched = true;
            record.nonBlocking = true;
        }
    });
}

bool QuerySocket(SOCKET s, SocketState* state)
{
    detail::SocketRecord record;
    if (!detail::CSocketTable::Instance().Find(s, &record))
        return false;
    if (state) {
        state->kind = record.kind;
        state->listening = record.listening;
        state->nonBlocking = record.nonBlocking;
        state->watched = record.watched;
    }
    return true;
}

} // namespace platform
