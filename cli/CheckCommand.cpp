#include "cli/AddressList.h"
#include "cli/CChannelSession.h"
#include "cli/CCheckSummary.h"
#include "cli/CCommandLine.h"
#include "cli/CSignalWatcher.h"
#include "cli/Commands.h"
#include "cli/EventLines.h"
#include "core/CClientCheck.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>

#include <atomic>
#include <iostream>

namespace cli {

namespace {

const std::vector<OptionInfo> kCheckOptions = {
    {"scheme", true, "FILE  the channel scheme (default: settings.xml in the current folder)"},
    {"options", true, "FILE  the options file (default: ~/.config/Kanaliko/options.xml)"},
    {"serve", false, "also serve the scheme's ports while checking"},
    {"csv", true, "FILE  write the event log in the export's CSV format"},
    {"json", false, "print one JSON document (summary and every event) instead of text"},
    {"debug", false, "also write diagnostic output to standard error"},
    {"help", false, "show this help"},
};

// Hears the check's progress on its pool thread, and ends the GUI thread's
// wait when the check has ended: the quit is posted after everything the
// clients posted before they went (their last rows and events), so the loop
// handles those first.
class CCheckProgress final : public core::IClientCheckObserver
{
public:
    // interrupted: set on the GUI thread before the check is stopped, read
    // on the check's thread after the stop has reached it.
    CCheckProgress(bool print, QEventLoop& waiting, const std::atomic<bool>& interrupted)
        : m_print(print), m_waiting(waiting), m_interrupted(interrupted)
    {}
    void OnPeerStarted(const std::string& peer) override
    {
        if (m_print)
            std::cerr << "kanaliko-cli: checking " << peer << std::endl;
    }
    void OnPeerFinished(const std::string& peer, bool allPortsFinished) override
    {
        if (m_print)
            std::cerr << "kanaliko-cli: " << peer
                      << (allPortsFinished ? ": every port finished"
                          : m_interrupted  ? ": stopped"
                                           : ": time is up")
                      << std::endl;
    }
    void OnCheckFinished() override
    {
        QMetaObject::invokeMethod(&m_waiting, &QEventLoop::quit, Qt::QueuedConnection);
    }

private:
    const bool m_print;
    QEventLoop& m_waiting;
    const std::atomic<bool>& m_interrupted;
};

} // namespace

int RunCheck(int argc, char** argv)
{
    CCommandLine command(argc, argv, 2, kCheckOptions);
    if (command.Has("help")) {
        std::cout
            << "Usage: kanaliko-cli check PEER... [--scheme FILE] [--serve] [--csv FILE] "
               "[--json]\n\n"
               "Probes each peer in turn on every port of the scheme, as the program's client\n"
               "check does, prints the events and then a summary per peer, channel pair,\n"
               "protocol and port. Exit status: 0 when every probed port got a reply, 1 when\n"
               "some did not, 2 for usage, file or set-up errors.\n\n"
            << CCommandLine::OptionsHelp(kCheckOptions);
        return 0;
    }
    const std::vector<std::string> peers = ParseAddressList(command.Positional(), "peer addresses");
    // Found out after the whole check, a CSV file that cannot be written would
    // lose the check's result.
    if (auto csv = command.Value("csv"))
        CChannelSession::CheckCsvPath(*csv);
    const bool json = command.Has("json");
    ApplyDebugOption(command.Has("debug"));

    CChannelSession session(command, !json);
    session.RequirePorts("no channel to probe");
    CCheckSummary summary(peers, session.Logic().Settings().Groups());
    QEventLoop waiting;
    std::atomic<bool> interrupted{false};
    CCheckProgress progress(!json, waiting, interrupted);
    {
        core::CClientCheck check(session.Logic(), &progress);
        session.OnClientRow([&](const channel::ClientRow& row) {
            check.OnClientRow(row);
            summary.Record(row);
        });
        CSignalWatcher interrupts([&](int) {
            if (!interrupted)
                std::cerr << "kanaliko-cli: stopping: the clients end their current steps "
                             "(interrupt again to quit at once)"
                          << std::endl;
            interrupted = true;
            check.Stop();
        });
        if (command.Has("serve"))
            session.StartServers();
        if (check.Start(peers))
            waiting.exec();
        check.WaitForEnd(-1);
    }
    session.Logic().StopServers();
    // What the servers' closing posted (nothing waits for more).
    QCoreApplication::processEvents();
    if (!json)
        session.PrintNewEvents();
    session.OnClientRow(nullptr);

    if (json) {
        QJsonArray events;
        const int count = session.Logic().GetEventCount();
        for (int i = 0; i < count; ++i) {
            if (auto event = session.Logic().GetEvent(i))
                events.append(EventJson(*event));
        }
        QJsonObject document = summary.Json();
        document["events"] = events;
        document["interrupted"] = interrupted.load();
        std::cout << QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
    } else {
        std::cout << "\n" << summary.Text();
    }
    std::cout.flush();
    // After the result is out: a file that fails now costs only itself.
    if (auto csv = command.Value("csv"))
        session.WriteCsv(*csv);
    if (summary.RowsNeedingRights() > 0)
        std::cerr << "kanaliko-cli: IP channels need administrator rights: run as root, as a "
                     "member of the group kanaliko (set up by the package; its helper opens raw "
                     "sockets) or give the program CAP_NET_RAW (setcap cap_net_raw+ep)"
                  << std::endl;
    return summary.AllAnswered() && !interrupted ? 0 : 1;
}

} // namespace cli
