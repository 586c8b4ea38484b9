#include "core/CAppWindow.h"

namespace core {

CAppWindow::CAppWindow(CAppLogic& logic, QObject* parent) : loop::CWindow(parent), m_logic(logic) {}

void CAppWindow::OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    if (!m_logic.DispatchWindowMessage(message, wParam, lParam) && m_handler)
        m_handler(message, wParam, lParam);
}

void CAppWindow::OnTimer(loop::UINT_PTR id)
{
    m_logic.DispatchTimer(id);
}

} // namespace core
