#include "core/CAppWindow.h"

#include "engine/AppMessages.h"

CAppWindow::CAppWindow(CAppLogic& logic, QObject* parent) : ui::CWindow(parent), m_logic(logic) {}

void CAppWindow::OnMessage(ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam)
{
    const auto socket = static_cast<platform::SOCKET>(wParam);
    switch (message) {
    case engine::WM_UDP_SERVER_SOCKET:
        m_logic.DispatchServerMessage(engine::PROTOCOL_UDP, socket, lParam);
        break;
    case engine::WM_TCP_SERVER_SOCKET:
        m_logic.DispatchServerMessage(engine::PROTOCOL_TCP, socket, lParam);
        break;
    case engine::WM_IP_SERVER_SOCKET:
        m_logic.DispatchServerMessage(engine::PROTOCOL_IP, socket, lParam);
        break;
    case engine::WM_UDP_CLIENT_SOCKET:
        m_logic.DispatchClientMessage(engine::PROTOCOL_UDP, socket, lParam);
        break;
    case engine::WM_TCP_CLIENT_SOCKET:
        m_logic.DispatchClientMessage(engine::PROTOCOL_TCP, socket, lParam);
        break;
    case engine::WM_IP_CLIENT_SOCKET:
        m_logic.DispatchClientMessage(engine::PROTOCOL_IP, socket, lParam);
        break;
    default:
        if (m_handler)
            m_handler(message, wParam, lParam);
        break;
    }
}

void CAppWindow::OnTimer(ui::UINT_PTR id)
{
    m_logic.DispatchTimer(id);
}
