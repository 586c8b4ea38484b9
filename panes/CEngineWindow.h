#pragma once

// The window an echo or route engine posts to: one per run. The screens make a
// new one for every run and destroy the old one with the old engine's
// pointers, so that nothing the old engine still posts (or had posted and not
// yet delivered) reaches the panes of the new run: handles are never reused,
// posting to a dead one does nothing, and Qt drops the events still queued
// for a destroyed receiver.
//
// Threads: the GUI thread only (the engines' workers only post to it).

#include "loop/Window.h"

#include <functional>

namespace panes {

class CEngineWindow final : public loop::CWindow
{
    Q_OBJECT

public:
    using Handler = std::function<void(loop::UINT message, loop::WPARAM wParam,
                                       loop::LPARAM lParam)>;
    explicit CEngineWindow(Handler handler) : m_handler(std::move(handler)) {}

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override
    {
        m_handler(message, wParam, lParam);
    }

private:
    Handler m_handler;
};

} // namespace panes
