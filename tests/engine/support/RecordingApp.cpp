#include "engine/support/RecordingApp.h"

#include "channel/AppMessages.h"
#include "loop/AsyncSelect.h"
#include "loop/EventLoop.h"

#include <algorithm>

namespace enginetest {

void EnsureApplication()
{
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "engine-tests";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv); // lives for the whole test process
    }
}

CRecordingApp::CRecordingApp() : m_dispatch(*this)
{
    EnsureApplication();
    m_window = new engine::CDispatchWindow(m_dispatch);
}

CRecordingApp::~CRecordingApp()
{
    delete m_window;
}

void CRecordingApp::AddServer(engine::CSocketList* server)
{
    m_dispatch.AddServer(server);
}

void CRecordingApp::AddClient(engine::CSocketList* client)
{
    // Listed without ownership: the test's own object outlives its listing.
    m_dispatch.AddClient(engine::CEngineDispatch::ClientPtr(client, [](engine::CSocketList*) {}));
}

void CRecordingApp::RemoveClient(engine::CSocketList* client)
{
    m_dispatch.RemoveClient(client);
}

bool CRecordingApp::PostToWindow(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_posts.push_back({message, wParam, lParam});
    }
    if (message == channel::WM_SERVER_ROW_CHANGED || message == channel::WM_CLIENT_ROW_QUEUED)
        return true; // the panes' messages: recorded only
    return loop::PostToWindow(m_window->Handle(), message, wParam, lParam);
}

int CRecordingApp::SelectAsync(platform::SOCKET socket, loop::UINT message, long events)
{
    return loop::WSAAsyncSelect(socket, m_window->Handle(), message, events);
}

void CRecordingApp::StartSendTimer(loop::UINT_PTR id, int seconds)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_timerStarts;
        if (std::find(m_armed.begin(), m_armed.end(), id) == m_armed.end())
            m_armed.push_back(id);
    }
    loop::SetTimer(m_window->Handle(), id, static_cast<unsigned>(seconds) * 1000u);
}

void CRecordingApp::StartPauseTimer(loop::UINT_PTR id, int milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_pauseTimerStarts;
        if (std::find(m_armed.begin(), m_armed.end(), id) == m_armed.end())
            m_armed.push_back(id);
    }
    loop::SetTimer(m_window->Handle(), id, static_cast<unsigned>(milliseconds));
}

void CRecordingApp::StopSendTimer(loop::UINT_PTR id)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_armed.erase(std::remove(m_armed.begin(), m_armed.end(), id), m_armed.end());
    }
    loop::KillTimer(m_window->Handle(), id);
}

int CRecordingApp::AddEvent(int status, int code, int error, int protocol, const char* peerText,
                            std::uint16_t port1, std::uint16_t port2, bool incoming)
{
    std::unique_lock<std::mutex> lock(m_lock);
    RecordedEvent e;
    e.index = static_cast<int>(m_events.size());
    e.status = status;
    e.code = code;
    e.error = error;
    e.protocol = protocol;
    e.peer = peerText ? peerText : "";
    e.port1 = port1;
    e.port2 = port2;
    e.incoming = incoming;
    e.at = std::chrono::steady_clock::now();
    m_events.push_back(e);
    const std::function<void(const RecordedEvent&)> hook = m_eventHook;
    lock.unlock();
    if (hook)
        hook(e);
    return e.index;
}

void CRecordingApp::UpdateServerRow(int code, int protocol, std::uint16_t port, int eventIndex)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_serverRows.push_back({code, protocol, port, eventIndex});
}

std::uint32_t CRecordingApp::AddClientRow(const channel::ClientRow& row)
{
    std::lock_guard<std::mutex> lock(m_lock);
    channel::ClientRow copy = row;
    copy.sequence = m_sequence++;
    m_rows.push_back(copy);
    return copy.sequence;
}

std::vector<RecordedEvent> CRecordingApp::Events() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
}

std::vector<channel::ClientRow> CRecordingApp::ClientRows() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_rows;
}

std::vector<RecordedServerRow> CRecordingApp::ServerRows() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_serverRows;
}

std::vector<RecordedPost> CRecordingApp::Posts() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_posts;
}

std::vector<loop::UINT_PTR> CRecordingApp::ArmedTimers() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_armed;
}

int CRecordingApp::TimerStarts() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_timerStarts;
}

int CRecordingApp::PauseTimerStarts() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pauseTimerStarts;
}

void CRecordingApp::SetEventHook(std::function<void(const RecordedEvent&)> hook)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_eventHook = std::move(hook);
}

std::vector<channel::ClientRow> CRecordingApp::RowsFor(int protocol, std::uint32_t port) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<channel::ClientRow> out;
    for (const auto& row : m_rows) {
        if (static_cast<int>(row.protocol) == protocol && row.port == port)
            out.push_back(row);
    }
    return out;
}

std::vector<RecordedEvent> CRecordingApp::EventsFor(int protocol, std::uint16_t port) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<RecordedEvent> out;
    for (const auto& e : m_events) {
        if (e.protocol == protocol && e.port1 == port)
            out.push_back(e);
    }
    return out;
}

bool CRecordingApp::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return loop::RunUntil(done, limit);
}

std::vector<int> Codes(const std::vector<RecordedEvent>& events)
{
    std::vector<int> codes;
    for (const auto& e : events)
        codes.push_back(e.code);
    return codes;
}

std::string CodesText(const std::vector<int>& codes)
{
    std::string out;
    for (int c : codes)
        out += (out.empty() ? "" : " ") + std::to_string(c);
    return out;
}

} // namespace enginetest
