#include "panes/CTraceScreen.h"

#include "channel/AppMessages.h"
#include "panes/CEngineWindow.h"
#include "panes/CTraceBar.h"
#include "panes/CTraceResultBar.h"
#include "panes/CTraceSettingsBar.h"

namespace panes {

CTraceScreen::CTraceScreen(QWidget* parent, const TraceScreenOptions& options)
    : m_resolveNames(options.resolveNames), m_settings(new CTraceSettingsBar(parent)),
      m_bar(new CTraceBar(parent, options.clipboard)),
      m_results(new CTraceResultBar(parent, options.clipboard))
{
    connect(m_settings, &CTraceSettingsBar::applyRequested, this, &CTraceScreen::Apply);
    connect(m_bar, &CTraceBar::targetSelected, this, &CTraceScreen::ShowTarget);
}

CTraceScreen::~CTraceScreen()
{
    RetireEngine();
    // m_retirement's destructor waits for the engines to end (the program's end).
}

std::unique_ptr<IDiagnosticScreen> CTraceScreen::Create(IPaneHost&, QWidget* parent)
{
    return std::make_unique<CTraceScreen>(parent, TraceScreenOptions{});
}

CTraceBar* CTraceScreen::Bar() const
{
    return m_bar;
}

CTraceSettingsBar* CTraceScreen::SettingsBar() const
{
    return m_settings;
}

CTraceResultBar* CTraceScreen::ResultBar() const
{
    return m_results;
}

QWidget* CTraceScreen::TargetsPane()
{
    return m_bar;
}

QWidget* CTraceScreen::SettingsPane()
{
    return m_settings;
}

QWidget* CTraceScreen::ResultsPane()
{
    return m_results;
}

diag::RouteSettings CTraceScreen::Settings()
{
    diag::RouteSettings settings = m_settings->ReadSettings();
    settings.ResolveNames = m_resolveNames;
    return settings;
}

bool CTraceScreen::Start(const std::vector<std::string>& targets)
{
    if (targets.empty() || !m_settings || !m_bar || !m_results)
        return false;
    RetireEngine();
    m_engine = std::make_unique<diag::CTraceRoute>(targets, Settings());
    m_window = std::make_unique<CEngineWindow>(
        [this](loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) {
            OnEngineMessage(message, wParam, lParam);
        });
    m_bar->SetTargets(targets);
    m_bar->SetEngine(m_engine.get());
    m_results->SetEngine(m_engine.get());
    m_engine->SetStatisticsWindow(m_window->Handle());
    m_engine->SetRecordsWindow(m_window->Handle());
    m_bar->SelectTarget(0);
    m_engine->Start();
    return true;
}

void CTraceScreen::Stop()
{
    if (m_engine)
        m_engine->Stop(); // returns at once; the hops stay readable
}

void CTraceScreen::Apply()
{
    if (m_engine && m_settings)
        m_engine->SetSettings(Settings());
}

void CTraceScreen::ShowTarget(int target)
{
    if (m_results)
        m_results->ShowTarget(target);
}

void CTraceScreen::OnEngineMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    const int target = static_cast<int>(wParam);
    if (message == channel::WM_ROUTE_STATE && m_bar)
        m_bar->OnRouteState(target);
    else if (message == channel::WM_ROUTE_HOPS && m_results)
        m_results->OnHops(target, static_cast<int>(lParam));
}

void CTraceScreen::RetireEngine()
{
    if (!m_engine)
        return;
    m_engine->SetStatisticsWindow(nullptr);
    m_engine->SetRecordsWindow(nullptr);
    m_engine->Stop();
    if (m_bar)
        m_bar->SetEngine(nullptr);
    if (m_results)
        m_results->SetEngine(nullptr);
    m_window.reset(); // what the old engine posted and was not delivered goes with it
    m_retirement.Retire(std::move(m_engine));
}

} // namespace panes
