#pragma once

// Helpers of the events pane tests: the application logic with a fixed local
// address (no network is touched; the servers are never started), the pane over
// it with a scripted prompt, events with chosen fields, and the texts the store
// holds for a row.

#include "core/CAppLogic.h"
#include "dialogs/support/CScriptedPrompt.h"
#include "events/Event.h"
#include "events/support/EventTestSupport.h"
#include "panes/CEventBar.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace panestest {

// One interface, 192.168.77.1.
class CLocalInterface final : public core::IInterfaceSource
{
public:
    int QueryAddresses(std::vector<core::InterfaceAddress>& addresses) override;
};

using eventstest::EventFields;
using eventstest::FileTimeOf;

// The text the store gives for a shown row and column ("" for no event).
QString StoreCellText(const events::CEventStore& store, int row, int column);

// Runs the GUI thread's event loop until done() holds or the limit passes.
bool RunUntil(const std::function<bool()>& done,
              std::chrono::milliseconds limit = std::chrono::seconds(20));

// The logic, a scripted prompt and the events pane, shown at 1000 x 400.
class CEventPaneRig
{
public:
    CEventPaneRig();
    ~CEventPaneRig();
    CEventPaneRig(const CEventPaneRig&) = delete;
    CEventPaneRig& operator=(const CEventPaneRig&) = delete;

    core::CAppLogic& Logic() { return *m_logic; }
    events::CEventStore& Store() { return m_logic->Events(); }
    dialogs::test::CScriptedPrompt& Prompt() { return m_prompt; }
    panes::CEventBar& Bar() { return *m_bar; }

    int Add(const EventFields& fields) { return Store().Add(eventstest::MakeTestEvent(fields)); }
    // Waits until the pane's model shows every row the store shows.
    bool WaitForRows();

private:
    CLocalInterface m_interfaces;
    std::unique_ptr<core::CAppLogic> m_logic;
    dialogs::test::CScriptedPrompt m_prompt;
    std::unique_ptr<panes::CEventBar> m_bar;
};

} // namespace panestest
