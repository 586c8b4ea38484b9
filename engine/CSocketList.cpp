#include "engine/CSocketList.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"

#include <algorithm>

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
    struct Gate
    {
        IStartGate* gate;
        explicit Gate(IStartGate* g) : gate(g)
        {
            if (gate)
                gate->Enter();
        }
        ~Gate()
        {
            if (gate)
                gate->Leave();
        }
        Gate(const Gate&) = delete;
        Gate& operator=(const Gate&) = delete;
    };
    {
        Gate gate(m_startGate);
        if (!m_ports.empty())
            CloseAll();
        m_ports = ports;
        m_count = static_cast<int>(m_ports.size());
        m_sockets.reset(new SOCKET[m_ports.size()]);
        m_lives.reset(new std::atomic<std::uint32_t>[m_ports.size()]);
        m_timerLives.reset(new std::atomic<std::uint32_t>[m_ports.size()]);
        for (int i = 0; i < m_count; ++i) {
            SetSocketAt(i, platform::INVALID_SOCKET);
            m_timerLives[static_cast<std::size_t>(i)].store(0);
        }
    }
    // The ports open in order, a slice at a time: between two slices the GUI
    // thread gets to the notifications of the ports already open.
    for (int first = 0; first < m_count; first += kStartSlice) {
        Gate gate(m_startGate);
        for (int i = first; i < std::min(m_count, first + kStartSlice); ++i) {
            NewLifeAt(i);
            OpenSocket(SlotAt(i), m_ports[static_cast<std::size_t>(i)]);
        }
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
    m_count = 0;
    m_sockets.reset();
    m_lives.reset();
    m_timerLives.reset();
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

void CSocketList::OpenServerSocket(SOCKET& socket, std::uint16_t port, const ServerSocketKind& kind)
{
    int code = channel::EC_PORT_OPEN;
    int error = 0;
    socket = platform::WSASocket(AF_INET, kind.type, kind.protocol, nullptr, 0, 0);
    if (socket == platform::INVALID_SOCKET) {
        error = platform::WSAGetLastError();
        code = error == platform::WSAEACCES ? channel::EC_NEED_ADMIN : channel::EC_INTERNAL_ERROR;
    } else if (m_sink == nullptr || m_sink->SelectAsync(socket, kind.message, kind.events) != 0) {
        error = platform::WSAGetLastError();
        code = channel::EC_INTERNAL_ERROR;
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = m_address.address;
        if (platform::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
                0 ||
            (kind.type == SOCK_STREAM && platform::listen(socket, SOMAXCONN) != 0)) {
            error = platform::WSAGetLastError();
            code = error == platform::WSAEADDRINUSE ? channel::EC_PORT_BUSY
                                                    : channel::EC_INTERNAL_ERROR;
        }
    }
    if (code != channel::EC_PORT_OPEN && socket != platform::INVALID_SOCKET) {
        platform::closesocket(socket);
        socket = platform::INVALID_SOCKET;
    }
    ReportWithServerRow(code, error, port);
}

int CSocketList::ReceiveDatagram(SOCKET socket, char* buffer, int size, sockaddr_in& sender,
                                 std::uint16_t port)
{
    int senderLength = sizeof(sender);
    const int received = platform::recvfrom(socket, buffer, size, 0,
                                            reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received != platform::SOCKET_ERROR)
        return received;
    const int error = platform::WSAGetLastError();
    const int code =
        error == platform::WSAECONNRESET ? channel::EC_RECEIVE_FAILED : channel::EC_INTERNAL_ERROR;
    Report(channel::EventCodeStatus(code), code, error, nullptr, port, 0, false);
    return -1;
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

namespace {

// Process-wide, so that a life is never shared by two sockets of two objects.
std::atomic<std::uint32_t> g_nextLife{1};

constexpr std::uint64_t kCodeMask = 0xFFFFFFFFu;

} // namespace

static_assert(sizeof(loop::LPARAM) == 8, "a life travels in the upper half of lParam");

loop::LPARAM CSocketList::WithLife(loop::LPARAM code, std::uint32_t life)
{
    const std::uint64_t value =
        (static_cast<std::uint64_t>(code) & kCodeMask) | (static_cast<std::uint64_t>(life) << 32);
    return static_cast<loop::LPARAM>(value);
}

std::uint32_t CSocketList::LifeOf(loop::LPARAM code)
{
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(code) >> 32);
}

loop::LPARAM CSocketList::CodeOf(loop::LPARAM code)
{
    return static_cast<loop::LPARAM>(static_cast<std::uint64_t>(code) & kCodeMask);
}

std::uint32_t CSocketList::LifeAt(int index) const
{
    if (!m_lives || index < 0 || index >= m_count)
        return 0;
    return m_lives[static_cast<std::size_t>(index)].load(std::memory_order_acquire);
}

std::uint32_t CSocketList::NewLifeAt(int index)
{
    if (!m_lives || index < 0 || index >= m_count)
        return 0;
    std::uint32_t life = g_nextLife.fetch_add(1, std::memory_order_relaxed);
    if (life == 0) // after four thousand million sockets
        life = g_nextLife.fetch_add(1, std::memory_order_relaxed);
    m_lives[static_cast<std::size_t>(index)].store(life, std::memory_order_release);
    return life;
}

bool CSocketList::IsCurrent(int index, loop::LPARAM code) const
{
    const std::uint32_t life = LifeOf(code);
    return life != 0 && life == LifeAt(index);
}

bool CSocketList::IsOwnRequest(int index, loop::LPARAM code)
{
    return code == channel::PROBE_TIMER ? TakeTimer(index) : IsCurrent(index, code);
}

bool CSocketList::IsSocketAt(int index, SOCKET socket) const
{
    return index >= 0 && index < m_count && SocketAt(index) == socket;
}

void CSocketList::ArmTimer(int index, SOCKET socket, int seconds)
{
    if (m_sink == nullptr || !m_timerLives || index < 0 || index >= m_count)
        return;
    m_timerLives[static_cast<std::size_t>(index)].store(LifeAt(index), std::memory_order_release);
    m_sink->StartSendTimer(static_cast<loop::UINT_PTR>(socket), seconds);
}

void CSocketList::ArmPauseTimer(int index, SOCKET socket, int milliseconds)
{
    if (m_sink == nullptr || !m_timerLives || index < 0 || index >= m_count)
        return;
    m_timerLives[static_cast<std::size_t>(index)].store(LifeAt(index), std::memory_order_release);
    m_sink->StartPauseTimer(static_cast<loop::UINT_PTR>(socket), milliseconds);
}

bool CSocketList::TakeTimer(int index)
{
    if (!m_timerLives || index < 0 || index >= m_count)
        return false;
    const std::uint32_t armed =
        m_timerLives[static_cast<std::size_t>(index)].exchange(0, std::memory_order_acq_rel);
    return armed != 0 && armed == LifeAt(index);
}

void CSocketList::StopTimerOfLife(SOCKET socket, std::uint32_t life)
{
    if (m_timerLives && life != 0) {
        for (int i = 0; i < m_count; ++i) {
            std::uint32_t expected = life;
            m_timerLives[static_cast<std::size_t>(i)].compare_exchange_strong(expected, 0);
        }
    }
    if (m_sink)
        m_sink->StopSendTimer(static_cast<loop::UINT_PTR>(socket));
}

void CSocketList::ArmDeadline(SOCKET socket, int milliseconds)
{
    if (m_sink)
        m_sink->StartPauseTimer(static_cast<loop::UINT_PTR>(socket) | kDeadlineTimerBit,
                                milliseconds);
}

void CSocketList::StopDeadline(SOCKET socket)
{
    if (m_sink)
        m_sink->StopSendTimer(static_cast<loop::UINT_PTR>(socket) | kDeadlineTimerBit);
}

void CSocketList::StopTimers()
{
    if (!m_timerLives)
        return;
    for (int i = 0; i < m_count; ++i) {
        if (m_timerLives[static_cast<std::size_t>(i)].exchange(0) != 0 && m_sink)
            m_sink->StopSendTimer(static_cast<loop::UINT_PTR>(SocketAt(i)));
    }
}

} // namespace engine
