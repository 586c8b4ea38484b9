#include "core/CAppLogic.h"

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EStructuredException.h"
#include "ferrox/exceptions/Exceptions.h"
#include "loop/AsyncSelect.h"
#include "loop/Window.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace core {

namespace {

constexpr const char* kLoopbackText = "127.0.0.1";
constexpr const char* kDefaultSchemeName = "settings.xml";
constexpr const char* kSocketsOperation = "Инициализации сокетов";
constexpr const char* kSocketsInfo = "Ошибка инициализации сокетов";
constexpr const char* kOptionsDamaged = "Файл с настройками не найден либо повреждён.";
constexpr const char* kServerMessages = "Обработка серверных сообщений";
constexpr const char* kClientMessages = "Обработка клиентских сообщений";
constexpr const char* kOptionsClamped =
    "Настройки вне допустимых пределов, для проверки взяты ближайшие допустимые значения: ";

bool FileExists(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

} // namespace

CAppLogic::CAppLogic(IUserNotifier* notifier)
    : CAppLogic(notifier, nullptr, IEngineFactory::Engine())
{}

CAppLogic::CAppLogic(IUserNotifier* notifier, IInterfaceSource& source)
    : CAppLogic(notifier, &source, IEngineFactory::Engine())
{}

CAppLogic::CAppLogic(IUserNotifier* notifier, IInterfaceSource& source, IEngineFactory& factory)
    : CAppLogic(notifier, &source, factory)
{}

CAppLogic::CAppLogic(IUserNotifier* notifier, IInterfaceSource* source, IEngineFactory& factory)
    : m_notifier(notifier), m_factory(factory), m_dispatch(*this)
{
    // Faults on this (the GUI) thread arrive as EStructuredException, a pure
    // call as EPurecallException; there is no COM whose errors need a hook.
    redirect_structured_exceptions redirect;
    (void)redirect;
    _set_purecall_handler(_my_purecall_translator);

    m_settings = std::make_unique<CXmlSettings>();
    m_interfaces =
        source ? std::make_unique<CNetInterfaces>(*source) : std::make_unique<CNetInterfaces>();

    // The local address: the first adapter address, unless there is none or it
    // is 0.x.x.x (an adapter without an address, or the query failed).
    const std::vector<channel::PeerAddress>& adapters = m_interfaces->AdapterAddresses();
    if (!adapters.empty())
        m_localAddress = adapters.front();
    if (adapters.empty() || channel::AddressNumber(m_localAddress, 0) == 0)
        channel::ParseAddress(m_localAddress, kLoopbackText);

    for (const channel::PeerAddress& address : m_interfaces->ServerAddresses()) {
        m_tcpServers.push_back(m_factory.MakeServer(channel::PROTOCOL_TCP, this, address));
        m_udpServers.push_back(m_factory.MakeServer(channel::PROTOCOL_UDP, this, address));
        m_ipServers.push_back(m_factory.MakeServer(channel::PROTOCOL_IP, this, address));
    }
    for (auto* servers : {&m_tcpServers, &m_udpServers, &m_ipServers}) {
        for (auto& server : *servers)
            m_dispatch.AddServer(server.get());
    }
}

CAppLogic::~CAppLogic()
{
    // The filter first (its task reads the store), then the clients (their
    // tasks report here), then the servers; the store goes last.
    m_events.Filter().Stop();
    StopAllClients();
    for (auto* servers : {&m_tcpServers, &m_udpServers, &m_ipServers}) {
        for (auto& server : *servers)
            server->CloseAll();
        servers->clear();
    }
}

void CAppLogic::Init(IUserNotifier* notifier, const std::string& schemePath,
                     const std::string& optionsPath)
{
    if (notifier)
        m_notifier.store(notifier);
    IUserNotifier* const user = m_notifier.load();

    platform::WSADATA data;
    if (platform::WSAStartup(platform::MAKEWORD(2, 2), &data) != 0) {
        if (Error.GetEnabled())
            TDebugStreamSession(Error) << kSocketsOperation << "\n";
        if (user)
            user->ShowError(kSocketsOperation, kSocketsInfo, "");
    }

    try {
        if (FileExists(optionsPath)) {
            m_settings->ReadOptions(optionsPath);
        } else {
            m_settings->SetOptionsPath(optionsPath);
            m_settings->SetOptions(CAppSettings::DefaultTimeOut, CAppSettings::DefaultTimeSendDelay,
                                   CAppSettings::DefaultSendDataSize,
                                   CAppSettings::DefaultMaxSendCount);
        }
    } catch (const EGeneric&) {
        if (user)
            user->ShowMessage(kOptionsDamaged, true);
    }
    // A hand-edited file may hold values the dialog never gives (a negative
    // delay would sleep for weeks): they stay in the file, the clients get them
    // clamped (MakeClientPlan), and the Error stream says so once.
    m_optionsNotice.clear();
    const std::string changes = ReadOptionsAsStored().ClampedChanges();
    if (!changes.empty()) {
        m_optionsNotice = kOptionsClamped + changes;
        if (Error.GetEnabled())
            TDebugStreamSession(Error) << m_optionsNotice << "\n";
    }

    const std::string scheme = schemePath.empty() ? std::string(kDefaultSchemeName) : schemePath;
    if (FileExists(scheme))
        m_settings->ReadScheme(scheme);
    else
        m_settings->SetSchemePath("");
}

// ---------------------------------------------------------------------------
// IApp

bool CAppLogic::PostToWindow(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    loop::HWND target = message == channel::WM_SERVER_ROW_CHANGED  ? m_serverPane.load()
                        : message == channel::WM_CLIENT_ROW_QUEUED ? m_clientPane.load()
                                                                   : m_mainWindow.load();
    return loop::PostToWindow(target, message, wParam, lParam);
}

int CAppLogic::SelectAsync(platform::SOCKET socket, loop::UINT message, long events)
{
    return loop::WSAAsyncSelect(socket, m_mainWindow.load(), message, events);
}

void CAppLogic::StartSendTimer(loop::UINT_PTR id, int seconds)
{
    // The clients pass clamped delays; anything else must still not wrap.
    const int bounded = std::clamp(seconds, 0, channel::ProbeOptions::MaxTimeSendDelay);
    loop::SetTimer(m_mainWindow.load(), id, static_cast<unsigned>(bounded) * 1000u);
}

void CAppLogic::StartPauseTimer(loop::UINT_PTR id, int milliseconds)
{
    const int bounded = std::clamp(milliseconds, 0, channel::ProbeOptions::MaxTimeOut);
    loop::SetTimer(m_mainWindow.load(), id, static_cast<unsigned>(bounded));
}

void CAppLogic::StopSendTimer(loop::UINT_PTR id)
{
    loop::KillTimer(m_mainWindow.load(), id);
}

int CAppLogic::AddEvent(int status, int code, int error, int protocol, const char* peerText,
                        std::uint16_t port1, std::uint16_t port2, bool incoming)
{
    // Incoming: the peer sent it to us; otherwise we sent it to the peer (if any).
    const char* sender = incoming ? peerText : m_localAddress.text;
    const char* receiver = incoming ? m_localAddress.text : peerText;
    return m_events.Add(events::MakeEvent(status, code, static_cast<std::uint32_t>(error), protocol,
                                          sender, receiver, port1, port2));
}

void CAppLogic::UpdateServerRow(int code, int protocol, std::uint16_t port, int eventIndex)
{
    int changed = -1;
    {
        std::lock_guard<std::mutex> lock(m_serverRowLock);
        for (std::size_t i = 0; i < m_serverRows.size(); ++i) {
            ServerRow& row = m_serverRows[i];
            // A row that shows "Порт открыт" keeps it: a later report of the
            // same port (a duplicate in the scheme) goes to the next row.
            if (row.protocol == protocol && row.port == port &&
                row.state != channel::EC_PORT_OPEN) {
                row.state = code;
                row.eventIndex = eventIndex;
                changed = static_cast<int>(i);
                break;
            }
        }
    }
    if (changed >= 0)
        PostToWindow(channel::WM_SERVER_ROW_CHANGED, static_cast<loop::WPARAM>(changed), 0);
}

std::uint32_t CAppLogic::AddClientRow(const channel::ClientRow& row)
{
    loop::CRecursiveMutex::Lock lock(m_dispatch.ClientLock());
    QueuedRow queued{row, false};
    queued.row.sequence = m_clientRowCounter++;
    m_clientRows.push_back(queued);
    return queued.row.sequence;
}

// ---------------------------------------------------------------------------
// Servers

int CAppLogic::StartServers(int addressIndex)
{
    if (addressIndex < 0 || addressIndex >= ServerAddressCount())
        return 1;
    const CXmlSettings& settings = *m_settings;
    {
        std::lock_guard<std::mutex> lock(m_serverRowLock);
        for (std::uint16_t port : settings.TcpPorts())
            m_serverRows.push_back(ServerRow{-1, 0, channel::PROTOCOL_TCP, port});
        const channel::PortList& udp = settings.UdpPorts();
        for (std::size_t i = 0; i < udp.size(); i += 2)
            m_serverRows.push_back(ServerRow{-1, 0, channel::PROTOCOL_UDP, udp[i]});
        for (std::uint16_t port : settings.IpPorts())
            m_serverRows.push_back(ServerRow{-1, 0, channel::PROTOCOL_IP, port});
    }
    const auto index = static_cast<std::size_t>(addressIndex);
    m_tcpServers[index]->Start(settings.TcpPorts());
    m_udpServers[index]->Start(settings.UdpPorts());
    m_ipServers[index]->Start(settings.IpPorts());
    m_events.StartFilterIfIdle();
    return 0;
}

void CAppLogic::StopServers()
{
    if (m_tcpServers.empty())
        return;
    m_tcpServers[0]->CloseAll();
    m_udpServers[0]->CloseAll();
    m_ipServers[0]->CloseAll();
}

void CAppLogic::ClearServerRows()
{
    std::lock_guard<std::mutex> lock(m_serverRowLock);
    m_serverRows.clear();
}

std::vector<ServerRow> CAppLogic::ServerRows() const
{
    std::lock_guard<std::mutex> lock(m_serverRowLock);
    return m_serverRows;
}

std::optional<ServerRow> CAppLogic::ServerRowAt(int row) const
{
    std::lock_guard<std::mutex> lock(m_serverRowLock);
    if (row < 0 || row >= static_cast<int>(m_serverRows.size()))
        return std::nullopt;
    return m_serverRows[static_cast<std::size_t>(row)];
}

// ---------------------------------------------------------------------------
// Clients

channel::ProbeOptions CAppLogic::ReadOptionsAsStored() const
{
    channel::ProbeOptions options;
    options.timeOut = m_settings->TimeOut();
    options.timeSendDelay = m_settings->TimeSendDelay();
    options.sendDataSize = m_settings->SendDataSize();
    options.maxSendCount = m_settings->MaxSendCount();
    return options;
}

ClientPlan CAppLogic::MakeClientPlan() const
{
    ClientPlan plan;
    plan.options = ReadOptionsAsStored().Clamped();
    plan.tcpPorts = m_settings->TcpPorts();
    plan.udpPorts = m_settings->UdpPorts();
    plan.ipPorts = m_settings->IpPorts();
    return plan;
}

channel::PeerAddress CAppLogic::StartClients(const std::string& peerText)
{
    return StartClients(peerText, MakeClientPlan());
}

channel::PeerAddress CAppLogic::StartClients(const std::string& peerText, const ClientPlan& plan)
{
    channel::PeerAddress peer;
    channel::ParseAddress(peer, peerText.c_str());
    m_dispatch.StartClient(
        m_factory.MakeClient(channel::PROTOCOL_TCP, this, peer, plan.options), plan.tcpPorts);
    m_dispatch.StartClient(
        m_factory.MakeClient(channel::PROTOCOL_UDP, this, peer, plan.options), plan.udpPorts);
    m_dispatch.StartClient(
        m_factory.MakeClient(channel::PROTOCOL_IP, this, peer, plan.options), plan.ipPorts);
    m_events.StartFilterIfIdle();
    return peer;
}

void CAppLogic::StopClients(const std::string& peerText)
{
    channel::PeerAddress peer;
    channel::ParseAddress(peer, peerText.c_str());
    m_dispatch.StopClients(peer);
}

void CAppLogic::StopAllClients()
{
    m_dispatch.StopAllClients();
}

std::size_t CAppLogic::ClientCount(int protocol) const
{
    return m_dispatch.ClientCount(protocol);
}

channel::ClientRow CAppLogic::TakeClientRow(std::uint32_t sequence)
{
    channel::ClientRow row;
    row.eventIndex = -1;
    loop::CRecursiveMutex::Lock lock(m_dispatch.ClientLock());
    if (!m_clientRows.empty()) {
        // Numbers are consecutive from the head, so the row is found by offset
        // (unsigned: the counter may wrap).
        const std::uint32_t offset = sequence - m_clientRows.front().row.sequence;
        if (offset < m_clientRows.size()) {
            QueuedRow& queued = m_clientRows[offset];
            if (!queued.taken) {
                row = queued.row;
                queued.taken = true;
            }
        }
    }
    while (!m_clientRows.empty() && m_clientRows.front().taken)
        m_clientRows.pop_front();
    return row;
}

std::uint32_t CAppLogic::NextClientRowSequence() const
{
    loop::CRecursiveMutex::Lock lock(m_dispatch.ClientLock());
    return m_clientRowCounter;
}

std::size_t CAppLogic::QueuedClientRows() const
{
    loop::CRecursiveMutex::Lock lock(m_dispatch.ClientLock());
    return m_clientRows.size();
}

// ---------------------------------------------------------------------------
// Events

int CAppLogic::PurgeEvents(bool keepPortResults)
{
    const CXmlSettings& settings = *m_settings;
    return m_events.Purge([keepPortResults, &settings](const events::Event& event) {
        if (!keepPortResults)
            return false;
        const int code = event.description;
        if (code != channel::EC_PORT_OPEN && code != channel::EC_PORT_BUSY &&
            code != channel::EC_NEED_ADMIN)
            return false;
        // The bound client ports of the UDP clients are no server results.
        return !(event.protocol == channel::PROTOCOL_UDP &&
                 settings.IsUdpClientPort(event.senderPort));
    });
}

int CAppLogic::TrimEvents()
{
    const int dropped = m_events.TrimToLimit();
    if (dropped > 0) {
        std::lock_guard<std::mutex> lock(m_serverRowLock);
        for (ServerRow& row : m_serverRows) {
            if (row.eventIndex >= 0)
                row.eventIndex = row.eventIndex >= dropped ? row.eventIndex - dropped : -1;
        }
    }
    return dropped;
}

// ---------------------------------------------------------------------------
// Dispatch

void CAppLogic::ReportDispatchError(const char* operation, const EGeneric& error)
{
    const std::string listing = error.what();
    if (Error.GetEnabled())
        TDebugStreamSession(Error) << listing << "\n";
    // An error without "Text" (a bare socket code, say) shows an empty error
    // text: reading a missing value as a string would throw from here.
    const _value_t text = error.get_value("Text");
    if (IUserNotifier* user = m_notifier.load())
        user->ShowError(operation, listing, text.empty() ? std::string() : text.as_string());
}

int CAppLogic::DispatchServerMessage(int protocol, platform::SOCKET socket, loop::LPARAM code)
{
    try {
        return m_dispatch.DispatchServerMessage(protocol, socket, code);
    } catch (const EGeneric& e) {
        ReportDispatchError(kServerMessages, e);
        return 0;
    }
}

int CAppLogic::DispatchClientMessage(int protocol, platform::SOCKET socket, loop::LPARAM code)
{
    try {
        return m_dispatch.DispatchClientMessage(protocol, socket, code);
    } catch (const EGeneric& e) {
        ReportDispatchError(kClientMessages, e);
        return 0;
    }
}

int CAppLogic::DispatchTimer(loop::UINT_PTR id)
{
    try {
        return m_dispatch.DispatchTimer(id);
    } catch (const EGeneric& e) {
        ReportDispatchError(kClientMessages, e);
        return 0;
    }
}

bool CAppLogic::DispatchWindowMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    const auto route = engine::CEngineDispatch::RouteOf(message);
    if (!route)
        return false;
    const auto socket = static_cast<platform::SOCKET>(wParam);
    if (route->server)
        DispatchServerMessage(route->protocol, socket, lParam);
    else
        DispatchClientMessage(route->protocol, socket, lParam);
    return true;
}

} // namespace core
