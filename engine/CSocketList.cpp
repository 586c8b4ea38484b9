#include "engine/CSocketList.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"

namespace engine {

CSocketList::CSocketList(IApp* sink, const channel::PeerAddress& address, int protocol)
    : m_sink(sink), m_address(address), m_protocol(protocol)
{}

CSocketList::~CSocketList()
{
    CloseSockets();
    m_sink = nullptr;
}

void CSocketList::Start(const std::vector<std::uint16_t>& ports)
{
    StartPorts(ports);
}

void CSocketList::StartPorts(const std::vector<std::uint16_t>& ports)
{
    if (!m_ports.empty())
        CloseAll();
    m_ports = ports;
    m_count = static_cast<int>(m_ports.size());
    m_sockets.reset(new SOCKET[m_ports.size()]);
    for (int i = 0; i < m_count; ++i) {
        SetSocketAt(i, platform::INVALID_SOCKET);
        OpenSocket(SlotAt(i), m_ports[static_cast<std::size_t>(i)]);
    }
}

void CSocketList::OpenSocket(SOCKET&, std::uint16_t) {}

void CSocketList::CloseAll()
{
    CloseSockets();
}

void CSocketList::CloseSockets()
{
    if (!m_sockets)
        return;
    for (int i = 0; i < m_count; ++i) {
        SOCKET s = __atomic_exchange_n(&m_sockets[static_cast<std::size_t>(i)],
                                       platform::INVALID_SOCKET, __ATOMIC_ACQ_REL);
        if (s != platform::INVALID_SOCKET)
            platform::closesocket(s);
    }
    m_sockets.reset();
    m_count = 0;
}

void CSocketList::OnSocketEvent(SOCKET, int, loop::LPARAM) {}

int CSocketList::FindSocket(SOCKET socket) const
{
    if (!m_sockets)
        return -1;
    for (int i = 0; i < m_count; ++i) {
        if (SocketAt(i) == socket)
            return i;
    }
    return -1;
}

SOCKET CSocketList::SocketAt(int index) const
{
    if (!m_sockets || index < 0 || index >= m_count)
        return platform::INVALID_SOCKET;
    return __atomic_load_n(&m_sockets[static_cast<std::size_t>(index)], __ATOMIC_ACQUIRE);
}

void CSocketList::SetSocketAt(int index, SOCKET socket)
{
    if (m_sockets && index >= 0 && index < m_count)
        __atomic_store_n(&m_sockets[static_cast<std::size_t>(index)], socket, __ATOMIC_RELEASE);
}

SOCKET& CSocketList::SlotAt(int index)
{
    return m_sockets[static_cast<std::size_t>(index)];
}

int CSocketList::IndexOfSlot(const SOCKET& slot) const
{
    if (!m_sockets)
        return -1;
    const std::ptrdiff_t index = &slot - m_sockets.get();
    return index >= 0 && index < m_count ? static_cast<int>(index) : -1;
}

int CSocketList::ReportWithServerRow(int code, int error, std::uint16_t port)
{
    if (m_sink == nullptr)
        return -1;
    int index = m_sink->AddEvent(channel::EventCodeStatus(code), code, error, m_protocol, nullptr,
                                 port, 0, false);
    m_sink->UpdateServerRow(code, m_protocol, port, index);
    return index;
}

int CSocketList::Report(int status, int code, int error, const char* peerText, std::uint16_t port1,
                        std::uint16_t port2, bool incoming)
{
    if (m_sink == nullptr)
        return -1;
    return m_sink->AddEvent(status, code, error, m_protocol, peerText, port1, port2, incoming);
}

void CSocketList::QueueClientRow(const channel::ClientRow& row)
{
    if (m_sink == nullptr)
        return;
    std::uint32_t sequence = m_sink->AddClientRow(row);
    m_sink->PostToWindow(channel::WM_CLIENT_ROW_QUEUED, sequence, 0);
}

} // namespace engine
