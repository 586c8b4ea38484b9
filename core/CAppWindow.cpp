#include "core/CAppWindow.h"

#include "channel/AppMessages.h"

namespace core {

CAppWindow::CAppWindow(CAppLogic& logic, QObject* parent) : loop::CWindow(parent), m_logic(logic) {}

void CAppWindow::OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    const auto socket = static_cast<platform::SOCKET>(wParam);
    switch (message) {
    case channel::WM_UDP_SERVER_SOCKET:
        m_logic.DispatchServerMessage(channel::PROTOCOL_UDP, socket, lParam);
        break;
    case channel::WM_TCP_SERVER_SOCKET:
        m_logic.DispatchServerMessage(channel::PROTOCOL_TCP, socket, lParam);
        break;
    case channel::WM_IP_SERVER_SOCKET:
        m_logic.DispatchServerMessage(channel::PROTOCOL_IP, socket, lParam);
        break;
    case channel::WM_UDP_CLIENT_SOCKET:
        m_logic.DispatchClientMessage(channel::PROTOCOL_UDP, socket, lParam);
        break;
    case channel::WM_TCP_CLIENT_SOCKET:
        m_logic.DispatchClientMessage(channel::PROTOCOL_TCP, socket, lParam);
        break;
    case channel::WM_IP_CLIENT_SOCKET:
        m_logic.DispatchClientMessage(channel::PROTOCOL_IP, socket, lParam);
        break;
    default:
        if (m_handler)
            m_handler(message, wParam, lParam);
        break;
    }
}

void CAppWindow::OnTimer(loop::UINT_PTR id)
{
    m_logic.DispatchTimer(id);
}

} // namespace core
