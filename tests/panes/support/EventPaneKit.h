#pragma once

// Helpers of the events pane tests: the application logic with a fixed local
// address (no network is touched; the servers are never started), the pane over
// it with a scripted prompt, events with chosen fields, and the texts the store
// holds for a row.

#include "core/CAppLogic.h"
#include "dialogs/support/CScriptedPrompt.h"
#include "events/Event.h"
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

struct EventSpec
{
    int status = 0;
    int code = 6;
    int protocol = 1;
    std::string sender = "10.0.0.1";
    std::string receiver = "10.0.0.2";
    std::uint16_t senderPort = 1000;
    std::uint16_t receiverPort = 2000;
    std::uint32_t detail = 0;
    std::uint64_t time = 0; // 0: now
};

events::Event MakeEvent(const EventSpec& spec);
// A FILETIME value for the given local time of day on 2024-03-01.
std::uint64_t FileTimeOf(int hour, int minute, int second, int millisecond);

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

    int Add(const EventSpec& spec) { return Store().Add(MakeEvent(spec)); }
    // Waits until the pane's model shows every row the store shows.
    bool WaitForRows();

private:
    CLocalInterface m_interfaces;
    std::unique_ptr<core::CAppLogic> m_logic;
    dialogs::test::CScriptedPrompt m_prompt;
    std::unique_ptr<panes::CEventBar> m_bar;
};

} // namespace panestest
