#pragma once

// The one object that holds the running state of the channel check: the scheme
// and options, the local addresses, the servers that listen on the scheme's
// ports, the clients that probe the current peer, the event store with its
// filtered and sorted views, the server rows and the queue of client rows. The
// engine reports to it through IApp; the event filter reads the store through
// IEventFiltring.
//
// Threads
// - GUI thread (the thread of the QCoreApplication, which runs the main
//   window): construction, Init, the window setters, StartServers, StopServers,
//   ClearServerRows, MakeClientPlan, the one-argument StartClients, PurgeEvents,
//   TrimEvents, SetEventLimit, ApplyFilter, ClearFilter, SortEvents,
//   ToggleSortColumn, ExportCsv, the dispatch operations, destruction. The
//   dispatch and the event store's GUI-thread operations assert it in debug
//   builds (loop/ThreadChecks.h).
// - The client-check task (core/CClientCheck.h): StartClients(peer, plan),
//   StopClients, NextClientRowSequence, SetFilterFollow. StartClients runs the
//   clients' Start there: their first sockets are opened, selected
//   (SelectAsync) and reported on that task.
// - The servers, on the GUI thread: UpdateServerRow (safe from any thread).
// - Any thread: PostToWindow, SelectAsync, StartSendTimer, StopSendTimer,
//   AddEvent, AddClientRow, TakeClientRow, StopAllClients, ClientCount, the
//   IEventFiltring operations, the row lookups, the read accessors of the
//   store and the rows.
//
// Locks, in the only order they may be nested
// - The client lock (recursive; engine/CEngineDispatch.h) guards the client
//   row queue and the three client lists. It may be held while the event lock,
//   the index lock or the filter's lock is taken, never the reverse.
// - The event lock and the index lock belong to the event store
//   (events/CEventStore.h); the filter has its own (events/EventFilter.h).
// - A small lock of its own guards the server rows; nothing is taken under it.
// How a dispatch pins a client under the client lock and calls it without the
// lock, and how StopClients deletes clients only once no dispatch has them
// pinned, is the dispatch's (engine/CEngineDispatch.h).

#include "channel/ClientRow.h"
#include "channel/PeerAddress.h"
#include "channel/ProbeOptions.h"
#include "core/CNetInterfaces.h"
#include "core/CXmlSettings.h"
#include "core/IEngineFactory.h"
#include "core/IUserNotifier.h"
#include "engine/CEngineDispatch.h"
#include "engine/CSocketList.h"
#include "engine/IApp.h"
#include "events/CEventStore.h"
#include "events/IEventFiltring.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace core {

// One row of the server pane.
struct ServerRow
{
    std::int32_t eventIndex = -1; // the event that last changed the row
    std::int32_t state = 0;       // the last event code reported for the port
    std::int32_t protocol = 0;    // 1 TCP, 2 UDP, 3 IP
    std::uint16_t port = 0;       // listening port (IP: protocol number)

    bool operator==(const ServerRow&) const = default;
};

// What the clients of one peer are started with: the four options and the
// scheme's three port lists, copied on the GUI thread (the scheme may be edited
// while a check runs).
struct ClientPlan
{
    channel::ProbeOptions options; // within the options dialog's ranges
    channel::PortList tcpPorts;
    channel::PortList udpPorts; // (server port, client port) pairs
    channel::PortList ipPorts;
};

class CAppLogic final : public engine::IApp, public events::IEventFiltring
{
public:
    // Installs the fault translation on the calling thread and the pure-call
    // handler; collects the local addresses (from the system, or from source);
    // creates one TCP, UDP and IP server per server address (the engine's, or
    // the factory's).
    explicit CAppLogic(IUserNotifier* notifier = nullptr);
    CAppLogic(IUserNotifier* notifier, IInterfaceSource& source);
    CAppLogic(IUserNotifier* notifier, IInterfaceSource& source, IEngineFactory& factory);
    ~CAppLogic() override;
    CAppLogic(const CAppLogic&) = delete;
    CAppLogic& operator=(const CAppLogic&) = delete;

    // The four windows, set as the front end creates them: the main window
    // (socket notifications and timers), the server pane (0x8001), the events
    // pane (WM_EVENT_ADDED, WM_EVENTS_FILTERED) and the client pane (0x8004).
    void SetMainWindow(loop::HWND window) { m_mainWindow.store(window); }
    void SetServerPane(loop::HWND window) { m_serverPane.store(window); }
    void SetEventsPane(loop::HWND window) { m_events.SetEventsWindow(window); }
    void SetClientPane(loop::HWND window) { m_clientPane.store(window); }
    loop::HWND MainWindow() const { return m_mainWindow.load(); }

    // Sockets, options file (defaults written when it is missing, a message when
    // it is damaged; values outside the options dialog's ranges are kept, and
    // one line on the Error stream says that the clients get them clamped),
    // scheme file ("settings.xml" when the path is empty; the scheme path
    // becomes "" when the file does not exist). An EGeneric of ReadScheme
    // reaches the caller. The notifier (may be null) replaces the one given at
    // construction.
    void Init(IUserNotifier* notifier, const std::string& schemePath,
              const std::string& optionsPath);
    // The line Init wrote about clamped options (without the line feed), or "".
    const std::string& OptionsNotice() const { return m_optionsNotice; }

    // IApp.
    bool PostToWindow(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override;
    int SelectAsync(platform::SOCKET socket, loop::UINT message, long events) override;
    void StartSendTimer(loop::UINT_PTR id, int seconds) override;
    void StartPauseTimer(loop::UINT_PTR id, int milliseconds) override;
    int AddEvent(int status, int code, int error, int protocol, const char* peerText,
                 std::uint16_t port1, std::uint16_t port2, bool incoming) override;
    void UpdateServerRow(int code, int protocol, std::uint16_t port, int eventIndex) override;
    std::uint32_t AddClientRow(const channel::ClientRow& row) override;
    void StopSendTimer(loop::UINT_PTR id) override;

    // IEventFiltring, answered by the event store.
    void PostFilteredCount(int count) override { m_events.PostFilteredCount(count); }
    int AddFiltered(int eventIndex) override { return m_events.AddFiltered(eventIndex); }
    int GetFilteredCount() override { return m_events.GetFilteredCount(); }
    int GetEventCount() override { return m_events.GetEventCount(); }
    std::optional<events::Event> GetEvent(int index) override { return m_events.GetEvent(index); }

    // Servers. StartServers appends the server rows of the scheme's port lists
    // and starts the servers of that address entry: 0, or 1 for no such entry.
    int StartServers(int addressIndex);
    void StopServers();
    void ClearServerRows();

    // Clients of one peer. MakeClientPlan copies the options clamped to the
    // options dialog's ranges (channel::ProbeOptions::Clamped) and the port
    // lists. StartClients creates a TCP, a UDP and an IP client
    // for the peer, lists them and starts them (each under the client lock, so
    // no notification reaches a client before its Start is over); returns the
    // peer's address. The one-argument form takes the plan from the settings
    // (GUI thread). StopClients takes the peer's first client of each protocol
    // out of the lists and deletes it (waiting for its tasks).
    ClientPlan MakeClientPlan() const;
    channel::PeerAddress StartClients(const std::string& peerText, const ClientPlan& plan);
    channel::PeerAddress StartClients(const std::string& peerText);
    void StopClients(const std::string& peerText);
    void StopAllClients();
    std::size_t ClientCount(int protocol) const;

    // Client rows. TakeClientRow copies out the queued row with that sequence
    // number once (an empty row with event index -1 when it is not queued or
    // already taken) and drops taken rows from the head of the queue.
    channel::ClientRow TakeClientRow(std::uint32_t sequence);
    // The sequence number the next queued row will get.
    std::uint32_t NextClientRowSequence() const;
    std::size_t QueuedClientRows() const;

    // Keeps, with keepPortResults, the "Порт открыт", "Порт занят" and "Нужны
    // права администратора" reports except UDP ones of a UDP client port; else
    // nothing. Returns the rows to show.
    int PurgeEvents(bool keepPortResults);
    void ApplyFilter(const events::FilterCriteria& criteria) { m_events.ApplyFilter(criteria); }
    void ClearFilter() { m_events.ClearFilter(); }
    void SortEvents(int column, bool ascending, bool multiple)
    {
        m_events.SortEvents(column, ascending, multiple);
    }
    void ToggleSortColumn(int column) { m_events.ToggleSortColumn(column); }
    // A bounded history (events/CEventStore.h): the most events kept, 0 for
    // all; TrimEvents drops the oldest when there are a quarter more than that
    // and returns how many went. The server rows follow the new event indexes
    // (a row whose event went shows none). GUI thread.
    void SetEventLimit(int limit) { m_events.SetLimit(limit); }
    int TrimEvents();
    void SetFilterFollow(bool follow) { m_events.SetFollow(follow); }

    std::optional<events::Event> EventAtRow(int row) const { return m_events.EventAtRow(row); }
    std::optional<events::Event> FilteredEventAtRow(int row) const
    {
        return m_events.FilteredEventAtRow(row);
    }
    std::optional<events::Event> ShownEventAtRow(int row) const
    {
        return m_events.ShownEventAtRow(row);
    }
    int ShownRowCount() const { return m_events.ShownRowCount(); }
    int RowOfEvent(int eventIndex) const { return m_events.RowOfEvent(eventIndex); }
    int RowOfEventId(std::uint32_t sequence) const { return m_events.RowOfEventId(sequence); }
    std::size_t ExportCsv(std::ostream& out) const { return m_events.WriteCsv(out); }

    // A notification or timer for a socket, through the engine's dispatch
    // (engine/CEngineDispatch.h): 0 when an object took it, 1 when none did. An
    // EGeneric of the engine is written to the Error stream and shown through
    // the notifier; the message is then counted as taken.
    int DispatchServerMessage(int protocol, platform::SOCKET socket, loop::LPARAM code);
    int DispatchClientMessage(int protocol, platform::SOCKET socket, loop::LPARAM code);
    // A timer of the main window: killed, then TCP, UDP, IP clients in turn.
    int DispatchTimer(loop::UINT_PTR id);
    // One of the main window's six socket messages (0x8009 .. 0x800E) to its
    // server or client; false for any other message.
    bool DispatchWindowMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam);

    CXmlSettings& Settings() { return *m_settings; }
    const CXmlSettings& Settings() const { return *m_settings; }
    const CNetInterfaces& Interfaces() const { return *m_interfaces; }
    const channel::PeerAddress& LocalAddress() const { return m_localAddress; }
    std::vector<std::string> Senders() const { return m_events.Senders(); }
    std::vector<std::string> Receivers() const { return m_events.Receivers(); }
    std::vector<ServerRow> ServerRows() const;
    std::optional<ServerRow> ServerRowAt(int row) const;
    int ServerAddressCount() const { return static_cast<int>(m_tcpServers.size()); }
    events::CEventStore& Events() { return m_events; }
    const events::CEventStore& Events() const { return m_events; }

private:
    using ClientPtr = engine::CEngineDispatch::ClientPtr;

    struct QueuedRow
    {
        channel::ClientRow row;
        bool taken = false;
    };

    CAppLogic(IUserNotifier* notifier, IInterfaceSource* source, IEngineFactory& factory);
    // The four options as the settings hold them (maybe out of range).
    channel::ProbeOptions ReadOptionsAsStored() const;
    void ReportDispatchError(const char* operation, const EGeneric& error);

    std::atomic<loop::HWND> m_mainWindow{nullptr};
    std::atomic<loop::HWND> m_serverPane{nullptr};
    std::atomic<loop::HWND> m_clientPane{nullptr};
    std::atomic<IUserNotifier*> m_notifier;
    IEngineFactory& m_factory;

    std::string m_optionsNotice; // GUI thread
    std::unique_ptr<CNetInterfaces> m_interfaces;
    std::unique_ptr<CXmlSettings> m_settings;
    channel::PeerAddress m_localAddress;

    // One per server address; they live as long as this object (GUI thread).
    std::vector<std::unique_ptr<engine::CSocketList>> m_tcpServers;
    std::vector<std::unique_ptr<engine::CSocketList>> m_udpServers;
    std::vector<std::unique_ptr<engine::CSocketList>> m_ipServers;

    // The servers above, and the client lists with the client lock.
    mutable engine::CEngineDispatch m_dispatch;
    // Under the client lock; sequence numbers consecutive from the head.
    std::deque<QueuedRow> m_clientRows KANALIKO_GUARDED_BY(m_dispatch.ClientLock());
    std::uint32_t m_clientRowCounter KANALIKO_GUARDED_BY(m_dispatch.ClientLock()) = 0;

    mutable std::mutex m_serverRowLock;
    std::vector<ServerRow> m_serverRows;

    events::CEventStore m_events;
};

} // namespace core
