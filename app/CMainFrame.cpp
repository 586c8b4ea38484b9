#include "app/CMainFrame.h"

#include "app/AddressBox.h"
#include "app/Artwork.h"
#include "app/CFrameStatusBar.h"
#include "app/CNoticeQueue.h"
#include "app/CRibbonBar.h"
#include "app/CRibbonPanel.h"
#include "app/CSchemeCommands.h"
#include "app/CommandIds.h"
#include "app/FrameSettings.h"
#include "channel/AppMessages.h"
#include "core/CAppLogic.h"
#include "core/CAppWindow.h"
#include "dialogs/ErrorReport.h"
#include "loop/Window.h"
#include "dialogs/IPrompt.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"
#include "panes/CDockPane.h"
#include "panes/CPaneView.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>

namespace app {

namespace {

const QString kSaveFailed = QStringLiteral("Не удалось сохранить файл");
const QString kAccessQuestion =
    QStringLiteral("Для выполнения данной команды сервер будет остановлен. Продолжить?");

QString Plain(const QAction* action)
{
    QString text = action->text();
    text.remove(QLatin1Char('&'));
    return text;
}

} // namespace

CMainFrame::CMainFrame(dialogs::IPrompt& prompt, CNoticeQueue& notices,
                       panes::PaneFactory paneFactory, FrameDialogs dialogs, QWidget* parent)
    : QMainWindow(parent), m_prompt(prompt), m_notices(notices),
      m_paneFactory(std::move(paneFactory)), m_dialogs(std::move(dialogs)), m_actions(this)
{
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowIcon(AppIcon());
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks |
                   QMainWindow::AllowNestedDocks);
    // Tabs of docks that share a place sit on top, like the ribbon's.
    setTabPosition(Qt::AllDockWidgetAreas, QTabWidget::North);
    BuildRibbon();
    BuildViews();
    BuildDocks();
    BuildStatusBar();
    ConnectCommands();
    m_scheme = std::make_unique<CSchemeCommands>(*this, m_prompt, m_dialogs, m_mainMenu,
                                                 m_recentSection, m_recentEnd);
    ApplyCategory(CategoryChannels);
    m_scheme->SetDocument(CKanalikoDoc());
}

CMainFrame::~CMainFrame()
{
    Shutdown();
}

// ---------------------------------------------------------------------------
// Construction

void CMainFrame::BuildRibbon()
{
    m_ribbon = new CRibbonBar(this);
    setMenuWidget(m_ribbon);

    m_mainMenu = m_ribbon->MainMenu();
    for (int id : {cmd::ID_FILE_NEW, cmd::ID_FILE_OPEN, cmd::ID_FILE_SAVE, cmd::ID_FILE_SAVE_AS})
        m_mainMenu->addAction(Action(id));
    m_recentSection = m_mainMenu->addSection(QStringLiteral("Последние схемы"));
    m_recentEnd = m_mainMenu->addSeparator();
    m_mainMenu->addAction(Action(cmd::ID_APP_EXIT));
    for (int id : {cmd::ID_FILE_NEW, cmd::ID_FILE_OPEN, cmd::ID_FILE_SAVE})
        m_ribbon->AddQuickAccess(Action(id));
    m_ribbon->SetAboutAction(Action(cmd::ID_APP_ABOUT));

    const int channels = m_ribbon->AddCategory(QStringLiteral("Каналы связи"));
    CRibbonPanel* control = m_ribbon->AddPanel(channels, QStringLiteral("Управление"));
    m_addressBoxes[CategoryChannels] = control->AddAddressBox(Action(cmd::IDC_CMB_ADDR_CL));
    for (int id : {cmd::IDC_BTN_START_CL, cmd::IDC_BTN_STOP_CL, cmd::IDC_BTN_SETTINGS_CL,
                   cmd::IDC_BTN_SCHEMA, cmd::IDC_BTN_CC})
        control->AddLargeButton(Action(id));
    CRibbonPanel* view = m_ribbon->AddPanel(channels, QStringLiteral("Вид"));
    view->AddLargeButton(Action(cmd::ID_VIEW_CLIENT));
    view->AddLargeButton(Action(cmd::ID_VIEW_EVENTS));

    const int echo = m_ribbon->AddCategory(QStringLiteral("Эхо-запрос"));
    control = m_ribbon->AddPanel(echo, QStringLiteral("Управление"));
    m_addressBoxes[CategoryEcho] = control->AddAddressBox(Action(cmd::IDC_CMB_ADDR_PING));
    control->AddLargeButton(Action(cmd::IDC_BTN_START_PING));
    control->AddLargeButton(Action(cmd::IDC_BTN_STOP_PING));
    view = m_ribbon->AddPanel(echo, QStringLiteral("Вид"));
    view->AddLargeButton(Action(cmd::ID_VIEW_SETTINGS_PING));

    const int route = m_ribbon->AddCategory(QStringLiteral("Маршрут"));
    control = m_ribbon->AddPanel(route, QStringLiteral("Управление"));
    m_addressBoxes[CategoryRoute] = control->AddAddressBox(Action(cmd::IDC_CMB_ADDR_TR));
    control->AddLargeButton(Action(cmd::IDC_BTN_START_TR));
    control->AddLargeButton(Action(cmd::IDC_BTN_STOP_TR));
    view = m_ribbon->AddPanel(route, QStringLiteral("Вид"));
    view->AddLargeButton(Action(cmd::ID_VIEW_SETTINGS_TR));
}

void CMainFrame::BuildViews()
{
    m_views = new QStackedWidget(this);
    m_views->setObjectName(QStringLiteral("views"));
    m_viewPages[CategoryChannels] =
        new panes::CPaneView(QStringLiteral("Открытые порты"), QStringLiteral("CChanelsView"), m_views);
    m_viewPages[CategoryEcho] =
        new panes::CPaneView(QStringLiteral("События"), QStringLiteral("CPingView"), m_views);
    m_viewPages[CategoryRoute] =
        new panes::CPaneView(QStringLiteral("События"), QStringLiteral("CTraceView"), m_views);
    for (panes::CPaneView* page : m_viewPages)
        m_views->addWidget(page);
    setCentralWidget(m_views);
}

void CMainFrame::BuildDocks()
{
    m_clientDock = new panes::CDockPane(QStringLiteral("Каналы связи"), QStringLiteral("ClientPane"),
                                        cmd::PANE_CLIENT, this);
    m_eventsDock = new panes::CDockPane(QStringLiteral("События"), QStringLiteral("EventsPane"),
                                        cmd::PANE_EVENTS, this);
    m_echoTargetsDock = new panes::CDockPane(QStringLiteral("Узлы"), QStringLiteral("EchoTargetsPane"),
                                             cmd::PANE_ECHO_TARGETS, this);
    m_echoSettingsDock = new panes::CDockPane(
        QStringLiteral("Настройки"), QStringLiteral("EchoSettingsPane"), cmd::PANE_ECHO_SETTINGS, this);
    m_routeTargetsDock = new panes::CDockPane(
        QStringLiteral("Узлы"), QStringLiteral("RouteTargetsPane"), cmd::PANE_ROUTE_TARGETS, this);
    m_routeSettingsDock =
        new panes::CDockPane(QStringLiteral("Настройки"), QStringLiteral("RouteSettingsPane"),
                             cmd::PANE_ROUTE_SETTINGS, this);

    addDockWidget(Qt::LeftDockWidgetArea, m_clientDock);
    addDockWidget(Qt::BottomDockWidgetArea, m_eventsDock);
    addDockWidget(Qt::LeftDockWidgetArea, m_echoTargetsDock);
    addDockWidget(Qt::LeftDockWidgetArea, m_routeTargetsDock);
    // The settings ride on their targets pane, as a tab beside it.
    tabifyDockWidget(m_echoTargetsDock, m_echoSettingsDock);
    tabifyDockWidget(m_routeTargetsDock, m_routeSettingsDock);
    connect(m_clientDock, &panes::CDockPane::closedByUser, this, [this] {
        m_showClient = false;
        UpdateCommands();
    });
    connect(m_eventsDock, &panes::CDockPane::closedByUser, this, [this] {
        m_showEvents = false;
        UpdateCommands();
    });
    connect(m_echoSettingsDock, &panes::CDockPane::closedByUser, this, [this] {
        m_showEchoSettings = false;
        UpdateCommands();
    });
    connect(m_routeSettingsDock, &panes::CDockPane::closedByUser, this, [this] {
        m_showRouteSettings = false;
        UpdateCommands();
    });
}

void CMainFrame::BuildStatusBar()
{
    m_status = new CFrameStatusBar(this);
    setStatusBar(m_status);
}

void CMainFrame::ConnectCommands()
{
    auto on = [this](int id, auto handler) {
        connect(Action(id), &QAction::triggered, this, handler);
    };
    on(cmd::ID_FILE_NEW, [this] { FileNew(); });
    on(cmd::ID_FILE_OPEN, [this] { FileOpen(); });
    on(cmd::ID_FILE_SAVE, [this] { FileSave(); });
    on(cmd::ID_FILE_SAVE_AS, [this] { FileSaveAs(); });
    on(cmd::ID_APP_EXIT, [this] { close(); });
    on(cmd::ID_APP_ABOUT, [this] { ShowAbout(); });
    on(cmd::IDC_BTN_START_CL, [this] { StartClientCheck(); });
    on(cmd::IDC_BTN_STOP_CL, [this] { StopClientCheck(); });
    on(cmd::IDC_BTN_SETTINGS_CL, [this] { ShowOptions(); });
    on(cmd::IDC_BTN_SCHEMA, [this] { EditScheme(); });
    on(cmd::IDC_BTN_CC, [this] { CheckAccessServer(); });
    on(cmd::ID_VIEW_CLIENT, [this] { ToggleFlag(m_showClient); });
    on(cmd::ID_VIEW_EVENTS, [this] { ToggleFlag(m_showEvents); });
    on(cmd::ID_VIEW_SETTINGS_PING, [this] { ToggleFlag(m_showEchoSettings); });
    on(cmd::ID_VIEW_SETTINGS_TR, [this] { ToggleFlag(m_showRouteSettings); });
    on(cmd::IDC_BTN_START_PING, [this] { StartDiagnostic(CategoryEcho); });
    on(cmd::IDC_BTN_STOP_PING, [this] { StopDiagnostic(CategoryEcho); });
    on(cmd::IDC_BTN_START_TR, [this] { StartDiagnostic(CategoryRoute); });
    on(cmd::IDC_BTN_STOP_TR, [this] { StopDiagnostic(CategoryRoute); });
    // The combo's own action focuses it (Ctrl+L goes through here).
    on(cmd::IDC_CMB_ADDR_CL, [this] { m_addressBoxes[CategoryChannels]->setFocus(); });
    on(cmd::IDC_CMB_ADDR_PING, [this] { m_addressBoxes[CategoryEcho]->setFocus(); });
    on(cmd::IDC_CMB_ADDR_TR, [this] { m_addressBoxes[CategoryRoute]->setFocus(); });

    // Enter in an address box runs that category's Start.
    const int starts[] = {cmd::IDC_BTN_START_CL, cmd::IDC_BTN_START_PING, cmd::IDC_BTN_START_TR};
    for (int category = 0; category < 3; ++category) {
        QAction* start = Action(starts[category]);
        connect(m_addressBoxes[static_cast<std::size_t>(category)]->lineEdit(),
                &QLineEdit::returnPressed, this, [start] {
                    if (start->isEnabled())
                        start->trigger();
                });
    }

    connect(m_actions.StartCurrent(), &QAction::triggered, this, [this, starts] {
        QAction* start = Action(starts[CurrentCategory()]);
        if (start->isEnabled())
            start->trigger();
    });
    connect(m_actions.StopCurrent(), &QAction::triggered, this, [this] {
        const int stops[] = {cmd::IDC_BTN_STOP_CL, cmd::IDC_BTN_STOP_PING, cmd::IDC_BTN_STOP_TR};
        QAction* stop = Action(stops[CurrentCategory()]);
        if (stop->isEnabled())
            stop->trigger();
    });
    connect(m_actions.FocusAddress(), &QAction::triggered, this, [this] {
        QComboBox* box = m_addressBoxes[static_cast<std::size_t>(CurrentCategory())];
        box->setFocus(Qt::ShortcutFocusReason);
        box->lineEdit()->selectAll();
    });
    for (int category = 0; category < 3; ++category)
        connect(m_actions.ShowCategory(category), &QAction::triggered, this,
                [this, category] { SwitchCategory(category); });

    connect(m_ribbon, &CRibbonBar::categoryChanged, this, &CMainFrame::ApplyCategory);
}

// ---------------------------------------------------------------------------
// The logic and the panes

void CMainFrame::AttachLogic(core::CAppLogic& logic)
{
    m_logic = &logic;
    m_window = std::make_unique<core::CAppWindow>(logic);
    m_window->SetMessageHandler([this](loop::UINT message, loop::WPARAM wParam,
                                       loop::LPARAM lParam) { OnLogicMessage(message, wParam, lParam); });
    m_windowHandle.store(m_window->Handle());
    logic.SetMainWindow(m_window->Handle());
    logic.SetServerPane(m_window->Handle());
    // Until an events pane registers its own receiver: the frame's status bar
    // still counts the events.
    logic.SetEventsPane(m_window->Handle());
    logic.SetClientPane(m_window->Handle());
    core::IClientCheckObserver* observer = this;
    m_check = std::make_unique<core::CClientCheck>(logic, observer);
    CreatePanes();
    // The server pane loads the scheme: the servers start on its ports.
    RestartServers();
    UpdateCommands();
    UpdateStatus();
}

void CMainFrame::CreatePanes()
{
    // A pane that cannot be made is written to the Error stream, in the words
    // the program has always used, and fails the user-interface set-up.
    auto create = [](const char* failure, auto&& make) {
        try {
            return make();
        } catch (const EGeneric&) {
            if (Error.GetEnabled())
                TDebugStreamSession(Error) << failure;
            throw;
        }
    };
    if (m_paneFactory.clientPane) {
        m_clientPane = create("Failed to create Workspace bar\n",
                              [&] { return m_paneFactory.clientPane(*this, m_clientDock); });
        if (m_clientPane)
            m_clientDock->SetContent(m_clientPane->Widget());
    }
    if (m_paneFactory.eventsPane) {
        m_eventsPane = create("Failed to create output bar\n",
                              [&] { return m_paneFactory.eventsPane(*this, m_eventsDock); });
        if (m_eventsPane) {
            m_eventsDock->SetContent(m_eventsPane->Widget());
            m_eventsPane->SetRowsChangedHandler([this] { ScheduleStatus(); });
        }
    }
    if (m_paneFactory.serverPane) {
        panes::CPaneView* view = m_viewPages[CategoryChannels];
        m_serverPane = create("Failed to create Workspace bar\n",
                              [&] { return m_paneFactory.serverPane(*this, view); });
        if (m_serverPane)
            view->SetContent(m_serverPane->Widget());
    }
    if (m_paneFactory.echoScreen) {
        m_echo = create("Failed to create Workspace bar 2\n",
                        [&] { return m_paneFactory.echoScreen(*this, this); });
        if (m_echo) {
            m_echoTargetsDock->SetContent(m_echo->TargetsPane());
            m_echoSettingsDock->SetContent(m_echo->SettingsPane());
            m_viewPages[CategoryEcho]->SetContent(m_echo->ResultsPane());
        }
    }
    if (m_paneFactory.routeScreen) {
        m_route = create("Failed to create Workspace bar 2\n",
                         [&] { return m_paneFactory.routeScreen(*this, this); });
        if (m_route) {
            m_routeTargetsDock->SetContent(m_route->TargetsPane());
            m_routeSettingsDock->SetContent(m_route->SettingsPane());
            m_viewPages[CategoryRoute]->SetContent(m_route->ResultsPane());
        }
    }
}

core::CAppLogic& CMainFrame::Logic()
{
    Q_ASSERT(m_logic);
    return *m_logic;
}

void CMainFrame::OnLogicMessage(unsigned message, std::uintptr_t wParam, std::intptr_t)
{
    switch (message) {
    case channel::WM_SERVER_ROW_CHANGED:
        if (m_serverPane)
            m_serverPane->OnServerRowChanged(static_cast<int>(wParam));
        ScheduleStatus();
        break;
    case channel::WM_CLIENT_ROW_QUEUED: {
        const channel::ClientRow row = m_logic->TakeClientRow(static_cast<std::uint32_t>(wParam));
        if (row.eventIndex == -1) // not queued, or already taken
            break;
        if (m_check)
            m_check->OnClientRow(row);
        if (m_clientPane)
            m_clientPane->OnClientRow(row);
        break;
    }
    case channel::WM_EVENT_ADDED:
    case channel::WM_EVENTS_FILTERED:
        // Only without an events pane (a pane receives these itself): taken,
        // so that the next events are told too.
        m_logic->Events().TakeRowsNotice();
        ScheduleStatus();
        break;
    case kPeerStartedMessage:
        OnPeerStartedPosted(static_cast<int>(wParam));
        break;
    case kCheckFinishedMessage:
        OnCheckFinishedPosted();
        break;
    default: break;
    }
}

void CMainFrame::RestartServers()
{
    if (!m_logic)
        return;
    m_logic->ClearServerRows();
    const int rows = m_logic->PurgeEvents(false);
    m_logic->PostFilteredCount(rows);
    m_logic->StopServers();
    m_logic->StartServers(0);
    if (m_serverPane)
        m_serverPane->Refill();
    if (m_eventsPane)
        m_eventsPane->RefreshRows();
    ScheduleStatus();
}

void CMainFrame::SelectEventRow(int row)
{
    if (m_eventsPane)
        m_eventsPane->SelectRow(row);
}

bool CMainFrame::FilterShown() const
{
    return m_logic && m_logic->Events().IsFilterActive();
}

void CMainFrame::SetFilterShown(bool shown)
{
    if (!m_logic)
        return;
    if (!shown)
        m_logic->ClearFilter();
    if (m_eventsPane)
        m_eventsPane->FilterChanged();
    ScheduleStatus();
}

void CMainFrame::ShowEchoFor(const QString& address)
{
    SwitchCategory(CategoryEcho);
    m_addressBoxes[CategoryEcho]->setEditText(address);
}

void CMainFrame::ShowRouteFor(const QString& address)
{
    SwitchCategory(CategoryRoute);
    m_addressBoxes[CategoryRoute]->setEditText(address);
}

// ---------------------------------------------------------------------------
// Categories, docks, command states

QComboBox* CMainFrame::AddressBox(int category) const
{
    return category >= 0 && category < 3 ? m_addressBoxes[static_cast<std::size_t>(category)]
                                         : nullptr;
}

panes::CDockPane* CMainFrame::Dock(int paneId) const
{
    for (panes::CDockPane* dock : {m_clientDock, m_eventsDock, m_echoTargetsDock,
                                   m_echoSettingsDock, m_routeTargetsDock, m_routeSettingsDock}) {
        if (dock->Id() == paneId)
            return dock;
    }
    return nullptr;
}

QWidget* CMainFrame::View(int category) const
{
    return category >= 0 && category < 3 ? m_viewPages[static_cast<std::size_t>(category)] : nullptr;
}

int CMainFrame::CurrentCategory() const
{
    const int category = m_ribbon->CurrentCategory();
    return category < 0 ? 0 : category;
}

void CMainFrame::SwitchCategory(int category)
{
    if (category < 0 || category > 2)
        return;
    if (m_ribbon->CurrentCategory() != category)
        m_ribbon->SetCurrentCategory(category); // reaches ApplyCategory through the signal
    else
        ApplyCategory(category);
}

void CMainFrame::ApplyCategory(int category)
{
    if (category < 0 || category > 2)
        return;
    // The left docks share one column, but the channel tree wants width where
    // the echo and route targets do not: each category keeps its own width.
    const int previous = m_views->currentIndex();
    const bool switched = isVisible() && previous != category && previous >= 0;
    if (switched) {
        QDockWidget* left = LeftDock(previous);
        if (left->isVisible() && !left->isFloating())
            m_leftWidths[static_cast<std::size_t>(previous)] = left->width();
    }
    m_views->setCurrentIndex(category);
    ApplyDockVisibility();
    if (switched)
        SizeLeftDock(category);
    UpdateCommands();
}

QDockWidget* CMainFrame::LeftDock(int category) const
{
    if (category == CategoryEcho)
        return m_echoTargetsDock;
    if (category == CategoryRoute)
        return m_routeTargetsDock;
    return m_clientDock;
}

void CMainFrame::SizeLeftDock(int category)
{
    QDockWidget* left = LeftDock(category);
    if (!left->isVisible() || left->isFloating())
        return;
    int width = m_leftWidths[static_cast<std::size_t>(category)];
    if (width <= 0) {
        // The channel tree's pair names beside its four number columns; the
        // targets with their statistics need far less.
        const int line = fontMetrics().height();
        width = category == CategoryChannels ? line * 46 : line * 24;
    }
    resizeDocks({left}, {width}, Qt::Horizontal);
}

void CMainFrame::ApplyDockVisibility()
{
    const int category = CurrentCategory();
    // Settings before their targets: hiding the front tab of a group would
    // otherwise bring the one behind it forward (and show it).
    const std::pair<QDockWidget*, bool> wanted[] = {
        {m_echoSettingsDock, category == CategoryEcho && m_showEchoSettings},
        {m_echoTargetsDock, category == CategoryEcho},
        {m_routeSettingsDock, category == CategoryRoute && m_showRouteSettings},
        {m_routeTargetsDock, category == CategoryRoute},
        {m_clientDock, category == CategoryChannels && m_showClient},
        {m_eventsDock, category == CategoryChannels && m_showEvents},
    };
    for (const auto& [dock, shown] : wanted)
        if (!shown)
            dock->hide();
    for (auto it = std::rbegin(wanted); it != std::rend(wanted); ++it)
        if (it->second)
            it->first->show();
    // A settings pane shown again comes back as a tab: keep the targets in front.
    if (category == CategoryEcho)
        m_echoTargetsDock->raise();
    else if (category == CategoryRoute)
        m_routeTargetsDock->raise();
}

void CMainFrame::ToggleFlag(bool& flag)
{
    flag = !flag;
    ApplyDockVisibility();
    UpdateCommands();
}

bool CMainFrame::ClientCheckRunning() const
{
    return m_clientStarting || (m_check && m_check->IsRunning());
}

void CMainFrame::UpdateCommands()
{
    const bool clientRunning = ClientCheckRunning();
    const bool hasScheme =
        m_logic && (!m_logic->Settings().SchemePath().empty() || !m_logic->Settings().Groups().empty());
    const bool canStartClient = !clientRunning && hasScheme;
    auto enable = [this](int id, bool on) { Action(id)->setEnabled(on); };
    for (int id : {cmd::ID_FILE_NEW, cmd::ID_FILE_OPEN, cmd::ID_FILE_SAVE, cmd::ID_FILE_SAVE_AS,
                   cmd::ID_APP_EXIT, cmd::ID_APP_ABOUT, cmd::IDC_BTN_SETTINGS_CL, cmd::IDC_BTN_SCHEMA,
                   cmd::ID_VIEW_CLIENT, cmd::ID_VIEW_EVENTS, cmd::ID_VIEW_SETTINGS_PING,
                   cmd::ID_VIEW_SETTINGS_TR})
        enable(id, true);
    enable(cmd::IDC_CMB_ADDR_CL, canStartClient);
    enable(cmd::IDC_BTN_START_CL, canStartClient);
    enable(cmd::IDC_BTN_CC, canStartClient);
    enable(cmd::IDC_BTN_STOP_CL, clientRunning);
    enable(cmd::IDC_CMB_ADDR_PING, !m_echoRunning);
    enable(cmd::IDC_BTN_START_PING, !m_echoRunning);
    enable(cmd::IDC_BTN_STOP_PING, m_echoRunning);
    enable(cmd::IDC_CMB_ADDR_TR, !m_routeRunning);
    enable(cmd::IDC_BTN_START_TR, !m_routeRunning);
    enable(cmd::IDC_BTN_STOP_TR, m_routeRunning);
    Action(cmd::ID_VIEW_CLIENT)->setChecked(m_showClient);
    Action(cmd::ID_VIEW_EVENTS)->setChecked(m_showEvents);
    Action(cmd::ID_VIEW_SETTINGS_PING)->setChecked(m_showEchoSettings);
    Action(cmd::ID_VIEW_SETTINGS_TR)->setChecked(m_showRouteSettings);
}

template <class F>
void CMainFrame::Guarded(const QString& operation, F&& command)
{
    try {
        command();
    } catch (const EGeneric& e) {
        dialogs::ReportException(m_prompt, operation, e);
    }
    UpdateCommands();
    ScheduleStatus();
}

// ---------------------------------------------------------------------------
// Client check

void CMainFrame::StartClientCheck()
{
    if (!m_logic || ClientCheckRunning())
        return;
    // Running from here on: the boxes below must not let a second start in.
    m_clientStarting = true;
    UpdateCommands();
    Guarded(Plain(Action(cmd::IDC_BTN_START_CL)), [this] {
        struct Started
        {
            bool& flag;
            ~Started() { flag = false; }
        } started{m_clientStarting};
        const AddressList list = ParseAddressList(*m_addressBoxes[CategoryChannels], m_prompt);
        m_clientAddresses = list.addresses;
        if (m_clientPane)
            m_clientPane->SetPeers(m_clientAddresses);
        m_logic->PurgeEvents(true);
        if (m_eventsPane)
            m_eventsPane->RefreshRows();
        m_peersStarted.store(0);
        m_currentPeer.clear();
        m_currentPeerNumber = 0;
        // With no address the loop ends at once and the check stops by itself.
        m_check->Start(m_clientAddresses);
    });
}

void CMainFrame::StopClientCheck()
{
    if (!ClientCheckRunning() || !m_check)
        return;
    // The loop stops the current peer's clients itself, off this thread.
    m_check->Stop();
    UpdateCommands();
    ScheduleStatus();
}

void CMainFrame::OnPeerStarted(const std::string&)
{
    // Posted through the event loop's window, which tells ThreadSanitizer about
    // the hand-over; the peer is found again by its number (the loop goes
    // through the addresses in order).
    const int number = ++m_peersStarted;
    loop::PostToWindow(m_windowHandle.load(), kPeerStartedMessage,
                       static_cast<loop::WPARAM>(number), 0);
}

void CMainFrame::OnPeerFinished(const std::string&, bool) {}

void CMainFrame::OnCheckFinished()
{
    loop::PostToWindow(m_windowHandle.load(), kCheckFinishedMessage, 0, 0);
}

void CMainFrame::OnPeerStartedPosted(int number)
{
    const auto index = static_cast<std::size_t>(number - 1);
    m_currentPeer =
        index < m_clientAddresses.size() ? QString::fromStdString(m_clientAddresses[index]) : QString();
    m_currentPeerNumber = number;
    UpdateStatus();
    emit clientPeerStarted(m_currentPeer, number, static_cast<int>(m_clientAddresses.size()));
}

void CMainFrame::OnCheckFinishedPosted()
{
    m_currentPeer.clear();
    m_currentPeerNumber = 0;
    UpdateCommands();
    UpdateStatus();
    emit clientCheckFinished();
}

// ---------------------------------------------------------------------------
// Echo request and route

void CMainFrame::StartDiagnostic(int category)
{
    bool& running = category == CategoryEcho ? m_echoRunning : m_routeRunning;
    panes::IDiagnosticScreen* screen = category == CategoryEcho ? m_echo.get() : m_route.get();
    const int startId = category == CategoryEcho ? cmd::IDC_BTN_START_PING : cmd::IDC_BTN_START_TR;
    if (running)
        return;
    running = true;
    UpdateCommands();
    Guarded(Plain(Action(startId)), [&] {
        bool started = false;
        struct Outcome
        {
            bool& running;
            bool& started;
            ~Outcome()
            {
                if (!started)
                    running = false;
            }
        } outcome{running, started};
        const AddressList list =
            ParseAddressList(*m_addressBoxes[static_cast<std::size_t>(category)], m_prompt);
        if (!list.addresses.empty() && screen)
            started = screen->Start(list.addresses);
    });
}

void CMainFrame::StopDiagnostic(int category)
{
    bool& running = category == CategoryEcho ? m_echoRunning : m_routeRunning;
    panes::IDiagnosticScreen* screen = category == CategoryEcho ? m_echo.get() : m_route.get();
    if (!running)
        return;
    running = false;
    UpdateCommands();
    Guarded(Plain(Action(category == CategoryEcho ? cmd::IDC_BTN_STOP_PING : cmd::IDC_BTN_STOP_TR)),
            [screen] {
                if (screen)
                    screen->Stop();
            });
}

// ---------------------------------------------------------------------------
// Dialogs

void CMainFrame::ShowOptions()
{
    if (!m_dialogs.optionsDialog || !m_logic)
        return;
    core::CXmlSettings& settings = m_logic->Settings();
    channel::ProbeOptions current;
    current.timeOut = settings.TimeOut();
    current.timeSendDelay = settings.TimeSendDelay();
    current.sendDataSize = settings.SendDataSize();
    current.maxSendCount = settings.MaxSendCount();
    const std::optional<channel::ProbeOptions> edited = m_dialogs.optionsDialog(this, current);
    if (!edited)
        return;
    Guarded(kSaveFailed, [&] {
        settings.SetOptions(edited->timeOut, edited->timeSendDelay, edited->sendDataSize,
                            edited->maxSendCount);
    });
}

void CMainFrame::ShowAbout()
{
    if (m_dialogs.aboutDialog)
        m_dialogs.aboutDialog(this);
}

void CMainFrame::CheckAccessServer()
{
    if (!m_dialogs.accessServerDialog || !m_logic)
        return;
    if (m_prompt.Ask(kAccessQuestion, false) != dialogs::PromptAnswer::Yes)
        return;
    Guarded(Plain(Action(cmd::IDC_BTN_CC)), [this] {
        if (m_logic->ServerAddressCount() > 0) {
            m_logic->ClearServerRows();
            const int rows = m_logic->PurgeEvents(false);
            m_logic->PostFilteredCount(rows);
            m_logic->StopServers();
        }
        struct Restart
        {
            CMainFrame* frame;
            ~Restart() { frame->RestartServers(); }
        } restart{this};
        m_dialogs.accessServerDialog(this, *m_logic);
    });
}

// ---------------------------------------------------------------------------
// The scheme (CSchemeCommands does the work)

void CMainFrame::FileNew() { m_scheme->New(); }
void CMainFrame::FileOpen() { m_scheme->Open(); }
void CMainFrame::FileSave() { m_scheme->Save(); }
void CMainFrame::FileSaveAs() { m_scheme->SaveAs(); }
void CMainFrame::OpenRecent(const QString& path) { m_scheme->OpenRecent(path); }
void CMainFrame::OpenScheme(const QString& path) { m_scheme->OpenScheme(path); }
void CMainFrame::EditScheme() { m_scheme->Edit(); }
void CMainFrame::SetDocument(const CKanalikoDoc& document) { m_scheme->SetDocument(document); }
const CKanalikoDoc& CMainFrame::Document() const { return m_scheme->Document(); }
const CRecentSchemes& CMainFrame::RecentSchemes() const { return m_scheme->Recent(); }

void CMainFrame::ClearClientGrid()
{
    if (m_clientPane)
        m_clientPane->Clear();
}

// ---------------------------------------------------------------------------
// Status bar

void CMainFrame::ScheduleStatus()
{
    m_status->Schedule();
}

void CMainFrame::UpdateStatus()
{
    m_status->SetLogic(m_logic);
    m_status->SetCheckState({ClientCheckRunning(), m_currentPeerNumber,
                             static_cast<int>(m_clientAddresses.size()), m_currentPeer});
    m_status->Refresh();
}

QStringList CMainFrame::StatusTexts() const
{
    return m_status->Texts();
}

// ---------------------------------------------------------------------------
// Window state and closing

void CMainFrame::RestoreWindowState()
{
    const auto settings = OpenFrameSettings();
    if (!restoreGeometry(settings->value(QStringLiteral("Geometry")).toByteArray())) {
        // First start: most of the screen, never more than it.
        const QRect screen = QGuiApplication::primaryScreen()
                                 ? QGuiApplication::primaryScreen()->availableGeometry()
                                 : QRect(0, 0, 1366, 768);
        resize(screen.size() * 9 / 10);
        move(screen.center() - rect().center());
    }
    m_sizeDocksOnShow = !restoreState(settings->value(QStringLiteral("WindowState")).toByteArray());
    m_showEvents = settings->value(QStringLiteral("ShowEvents"), true).toBool();
    m_showClient = settings->value(QStringLiteral("ShowClient"), true).toBool();
    m_showEchoSettings = settings->value(QStringLiteral("ShowEchoSettings"), true).toBool();
    m_showRouteSettings = settings->value(QStringLiteral("ShowRouteSettings"), true).toBool();
    const int category = settings->value(QStringLiteral("Category"), 0).toInt();
    m_scheme->LoadRecent();
    // restoreState showed the docks as they were at the end; the category's
    // rule and the flags decide now.
    SwitchCategory(category >= 0 && category <= 2 ? category : 0);
    ApplyCategory(CurrentCategory());
}

void CMainFrame::SaveWindowState() const
{
    const auto settings = OpenFrameSettings();
    settings->setValue(QStringLiteral("Geometry"), saveGeometry());
    settings->setValue(QStringLiteral("WindowState"), saveState());
    settings->setValue(QStringLiteral("ShowEvents"), m_showEvents);
    settings->setValue(QStringLiteral("ShowClient"), m_showClient);
    settings->setValue(QStringLiteral("ShowEchoSettings"), m_showEchoSettings);
    settings->setValue(QStringLiteral("ShowRouteSettings"), m_showRouteSettings);
    settings->setValue(QStringLiteral("Category"), CurrentCategory());
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_sizeDocksOnShow)
        return;
    m_sizeDocksOnShow = false;
    // First start: the channel tree wants width, the event log height. Docks
    // take sizes only once the window is laid out.
    QTimer::singleShot(0, this, [this] {
        SizeLeftDock(CurrentCategory());
        resizeDocks({m_eventsDock}, {fontMetrics().height() * 14}, Qt::Vertical);
    });
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_shutDown) {
        event->accept();
        return;
    }
    // Cancel, or a save that did not happen, keeps everything running.
    if (!m_scheme->AskToSaveChanges()) {
        event->ignore();
        return;
    }
    SaveWindowState();
    Shutdown();
    event->accept();
}

void CMainFrame::Shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_echo && m_echoRunning)
        m_echo->Stop();
    if (m_route && m_routeRunning)
        m_route->Stop();
    m_echoRunning = m_routeRunning = false;
    // The loop must be over before the frame and the logic go.
    if (m_check) {
        m_check->Stop();
        m_check->WaitForEnd(-1);
    }
    if (m_logic && m_logic->ServerAddressCount() > 0) {
        m_logic->ClearServerRows();
        const int rows = m_logic->PurgeEvents(false);
        m_logic->PostFilteredCount(rows);
        m_logic->StopServers();
    }
}

} // namespace app
