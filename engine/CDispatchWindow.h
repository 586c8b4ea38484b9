#pragma once

// A main window that hands the engine's messages straight to a dispatch: the
// six socket messages to their objects, and every timer (probe or deadline) to
// DispatchTimer. For hosts of the engine without the application logic (the
// engine tests and benches); the program's own main window goes through the
// logic (core/CAppWindow).
//
// Threads: the GUI thread, as every window.

#include "engine/CEngineDispatch.h"
#include "loop/Window.h"

namespace engine {

class CDispatchWindow final : public loop::CWindow
{
public:
    explicit CDispatchWindow(CEngineDispatch& dispatch) : m_dispatch(dispatch) {}

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override
    {
        if (const auto route = CEngineDispatch::RouteOf(message))
            m_dispatch.Dispatch(*route, static_cast<platform::SOCKET>(wParam), lParam);
    }
    void OnTimer(loop::UINT_PTR id) override { m_dispatch.DispatchTimer(id); }

private:
    CEngineDispatch& m_dispatch;
};

} // namespace engine
