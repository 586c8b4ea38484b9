#pragma once

// The main window's part in the channel check, without widgets: it receives the
// socket notifications, client completions and probe timers that the engine
// directs to the main window and hands them to the application logic. The
// headless front end uses it as its main window; the GUI frame forwards the same
// messages to the same logic operations.
//
// - 0x8009 .. 0x800E (socket notifications and client messages):
//   CAppLogic::DispatchWindowMessage, the engine's dispatch;
// - a timer: CAppLogic::DispatchTimer (killed, then TCP, UDP, IP clients);
// - any other message goes to the message handler, when one is set (a front
//   end that makes this window its panes' target too gets 0x8001, 0x8004,
//   WM_EVENT_ADDED and WM_EVENTS_FILTERED there).
//
// Threads: the GUI thread only (created, used and destroyed there); the
// handlers run there, one at a time.

#include "core/CAppLogic.h"
#include "loop/Window.h"

#include <functional>

namespace core {

class CAppWindow final : public loop::CWindow
{
public:
    using MessageHandler =
        std::function<void(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)>;

    explicit CAppWindow(CAppLogic& logic, QObject* parent = nullptr);

    void SetMessageHandler(MessageHandler handler) { m_handler = std::move(handler); }

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override;
    void OnTimer(loop::UINT_PTR id) override;

private:
    CAppLogic& m_logic;
    MessageHandler m_handler;
};

} // namespace core
