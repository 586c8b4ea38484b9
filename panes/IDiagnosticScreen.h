#pragma once

// One diagnostic category ("Эхо-запрос" or "Маршрут"): its targets pane (dock
// "Узлы"), its settings pane (dock "Настройки", tabbed with the targets), its
// result pane (the category's view) and the engine they show. The frame keeps
// the running flag and calls Start and Stop from the ribbon.
//
// Ownership: the frame owns this object and destroys it before its docks and
// views, which own the three widgets from the moment the frame asks for them.
// The object must therefore not delete those widgets itself.
//
// Threads: the GUI thread only.

#include <string>
#include <vector>

class QWidget;

namespace panes {

class IDiagnosticScreen
{
public:
    virtual QWidget* TargetsPane() = 0;
    virtual QWidget* SettingsPane() = 0;
    virtual QWidget* ResultsPane() = 0;
    // Starts the engine on the targets (dotted texts, at least one), with the
    // settings pane's values; false when it did not start.
    virtual bool Start(const std::vector<std::string>& targets) = 0;
    virtual void Stop() = 0;
    virtual ~IDiagnosticScreen() = default;
};

} // namespace panes
