#include "panes/CPingScreen.h"

#include "channel/AppMessages.h"
#include "core/CAppLogic.h"
#include "panes/CEngineWindow.h"
#include "panes/CPingBar.h"
#include "panes/CPingResultBar.h"
#include "panes/CPingSettingsBar.h"
#include "panes/IPaneHost.h"

namespace panes {

CPingScreen::CPingScreen(QWidget* parent, const PingScreenOptions& options)
    : m_extendedEchoAvailable(options.extendedEchoAvailable),
      m_settings(new CPingSettingsBar(options.extendedEchoAvailable, options.firstLocalAddress,
                                      parent)),
      m_bar(new CPingBar(parent, options.clipboard)),
      m_results(new CPingResultBar(parent, options.clipboard))
{
    connect(m_settings, &CPingSettingsBar::applyRequested, this, &CPingScreen::Apply);
    connect(m_bar, &CPingBar::targetSelected, this, &CPingScreen::ShowTarget);
}

CPingScreen::~CPingScreen()
{
    RetireEngine();
    // m_retirement's destructor waits for the engines to end (the program's end).
}

std::unique_ptr<IDiagnosticScreen> CPingScreen::Create(IPaneHost& host, QWidget* parent)
{
    PingScreenOptions options;
    const auto& adapters = host.Logic().Interfaces().AdapterAddresses();
    if (!adapters.empty())
        options.firstLocalAddress = QString::fromLatin1(adapters.front().text);
    return std::make_unique<CPingScreen>(parent, options);
}

CPingBar* CPingScreen::Bar() const
{
    return m_bar;
}

CPingSettingsBar* CPingScreen::SettingsBar() const
{
    return m_settings;
}

CPingResultBar* CPingScreen::ResultBar() const
{
    return m_results;
}

QWidget* CPingScreen::TargetsPane()
{
    return m_bar;
}

QWidget* CPingScreen::SettingsPane()
{
    return m_settings;
}

QWidget* CPingScreen::ResultsPane()
{
    return m_results;
}

bool CPingScreen::Start(const std::vector<std::string>& targets)
{
    if (targets.empty() || !m_settings || !m_bar || !m_results)
        return false;
    RetireEngine();
    const diag::EchoSettings settings = m_settings->ReadSettings();
    m_engine = std::make_unique<diag::CPing>(m_extendedEchoAvailable, targets, settings);
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

void CPingScreen::Stop()
{
    if (m_engine)
        m_engine->Stop(); // returns at once; the results stay readable
}

void CPingScreen::Apply()
{
    if (m_engine && m_settings)
        m_engine->ApplySettings(m_settings->ReadSettings());
}

void CPingScreen::ShowTarget(int target)
{
    if (m_results)
        m_results->ShowTarget(target);
}

void CPingScreen::OnEngineMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    const int target = static_cast<int>(wParam);
    if (message == channel::WM_ECHO_STATISTICS && m_bar)
        m_bar->OnStatistics(target);
    else if (message == channel::WM_ECHO_RECORDS && m_results)
        m_results->OnRecords(target, static_cast<int>(lParam));
}

void CPingScreen::RetireEngine()
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
