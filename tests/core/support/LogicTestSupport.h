#pragma once

// Helpers of the application-logic and client-check tests: the logic with a
// CAppWindow as its main window and panes (the test's thread is the GUI
// thread), a notifier and an observer that record, scheme and options files in
// a private folder, and the example scheme moved onto free loopback ports.

#include "core/CAppLogic.h"
#include "core/CAppWindow.h"
#include "core/CClientCheck.h"
#include "core/IUserNotifier.h"
#include "support/FreePorts.h"
#include "support/TestFiles.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace coretest {

// Makes the process's QCoreApplication on first use.
void EnsureApplication();

using testsupport::FreePort;

void WriteOptionsFile(const std::string& path, int timeOut, int timeSendDelay, int sendDataSize,
                      int maxSendCount);

// The example scheme (examples/settings.xml) with every TCP and UDP port moved
// to a free loopback port (equal ports stay equal), written to path. The IP
// protocol numbers stay; withIp = false leaves the IP pairs out.
struct RelocatedScheme
{
    std::vector<channel::SchemeGroup> groups;
    std::map<std::uint16_t, std::uint16_t> moved; // example port -> port used
};
RelocatedScheme WriteRelocatedExample(const std::string& path, bool withIp);

// A scheme file from groups.
void WriteScheme(const std::string& path, const std::vector<channel::SchemeGroup>& groups);

class CRecordingNotifier final : public core::IUserNotifier
{
public:
    struct Shown
    {
        std::string operation; // "" for a message box
        std::string technicalInfo;
        std::string text;
        bool isError = false;
    };
    void ShowError(const std::string& operation, const std::string& technicalInfo,
                   const std::string& errorText) override;
    void ShowMessage(const std::string& text, bool isError) override;
    std::vector<Shown> All() const;

private:
    mutable std::mutex m_lock;
    std::vector<Shown> m_shown;
};

class CRecordingObserver final : public core::IClientCheckObserver
{
public:
    struct Step
    {
        std::string what; // "started", "finished", "check finished"
        std::string peer;
        bool allPortsFinished = false;
        std::chrono::steady_clock::time_point at;
    };
    void OnPeerStarted(const std::string& peer) override;
    void OnPeerFinished(const std::string& peer, bool allPortsFinished) override;
    void OnCheckFinished() override;
    std::vector<Step> Steps() const;
    bool CheckFinished() const;

private:
    void Add(Step step);
    mutable std::mutex m_lock;
    std::vector<Step> m_steps;
};

// The logic with one CAppWindow as its main window and all three panes. The
// window takes each queued client row (and hands it to the check, if any) and
// counts what the panes would get.
class CLogicHarness
{
public:
    explicit CLogicHarness(core::IInterfaceSource* source = nullptr);
    ~CLogicHarness();

    core::CAppLogic& Logic() { return *m_logic; }
    CRecordingNotifier& Notifier() { return m_notifier; }
    void SetCheck(core::CClientCheck* check) { m_check = check; }

    std::vector<channel::ClientRow> TakenRows() const { return m_rows; }
    std::vector<int> ServerRowMessages() const { return m_serverRowMessages; }
    // Rows the logic showed when the last WM_EVENT_ADDED was taken (the store
    // posts one notice until it is taken, not one per event).
    int RowsNoticed() const { return m_rowsNoticed; }

    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

private:
    CRecordingNotifier m_notifier;
    std::unique_ptr<core::CAppLogic> m_logic;
    std::unique_ptr<core::CAppWindow> m_window;
    core::CClientCheck* m_check = nullptr;
    std::vector<channel::ClientRow> m_rows;
    std::vector<int> m_serverRowMessages;
    int m_rowsNoticed = 0;
};

// A fixed list of interface addresses for CNetInterfaces.
class CFixedInterfaces final : public core::IInterfaceSource
{
public:
    explicit CFixedInterfaces(std::vector<std::string> addresses)
        : m_addresses(std::move(addresses))
    {}
    int QueryAddresses(std::vector<core::InterfaceAddress>& addresses) override;

private:
    std::vector<std::string> m_addresses;
};

} // namespace coretest
