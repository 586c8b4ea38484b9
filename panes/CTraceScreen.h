#pragma once

// The route category ("Маршрут"): the settings pane (CTraceSettingsBar), the
// targets pane with the route states (CTraceBar), the hops pane
// (CTraceResultBar, in the route view) and the engine of the current run
// (diag::CTraceRoute).
//
// Each Start makes a new engine from the settings pane's values (read back
// into their controls) and the targets, with a new window for its messages,
// and shows the first target's hops; selecting a row of another target shows
// that one's. "Применить" writes the settings into the engine. Stop returns at
// once, even during a slow reverse look-up; the hops stay readable until the
// next Start, which hands the old engine to a pool task to end
// (diag::CEngineRetirement): its late messages go to its own, destroyed window.
//
// Ownership: as CPingScreen.
//
// Threads: the GUI thread only.

#include "diag/CEngineRetirement.h"
#include "diag/CTraceRoute.h"
#include "panes/IDiagnosticScreen.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace panes {

class CEngineWindow;
class CTraceBar;
class CTraceResultBar;
class CTraceSettingsBar;
class IPaneClipboard;
class IPaneHost;

struct TraceScreenOptions
{
    // Where the copies go (the system clipboard when null).
    IPaneClipboard* clipboard = nullptr;
    // Whether hops' names are looked up (a test without a resolver says no).
    bool resolveNames = true;
};

class CTraceScreen final : public QObject, public IDiagnosticScreen
{
    Q_OBJECT

public:
    CTraceScreen(QWidget* parent, const TraceScreenOptions& options);
    ~CTraceScreen() override;

    static std::unique_ptr<IDiagnosticScreen> Create(IPaneHost& host, QWidget* parent);

    QWidget* TargetsPane() override;
    QWidget* SettingsPane() override;
    QWidget* ResultsPane() override;
    bool Start(const std::vector<std::string>& targets) override;
    void Stop() override;
    // "Применить": the settings pane's values into the engine, if there is one.
    void Apply();

    CTraceBar* Bar() const;
    CTraceSettingsBar* SettingsBar() const;
    CTraceResultBar* ResultBar() const;
    diag::CTraceRoute* Engine() const { return m_engine.get(); }
    int EnginesEnding() { return m_retirement.Pending(); }

private:
    void OnEngineMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam);
    void ShowTarget(int target);
    void RetireEngine();
    diag::RouteSettings Settings();

    const bool m_resolveNames;
    // Owned by the docks and the view they are put in (guarded: they may go first).
    QPointer<CTraceSettingsBar> m_settings;
    QPointer<CTraceBar> m_bar;
    QPointer<CTraceResultBar> m_results;
    // Declared before the engine: it outlives it (waits for the ones handed over).
    diag::CEngineRetirement m_retirement;
    std::unique_ptr<CEngineWindow> m_window;
    std::unique_ptr<diag::CTraceRoute> m_engine;
};

} // namespace panes
