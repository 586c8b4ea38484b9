#pragma once

// A test sink for the engine: implements IApp over the event loop the way
// the application logic does, and records every AddEvent, AddClientRow,
// UpdateServerRow and posted message. Its main window hands socket
// notifications, client messages and timers to the program's own dispatch
// (engine/CEngineDispatch), so the tests drive the engine exactly as the
// program does.
//
// The test's thread is the GUI thread; drive it with loop::RunUntil.

#include "engine/CDispatchWindow.h"
#include "engine/CEngineDispatch.h"
#include "engine/CSocketList.h"
#include "engine/IApp.h"
#include "loop/Window.h"
#include "support/FreePorts.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace enginetest {

struct RecordedEvent
{
    int index = 0;
    int status = 0;
    int code = 0;
    int error = 0;
    int protocol = 0;
    std::string peer; // "" when none
    std::uint16_t port1 = 0;
    std::uint16_t port2 = 0;
    bool incoming = false;
    std::chrono::steady_clock::time_point at;
};

struct RecordedServerRow
{
    int code;
    int protocol;
    std::uint16_t port;
    int eventIndex;
};

struct RecordedPost
{
    loop::UINT message;
    loop::WPARAM wParam;
    loop::LPARAM lParam;
};

// Makes the process's QCoreApplication on first use (tests run on the main thread).
void EnsureApplication();

class CRecordingApp final : public engine::IApp
{
public:
    CRecordingApp();
    ~CRecordingApp() override;

    // The objects the main window dispatches to. The test owns them; a client
    // is removed before it goes (RemoveClient), a server may simply outlive
    // the dispatching.
    void AddServer(engine::CSocketList* server);
    void AddClient(engine::CSocketList* client);
    void RemoveClient(engine::CSocketList* client);

    bool PostToWindow(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override;
    int SelectAsync(platform::SOCKET socket, loop::UINT message, long events) override;
    void StartSendTimer(loop::UINT_PTR id, int seconds) override;
    void StartPauseTimer(loop::UINT_PTR id, int milliseconds) override;
    int AddEvent(int status, int code, int error, int protocol, const char* peerText,
                 std::uint16_t port1, std::uint16_t port2, bool incoming) override;
    void UpdateServerRow(int code, int protocol, std::uint16_t port, int eventIndex) override;
    std::uint32_t AddClientRow(const channel::ClientRow& row) override;
    void StopSendTimer(loop::UINT_PTR id) override;

    std::vector<RecordedEvent> Events() const;
    std::vector<channel::ClientRow> ClientRows() const;
    std::vector<RecordedServerRow> ServerRows() const;
    std::vector<RecordedPost> Posts() const;
    // Timers armed and not (yet) killed, by id.
    std::vector<loop::UINT_PTR> ArmedTimers() const;
    // Probe timers started (StartSendTimer); pause timers are counted apart.
    int TimerStarts() const;
    int PauseTimerStarts() const;
    // Called, outside the recorder's lock, with every event as it is added, on
    // the thread that adds it: lets a test hold a pool task at a chosen step.
    void SetEventHook(std::function<void(const RecordedEvent&)> hook);

    // Client rows of one protocol and port (rows carry the peer's port).
    std::vector<channel::ClientRow> RowsFor(int protocol, std::uint32_t port) const;
    std::vector<RecordedEvent> EventsFor(int protocol, std::uint16_t port) const;
    // Runs the loop until the condition holds or the time is up.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

private:

    engine::CDispatchWindow* m_window = nullptr;
    engine::CEngineDispatch m_dispatch;

    mutable std::mutex m_lock;
    std::vector<RecordedEvent> m_events;
    std::vector<channel::ClientRow> m_rows;
    std::vector<RecordedServerRow> m_serverRows;
    std::vector<RecordedPost> m_posts;
    std::vector<loop::UINT_PTR> m_armed;
    int m_timerStarts = 0;
    int m_pauseTimerStarts = 0;
    std::function<void(const RecordedEvent&)> m_eventHook;
    std::uint32_t m_sequence = 0;
};

// Codes of a list of events, for readable assertions.
std::vector<int> Codes(const std::vector<RecordedEvent>& events);
std::string CodesText(const std::vector<int>& codes);

using testsupport::FreePort;

} // namespace enginetest
