#pragma once

// The main window: the ribbon with its commands, the three views (channels,
// echo request, route) in a stack, the docks, the status bar, the scheme file
// commands and the client check.
//
// How panes and dialogs plug in (the seams)
// - Contents of docks and views come from a panes::PaneFactory (PaneFactory.h),
//   one creator per content, called once by AttachLogic:
//     clientPane  -> dock "Каналы связи"   (panes::IClientPane)
//     eventsPane  -> dock "События"        (panes::IEventsPane)
//     serverPane  -> channel view, "Открытые порты" (panes::IServerPane)
//     echoScreen  -> dock "Узлы" + dock "Настройки" (tabbed) + echo view
//     routeScreen -> the same for the route category (panes::IDiagnosticScreen)
//   A creator left empty leaves an empty placeholder with the right caption.
//   Every pane gets this frame as its panes::IPaneHost.
// - Dialogs come from an app::FrameDialogs (FrameDialogs.h): schemeEditor,
//   optionsDialog, aboutDialog, accessServerDialog. An empty one leaves its
//   command enabled and doing nothing.
// - The program's creators and dialogs are wired in app/ProgramParts.cpp.
// - The frame's window (core::CAppWindow) is all four windows of the logic: it
//   dispatches socket notifications and timers, takes every client row (the
//   client check's early end depends on them) and forwards 0x8001 and 0x8004
//   to the panes as calls. The events pane receives the store's messages
//   itself (IEventsPane.h); the frame tells it when it purged the events or a
//   filter came or went from elsewhere.
// - Every message box and file dialog goes through the dialogs::IPrompt given
//   at construction; notices from outside a command (the logic's
//   core::IUserNotifier) go through the CNoticeQueue, one box at a time.
// - The three "IP адрес" boxes are read by ParseAddressList (AddressBox.h),
//   whose IsValidPeerAddress defers to core::IsValidListAddress, the rule both
//   front ends share.
//
// Start-up (CKanalikoApp): construct (ribbon, docks, empty views), then
// AttachLogic (panes, servers), RestoreWindowState, show.
//
// Threads: the GUI thread only. The client check's loop runs on the ferrox
// pool; its progress reaches this object by queued calls. Before the frame
// goes (close or destruction) the loop is stopped and waited for, so it never
// outlives the frame or the application logic.

#include "app/CFrameActions.h"
#include "app/CKanalikoDoc.h"
#include "app/CRecentSchemes.h"
#include "app/FrameDialogs.h"
#include "core/CClientCheck.h"
#include "loop/WindowTypes.h"
#include "panes/IPaneHost.h"
#include "panes/PaneFactory.h"

#include <QMainWindow>
#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QDockWidget;
class QStackedWidget;
class QTimer;

namespace core {
class CAppLogic;
class CAppWindow;
}
namespace dialogs {
class IPrompt;
}
namespace panes {
class CDockPane;
class CPaneView;
}

namespace app {

class CFrameStatusBar;
class CNoticeQueue;
class CRibbonBar;
class CSchemeCommands;

class CMainFrame final : public QMainWindow,
                         public panes::IPaneHost,
                         private core::IClientCheckObserver
{
    Q_OBJECT

public:
    enum Category
    {
        CategoryChannels = 0,
        CategoryEcho = 1,
        CategoryRoute = 2,
    };

    // prompt and notices outlive the frame.
    CMainFrame(dialogs::IPrompt& prompt, CNoticeQueue& notices, panes::PaneFactory paneFactory,
               FrameDialogs dialogs, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The user interface set-up with the logic: the logic's windows, the pane
    // contents, the servers started on the scheme. EGeneric on failure (a pane
    // creator's). The logic outlives the frame.
    void AttachLogic(core::CAppLogic& logic);
    // Geometry, dock layout, category, visibility flags and recent schemes from
    // the settings; then the saved category is shown.
    void RestoreWindowState();
    void SaveWindowState() const;

    // The document: what the title says about the scheme.
    void SetDocument(const CKanalikoDoc& document);
    const CKanalikoDoc& Document() const;

    // Commands, by identifier (CommandIds.h).
    QAction* Action(int id) const { return m_actions.Get(id); }
    const CFrameActions& Actions() const { return m_actions; }
    QComboBox* AddressBox(int category) const;
    CRibbonBar* Ribbon() const { return m_ribbon; }
    panes::CDockPane* Dock(int paneId) const;
    QWidget* View(int category) const;

    int CurrentCategory() const;
    void SwitchCategory(int category);
    // The four visibility flags.
    bool ShowEvents() const { return m_showEvents; }
    bool ShowClient() const { return m_showClient; }
    bool ShowEchoSettings() const { return m_showEchoSettings; }
    bool ShowRouteSettings() const { return m_showRouteSettings; }

    bool ClientCheckRunning() const;
    bool EchoRunning() const { return m_echoRunning; }
    bool RouteRunning() const { return m_routeRunning; }
    // The peers of the check that runs (or ran last), as parsed from the box.
    const std::vector<std::string>& ClientAddresses() const { return m_clientAddresses; }
    core::CClientCheck* ClientCheck() const { return m_check.get(); }
    const CRecentSchemes& RecentSchemes() const;
    QStringList StatusTexts() const;

    // Enabling and check states of every command, from the current state.
    void UpdateCommands();

    // The logic, or null before AttachLogic.
    core::CAppLogic* AttachedLogic() const { return m_logic; }
    // Whether the events are shown filtered: read from the logic's filter
    // whoever applied or removed it (the events pane, a context menu of the
    // client or server pane, a scheme change), never kept as a flag of its own.
    bool FilterShown() const;
    // The scheme changed: the client pane empties its grid.
    void ClearClientGrid();

    // The scheme file commands (CSchemeCommands).
    void FileNew();
    void FileOpen();
    void FileSave();
    void FileSaveAs();
    void OpenRecent(const QString& path);
    void OpenScheme(const QString& path);
    void EditScheme();

    // panes::IPaneHost.
    core::CAppLogic& Logic() override;
    dialogs::IPrompt& Prompt() override { return m_prompt; }
    void RestartServers() override;
    void SelectEventRow(int row) override;
    void SetFilterShown(bool shown) override;
    void ShowEchoFor(const QString& address) override;
    void ShowRouteFor(const QString& address) override;

signals:
    // The client check started probing a peer (number of peer, 1-based, of count).
    void clientPeerStarted(const QString& peer, int number, int count);
    // The client check's loop has ended.
    void clientCheckFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // core::IClientCheckObserver (the check's pool thread).
    void OnPeerStarted(const std::string& peer) override;
    void OnPeerFinished(const std::string& peer, bool allPortsFinished) override;
    void OnCheckFinished() override;
    // Their posted halves, on the GUI thread.
    void OnPeerStartedPosted(int number);
    void OnCheckFinishedPosted();
    // The frame's own messages to its window, above the program's range.
    static constexpr unsigned kPeerStartedMessage = 0x8100; // wParam = peer number, from 1
    static constexpr unsigned kCheckFinishedMessage = 0x8101;

    void BuildRibbon();
    void BuildDocks();
    void BuildViews();
    void BuildStatusBar();
    void ConnectCommands();
    void CreatePanes();
    void ApplyCategory(int category);
    void ApplyDockVisibility();
    // The dock of a category in the left column, and its width there.
    QDockWidget* LeftDock(int category) const;
    void SizeLeftDock(int category);
    void ToggleFlag(bool& flag);
    void ScheduleStatus();
    void UpdateStatus();
    // Runs a command; an EGeneric is reported with the operation text.
    template <class F>
    void Guarded(const QString& operation, F&& command);

    void StartClientCheck();
    void StopClientCheck();
    void StartDiagnostic(int category);
    void StopDiagnostic(int category);
    void ShowOptions();
    void ShowAbout();
    void CheckAccessServer();
    // Stops what runs and the servers (the end of the frame's life).
    void Shutdown();
    void OnLogicMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

    dialogs::IPrompt& m_prompt;
    CNoticeQueue& m_notices;
    panes::PaneFactory m_paneFactory;
    FrameDialogs m_dialogs;
    CFrameActions m_actions;

    CRibbonBar* m_ribbon = nullptr;
    std::array<QComboBox*, 3> m_addressBoxes{};
    QMenu* m_mainMenu = nullptr;
    QAction* m_recentSection = nullptr;
    QAction* m_recentEnd = nullptr;
    panes::CDockPane* m_clientDock = nullptr;
    panes::CDockPane* m_eventsDock = nullptr;
    panes::CDockPane* m_echoTargetsDock = nullptr;
    panes::CDockPane* m_echoSettingsDock = nullptr;
    panes::CDockPane* m_routeTargetsDock = nullptr;
    panes::CDockPane* m_routeSettingsDock = nullptr;
    QStackedWidget* m_views = nullptr;
    std::array<panes::CPaneView*, 3> m_viewPages{};
    std::array<int, 3> m_leftWidths{}; // per category, 0 until it was left once
    CFrameStatusBar* m_status = nullptr;

    // The four visibility flags (true at creation).
    bool m_showEvents = true;
    bool m_showClient = true;
    bool m_showEchoSettings = true;
    bool m_showRouteSettings = true;
    bool m_echoRunning = false;
    bool m_routeRunning = false;
    bool m_clientStarting = false; // between the Start press and the loop's start
    bool m_shutDown = false;
    bool m_sizeDocksOnShow = false; // no saved layout: size the docks once shown

    std::unique_ptr<CSchemeCommands> m_scheme;

    core::CAppLogic* m_logic = nullptr;
    panes::IClientPane* m_clientPane = nullptr;
    panes::IEventsPane* m_eventsPane = nullptr;
    panes::IServerPane* m_serverPane = nullptr;
    std::vector<std::string> m_clientAddresses;
    QString m_currentPeer;
    int m_currentPeerNumber = 0;
    std::atomic<int> m_peersStarted{0};
    std::atomic<loop::HWND> m_windowHandle{nullptr}; // read by the check's thread

    // Destroyed in reverse order: the screens, the check (its loop waited for),
    // then the window the logic posts to.
    std::unique_ptr<core::CAppWindow> m_window;
    std::unique_ptr<core::CClientCheck> m_check;
    std::unique_ptr<panes::IDiagnosticScreen> m_echo;
    std::unique_ptr<panes::IDiagnosticScreen> m_route;
};

} // namespace app
