#pragma once

// What serve and check share: the application logic with the scheme and
// options loaded, its main window, and the printing of events as they come.
// The logic's four windows are all this session's window: the engine's
// notifications are dispatched by it, and the panes' messages (new events,
// queued client rows) arrive at its handler.
//
// Threads: the GUI thread (the QCoreApplication's).

#include "cli/CConsoleNotifier.h"
#include "core/CAppLogic.h"
#include "core/CAppWindow.h"

#include <functional>
#include <memory>
#include <string>

namespace cli {

class CCommandLine;

class CChannelSession
{
public:
    // --scheme FILE (default settings.xml in the current folder) must exist and
    // load; --options FILE (default ~/.config/Kanaliko/options.xml). ESetupError
    // otherwise.
    CChannelSession(const CCommandLine& command, bool printEvents);
    ~CChannelSession();

    core::CAppLogic& Logic() { return *m_logic; }
    // ESetupError "the scheme ... has <nothing>: ..." when the scheme has no
    // port of any protocol.
    void RequirePorts(const char* nothing) const;
    CConsoleNotifier& Notifier() { return m_notifier; }

    // Starts the servers on every port of the scheme.
    void StartServers();
    // Every client row the engine queues, as it is taken.
    void OnClientRow(std::function<void(const channel::ClientRow&)> handler)
    {
        m_onRow = std::move(handler);
    }
    // Keeps at most about that many events (core::CAppLogic::SetEventLimit):
    // after printing new events the session drops the oldest and says so on
    // standard error.
    void KeepEvents(int limit);
    // Prints the events not printed yet.
    void PrintNewEvents();
    // Before a check: ESetupError when the CSV file cannot be created (or
    // opened for writing). The test leaves nothing behind: a file it had to
    // create is removed at once, so no empty file stands there until the
    // events are written.
    static void CheckCsvPath(const std::string& path);
    // Writes every event in the export's format; ESetupError when the file
    // cannot be written, and then no file is left where there was none.
    void WriteCsv(const std::string& path) const;

private:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam);

    CConsoleNotifier m_notifier;
    std::unique_ptr<core::CAppLogic> m_logic;
    std::unique_ptr<core::CAppWindow> m_window;
    std::function<void(const channel::ClientRow&)> m_onRow;
    std::string m_scheme;
    bool m_printEvents;
    int m_printed = 0;
};

} // namespace cli
