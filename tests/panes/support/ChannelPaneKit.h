#pragma once

// Helpers of the client and server pane tests: a host that stands in for the
// main window (the application logic with its window, message routing as the
// frame does it, and a record of what the panes ask of the frame), schemes
// on free ports, and a clipboard that fails on request.

#include "core/CAppLogic.h"
#include "core/CAppWindow.h"
#include "dialogs/support/CScriptedPrompt.h"
#include "panes/IPaneClipboard.h"
#include "panes/IPaneHost.h"
#include "support/TestFiles.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace panes {
class CClientBar;
class CServerBar;
} // namespace panes

namespace channeltest {

// Runs the GUI thread's event loop until done() holds or the limit passes.
bool RunUntil(const std::function<bool()>& done,
              std::chrono::milliseconds limit = std::chrono::seconds(20));

// The options file of the tests: TimeOut, TimeSendDelay 1 s, 10 bytes, attempts.
void WriteOptions(const std::string& path, int timeOut, int maxSendCount);

// A scheme file of these groups.
void WriteGroups(const std::string& path, const std::vector<channel::SchemeGroup>& groups);

// The logic as the frame drives it, for panes made with this host. Its one
// window is all four windows of the logic: it dispatches socket notifications
// and timers, hands 0x8001 to the server pane and every taken client row to
// the client pane, and notes the thread each pane call is made on.
class CPaneHostRig final : public panes::IPaneHost
{
public:
    CPaneHostRig();
    ~CPaneHostRig() override;
    CPaneHostRig(const CPaneHostRig&) = delete;
    CPaneHostRig& operator=(const CPaneHostRig&) = delete;

    // Init of the logic with this scheme and an options file of the folder.
    void Load(const std::vector<channel::SchemeGroup>& groups, int timeOut = 200,
              int maxSendCount = 2);
    void SetPanes(panes::CClientBar* client, panes::CServerBar* server);

    // panes::IPaneHost. RestartServers does what the frame does (and counts);
    // the others record what they were asked.
    core::CAppLogic& Logic() override { return *m_logic; }
    dialogs::IPrompt& Prompt() override { return m_prompt; }
    void RestartServers() override;
    void SelectEventRow(int row) override { selectedRows.push_back(row); }
    void SetFilterShown(bool shown) override;
    void ShowEchoFor(const QString& address) override { echoFor.push_back(address); }
    void ShowRouteFor(const QString& address) override { routeFor.push_back(address); }

    const testsupport::TempFolder& Folder() const { return m_folder; }

    int restarts = 0;
    std::vector<int> selectedRows;
    std::vector<bool> filterShown;
    QStringList echoFor;
    QStringList routeFor;
    // Pane calls made on another thread than the GUI thread's.
    int offThreadCalls = 0;
    int clientRows = 0;
    int serverRowMessages = 0;

private:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam);

    testsupport::TempFolder m_folder{"kanaliko-panes"};
    dialogs::test::CScriptedPrompt m_prompt;
    std::unique_ptr<core::CAppLogic> m_logic;
    std::unique_ptr<core::CAppWindow> m_window;
    panes::CClientBar* m_client = nullptr;
    panes::CServerBar* m_server = nullptr;
};

// A clipboard that keeps the text and fails at the step it is told to; at
// SetText, the text is given but does not take (its close fails).
class CFailingClipboard final : public panes::IPaneClipboard
{
public:
    enum class Step
    {
        None,
        Open,
        Empty,
        SetText,
    };
    explicit CFailingClipboard(Step failAt = Step::None) : failAt(failAt) {}
    bool Open() override { return failAt != Step::Open; }
    bool Empty() override
    {
        if (failAt == Step::Empty)
            return false;
        text.clear();
        return true;
    }
    void SetText(const QString& value) override { m_given = value; }
    bool Close() override
    {
        if (failAt == Step::SetText)
            return false;
        if (failAt == Step::None) // a close after a failed step puts nothing
            text = m_given;
        return true;
    }

    Step failAt;
    QString text = QStringLiteral("before");

private:
    QString m_given;
};

} // namespace channeltest
