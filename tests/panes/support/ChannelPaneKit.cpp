#include "panes/support/ChannelPaneKit.h"

#include "channel/AppMessages.h"
#include "loop/EventLoop.h"
#include "panes/CClientBar.h"
#include "panes/CServerBar.h"

#include <QCoreApplication>
#include <QThread>

#include <fstream>

namespace channeltest {

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return loop::RunUntil(done, limit);
}

void WriteOptions(const std::string& path, int timeOut, int maxSendCount)
{
    testsupport::WriteBytes(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options><TimeOut>" +
                                      std::to_string(timeOut) +
                                      "</TimeOut><TimeSendDelay>1</TimeSendDelay><MaxSendCount>" +
                                      std::to_string(maxSendCount) +
                                      "</MaxSendCount><SendDataSize>10</SendDataSize></Options>\n");
}

void WriteGroups(const std::string& path, const std::vector<channel::SchemeGroup>& groups)
{
    core::CXmlSettings settings;
    settings.SetGroups(groups);
    if (!settings.WriteScheme(path))
        throw std::runtime_error("cannot write " + path);
}

CPaneHostRig::CPaneHostRig() : m_logic(std::make_unique<core::CAppLogic>())
{
    m_window = std::make_unique<core::CAppWindow>(*m_logic);
    m_window->SetMessageHandler(
        [this](loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) {
            OnMessage(message, wParam, lParam);
        });
    m_logic->SetMainWindow(m_window->Handle());
    m_logic->SetServerPane(m_window->Handle());
    m_logic->SetEventsPane(m_window->Handle());
    m_logic->SetClientPane(m_window->Handle());
}

CPaneHostRig::~CPaneHostRig()
{
    m_logic->StopAllClients();
    m_logic->StopServers();
    m_window.reset();
    m_logic.reset();
}

void CPaneHostRig::Load(const std::vector<channel::SchemeGroup>& groups, int timeOut,
                        int maxSendCount)
{
    WriteGroups(m_folder.File("scheme.xml"), groups);
    WriteOptions(m_folder.File("options.xml"), timeOut, maxSendCount);
    m_logic->Init(nullptr, m_folder.File("scheme.xml"), m_folder.File("options.xml"));
}

void CPaneHostRig::SetPanes(panes::CClientBar* client, panes::CServerBar* server)
{
    m_client = client;
    m_server = server;
}

void CPaneHostRig::RestartServers()
{
    ++restarts;
    m_logic->ClearServerRows();
    m_logic->PostFilteredCount(m_logic->PurgeEvents(false));
    m_logic->StopServers();
    m_logic->StartServers(0);
    if (m_server)
        m_server->Refill();
}

void CPaneHostRig::SetFilterShown(bool shown)
{
    filterShown.push_back(shown);
    if (!shown)
        m_logic->ClearFilter();
}

void CPaneHostRig::OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM)
{
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        ++offThreadCalls;
    if (message == channel::WM_SERVER_ROW_CHANGED) {
        ++serverRowMessages;
        if (m_server)
            m_server->OnServerRowChanged(static_cast<int>(wParam));
    } else if (message == channel::WM_CLIENT_ROW_QUEUED) {
        const channel::ClientRow row = m_logic->TakeClientRow(static_cast<std::uint32_t>(wParam));
        if (row.eventIndex == -1)
            return;
        ++clientRows;
        if (m_client)
            m_client->OnClientRow(row);
    }
}

} // namespace channeltest
