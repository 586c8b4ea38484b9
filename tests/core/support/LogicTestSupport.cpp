#include "core/support/LogicTestSupport.h"

#include "channel/AppMessages.h"
#include "loop/EventLoop.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <cstdlib>
#include <net/if.h>
#include <stdexcept>
#include <sys/socket.h>

#include <gtest/gtest.h>

namespace coretest {

void EnsureApplication()
{
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "core-tests";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv); // lives for the whole test process
    }
}

void WriteOptionsFile(const std::string& path, int timeOut, int timeSendDelay, int sendDataSize,
                      int maxSendCount)
{
    testsupport::WriteBytes(path,
                            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options><TimeOut>" +
                                std::to_string(timeOut) + "</TimeOut><TimeSendDelay>" +
                                std::to_string(timeSendDelay) + "</TimeSendDelay><MaxSendCount>" +
                                std::to_string(maxSendCount) + "</MaxSendCount><SendDataSize>" +
                                std::to_string(sendDataSize) + "</SendDataSize></Options>\n");
}

void WriteScheme(const std::string& path, const std::vector<channel::SchemeGroup>& groups)
{
    core::CXmlSettings settings;
    settings.SetGroups(groups);
    if (!settings.WriteScheme(path))
        throw std::runtime_error("scheme not written: " + path);
}

namespace {

bool IsTaken(const RelocatedScheme& scheme, std::uint16_t port)
{
    for (const auto& [original, moved] : scheme.moved) {
        if (moved == port)
            return true;
    }
    return false;
}

} // namespace

RelocatedScheme WriteRelocatedExample(const std::string& path, bool withIp)
{
    const char* source = std::getenv("KANALIKO_SOURCE_DIR");
    core::CXmlSettings example;
    example.ReadScheme(std::string(source ? source : ".") + "/examples/settings.xml");
    RelocatedScheme result;
    auto move = [&result](std::uint16_t port, int type) -> std::uint16_t {
        if (port == 0)
            return 0;
        auto found = result.moved.find(port);
        if (found != result.moved.end())
            return found->second;
        // The system may hand the same free port out twice; two channels on one
        // port would answer each other's probes.
        std::uint16_t fresh = FreePort(type);
        for (int tries = 0; tries < 100 && IsTaken(result, fresh); ++tries)
            fresh = FreePort(type);
        return result.moved.emplace(port, fresh).first->second;
    };
    for (const auto& group : example.Groups()) {
        channel::SchemeGroup copy = *group;
        for (channel::PortPair& pair : copy.tcpPairs) {
            pair.serverPort = move(pair.serverPort, SOCK_STREAM);
            pair.clientPort = move(pair.clientPort, SOCK_STREAM);
        }
        for (channel::PortPair& pair : copy.udpPairs) {
            pair.serverPort = move(pair.serverPort, SOCK_DGRAM);
            pair.clientPort = move(pair.clientPort, SOCK_DGRAM);
        }
        if (!withIp)
            copy.ipPairs.clear();
        result.groups.push_back(copy);
    }
    WriteScheme(path, result.groups);
    return result;
}

void CRecordingNotifier::ShowError(const std::string& operation, const std::string& technicalInfo,
                                   const std::string& errorText)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_shown.push_back({operation, technicalInfo, errorText, true});
}

void CRecordingNotifier::ShowMessage(const std::string& text, bool isError)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_shown.push_back({"", "", text, isError});
}

std::vector<CRecordingNotifier::Shown> CRecordingNotifier::All() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_shown;
}

void CRecordingObserver::Add(Step step)
{
    step.at = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(m_lock);
    m_steps.push_back(std::move(step));
}

void CRecordingObserver::OnPeerStarted(const std::string& peer)
{
    Add({"started", peer, false, {}});
}

void CRecordingObserver::OnPeerFinished(const std::string& peer, bool allPortsFinished)
{
    Add({"finished", peer, allPortsFinished, {}});
}

void CRecordingObserver::OnCheckFinished()
{
    Add({"check finished", "", false, {}});
}

std::vector<CRecordingObserver::Step> CRecordingObserver::Steps() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_steps;
}

bool CRecordingObserver::CheckFinished() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return !m_steps.empty() && m_steps.back().what == "check finished";
}

CLogicHarness::CLogicHarness(core::IInterfaceSource* source)
{
    EnsureApplication();
    m_logic = source ? std::make_unique<core::CAppLogic>(&m_notifier, *source)
                     : std::make_unique<core::CAppLogic>(&m_notifier);
    m_window = std::make_unique<core::CAppWindow>(*m_logic);
    m_window->SetMessageHandler([this](loop::UINT message, loop::WPARAM wParam, loop::LPARAM) {
        if (message == channel::WM_CLIENT_ROW_QUEUED) {
            channel::ClientRow row = m_logic->TakeClientRow(static_cast<std::uint32_t>(wParam));
            m_rows.push_back(row);
            if (m_check)
                m_check->OnClientRow(row);
        } else if (message == channel::WM_SERVER_ROW_CHANGED) {
            m_serverRowMessages.push_back(static_cast<int>(wParam));
        } else if (message == channel::WM_EVENT_ADDED) {
            m_logic->Events().TakeRowsNotice();
            m_rowsNoticed = m_logic->ShownRowCount();
        }
    });
    const loop::HWND handle = m_window->Handle();
    m_logic->SetMainWindow(handle);
    m_logic->SetServerPane(handle);
    m_logic->SetEventsPane(handle);
    m_logic->SetClientPane(handle);
}

CLogicHarness::~CLogicHarness()
{
    m_logic->StopServers();
    m_logic->StopAllClients();
    m_window.reset();
    m_logic.reset();
}

bool CLogicHarness::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return loop::RunUntil(done, limit);
}

int CFixedInterfaces::QueryAddresses(std::vector<core::InterfaceAddress>& addresses)
{
    unsigned index = 2;
    for (const std::string& text : m_addresses) {
        core::InterfaceAddress entry;
        entry.name = "eth" + std::to_string(index - 2);
        entry.index = index++;
        entry.flags = IFF_UP | IFF_RUNNING;
        entry.family = AF_INET;
        entry.address = ::inet_addr(text.c_str());
        addresses.push_back(entry);
    }
    return 0;
}

} // namespace coretest
