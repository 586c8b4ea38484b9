#pragma once

// The echo request category ("Эхо-запрос"): the settings pane
// (CPingSettingsBar), the targets pane with the statistics (CPingBar), the
// results pane with its chart (CPingResultBar, in the echo view) and the
// engine of the current run (diag::CPing).
//
// Each Start makes a new engine from the settings pane's values (read back
// into their controls) and the targets, with a new window for its messages,
// and shows the first target's results; selecting a row of another target
// shows that one's. "Применить" hands the settings to the engine. Stop returns
// at once; the results stay readable until the next Start, which hands the
// old engine to a pool task to end (diag::CEngineRetirement): its late
// messages go to its own, destroyed window.
//
// Ownership: the frame owns the screen and destroys it before the docks and
// the view that own the three panes; the screen then detaches the engine from
// the panes, stops it and waits until every engine it handed over has ended.
//
// Threads: the GUI thread only.

#include "diag/CEngineRetirement.h"
#include "diag/CPing.h"
#include "panes/IDiagnosticScreen.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

namespace panes {

class CEngineWindow;
class CPingBar;
class CPingResultBar;
class CPingSettingsBar;
class IPaneClipboard;
class IPaneHost;

struct PingScreenOptions
{
    // Whether the echo call with a source address exists (always on Linux).
    bool extendedEchoAvailable = true;
    // "Адрес источника" at first: the first local adapter address.
    QString firstLocalAddress;
    // Where the copies go (the system clipboard when null).
    IPaneClipboard* clipboard = nullptr;
};

class CPingScreen final : public QObject, public IDiagnosticScreen
{
    Q_OBJECT

public:
    CPingScreen(QWidget* parent, const PingScreenOptions& options);
    ~CPingScreen() override;

    // The program's screen: the first local address from the logic's
    // interface list.
    static std::unique_ptr<IDiagnosticScreen> Create(IPaneHost& host, QWidget* parent);

    QWidget* TargetsPane() override;
    QWidget* SettingsPane() override;
    QWidget* ResultsPane() override;
    bool Start(const std::vector<std::string>& targets) override;
    void Stop() override;
    // "Применить": the settings pane's values to the engine, if there is one.
    void Apply();

    CPingBar* Bar() const;
    CPingSettingsBar* SettingsBar() const;
    CPingResultBar* ResultBar() const;
    // The current run's engine (null before the first Start).
    diag::CPing* Engine() const { return m_engine.get(); }
    // Engines of earlier runs still ending on the pool.
    int EnginesEnding() { return m_retirement.Pending(); }

private:
    void OnEngineMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam);
    void ShowTarget(int target);
    // Detaches the current engine from the panes, stops it and hands it over.
    void RetireEngine();

    const bool m_extendedEchoAvailable;
    // Owned by the docks and the view they are put in (guarded: they may go first).
    QPointer<CPingSettingsBar> m_settings;
    QPointer<CPingBar> m_bar;
    QPointer<CPingResultBar> m_results;
    // Declared before the engine: it outlives it (waits for the ones handed over).
    diag::CEngineRetirement m_retirement;
    std::unique_ptr<CEngineWindow> m_window;
    std::unique_ptr<diag::CPing> m_engine;
};

} // namespace panes
