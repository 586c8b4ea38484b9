#include "channel/AppMessages.h"
#include "cli/AddressList.h"
#include "cli/CCommandLine.h"
#include "cli/CSignalWatcher.h"
#include "cli/Commands.h"
#include "cli/DiagJson.h"
#include "diag/CPing.h"
#include "ferrox/strings/Strings.h"
#include "loop/EventLoop.h"
#include "loop/Window.h"
#include "platform/IcmpEcho.h"

#include <QJsonDocument>

#include <chrono>
#include <iostream>
#include <vector>

namespace cli {

namespace {

// The settings pane's ranges and defaults.
const std::vector<OptionInfo> kPingOptions = {
    {"size", true, "BYTES  request data, 1-65500 (default 32)"},
    {"ttl", true, "N  time to live, 1-255 (default 200)"},
    {"interval", true, "MS  between two requests to a target, 200-60000 (default 1000)"},
    {"timeout", true, "MS  wait for each reply, 200-5000 (default 500)"},
    {"source", true, "ADDRESS  source address (default: the system chooses)"},
    {"count", true, "N  requests per target, then stop (default: until interrupted)"},
    {"json", false, "print one JSON document at the end instead of text"},
    {"debug", false, "also write diagnostic output to standard error"},
    {"help", false, "show this help"},
};

// Prints each result as it is stored.
class CPingWindow final : public loop::CWindow
{
public:
    CPingWindow(diag::CPing& ping, const std::vector<std::string>& targets, std::uint32_t limit,
                bool quiet)
        : m_ping(ping), m_targets(targets), m_limit(limit), m_quiet(quiet),
          m_printed(targets.size(), 0)
    {}

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM) override
    {
        if (message != channel::WM_ECHO_STATISTICS || m_quiet)
            return;
        const int target = static_cast<int>(wParam);
        if (target < 0 || static_cast<std::size_t>(target) >= m_targets.size())
            return;
        // One statistics message per stored result; the newest result's place
        // follows from the number sent, the list being a ring once full.
        const std::uint32_t sent = m_ping.GetStatistics(target).Sent;
        while (m_printed[static_cast<std::size_t>(target)] < sent) {
            const std::uint32_t n = ++m_printed[static_cast<std::size_t>(target)];
            const int index = static_cast<int>(n <= m_limit ? n - 1 : (n - m_limit - 1) % m_limit);
            if (const diag::EchoRecord* record = m_ping.GetRecord(target, index))
                std::cout << m_targets[static_cast<std::size_t>(target)] << "  "
                          << as_string(diag::CPing::FormatEchoLine(*record, false)) << "\n";
        }
        std::cout.flush();
    }

private:
    diag::CPing& m_ping;
    const std::vector<std::string>& m_targets;
    const std::uint32_t m_limit;
    const bool m_quiet; // --json: one document at the end instead
    std::vector<std::uint32_t> m_printed;
};

} // namespace

int RunPing(int argc, char** argv)
{
    CCommandLine command(argc, argv, 2, kPingOptions);
    if (command.Has("help")) {
        std::cout
            << "Usage: kanaliko-cli ping TARGET... [options]\n\n"
               "Sends ICMP echo requests to every target at once and prints each result, then\n"
               "the statistics of every target (with --json: one JSON document at the end).\n"
               "Exit status: 0 when every target answered, 1 when some did not, 2 for usage\n"
               "or set-up errors.\n\n"
            << CCommandLine::OptionsHelp(kPingOptions);
        return 0;
    }
    const std::vector<std::string> targets = ParseAddressList(command.Positional(), "targets");
    diag::EchoSettings settings;
    settings.Size = static_cast<std::uint16_t>(command.Number("size", 32, 1, 65500));
    settings.Ttl = static_cast<std::uint8_t>(command.Number("ttl", 200, 1, 255));
    settings.Interval = static_cast<std::uint32_t>(command.Number("interval", 1000, 200, 60000));
    settings.TimeOut = static_cast<std::uint32_t>(command.Number("timeout", 500, 200, 5000));
    const long count = command.Number("count", 0, 1, 1000000);
    if (auto source = command.Value("source"))
        settings.Source = ParseAddressList({*source}, "source address").front();
    // Keep every result of a bounded run; an endless one keeps the pane's maximum.
    settings.RecordLimit = count > 0 ? static_cast<std::uint32_t>(count) : 100000u;
    // Each target stops at exactly its count, however long the others take.
    settings.RequestLimit = count > 0 ? static_cast<std::uint32_t>(count) : 0u;
    const bool json = command.Has("json");
    ApplyDebugOption(command.Has("debug"));

    RequireIcmpEcho();

    diag::CPing ping(true, targets, settings);
    CPingWindow window(ping, targets, settings.RecordLimit, json);
    ping.SetStatisticsWindow(window.Handle());
    bool interrupted = false;
    CSignalWatcher interrupts([&](int) { interrupted = true; });
    auto done = [&] {
        return interrupted || (count > 0 && ping.RequestsDone());
    };
    ping.Start();
    while (!done())
        loop::RunUntil(done, std::chrono::hours(1));
    ping.Stop();
    loop::ProcessEventsFor(std::chrono::milliseconds(20));

    bool allAnswered = true;
    for (int i = 0; i < static_cast<int>(targets.size()); ++i)
        allAnswered = allAnswered && ping.GetStatistics(i).Received > 0;
    if (json) {
        std::cout << QJsonDocument(PingDocument(ping, targets, settings, count, allAnswered))
                         .toJson(QJsonDocument::Indented)
                         .toStdString();
        std::cout.flush();
        return allAnswered ? 0 : 1;
    }
    std::cout << "\n";
    for (int i = 0; i < static_cast<int>(targets.size()); ++i) {
        const diag::EchoStatistics s = ping.GetStatistics(i);
        std::cout << targets[static_cast<std::size_t>(i)] << "\n"
                  << "\tПакеты: Отправлено: " << s.Sent << ", Получено: " << s.Received
                  << ", Потеряно: " << s.Lost << "\n"
                  << "\tВремя отправки/получения (мс): Среднее: " << s.Average
                  << ", Минимальное: " << s.Minimum << ", Максимальное: " << s.Maximum << "\n";
    }
    std::cout.flush();
    return allAnswered ? 0 : 1;
}

} // namespace cli
