#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "cli/AddressList.h"
#include "cli/CCommandLine.h"
#include "cli/CSignalWatcher.h"
#include "cli/Commands.h"
#include "cli/DiagJson.h"
#include "diag/CPing.h"
#include "diag/CTraceRoute.h"
#include "ferrox/strings/Strings.h"
#include "loop/EventLoop.h"
#include "loop/Window.h"
#include "platform/IcmpEcho.h"

#include <QJsonDocument>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <vector>

namespace cli {

namespace {

// The settings pane's ranges and defaults.
const std::vector<OptionInfo> kTraceOptions = {
    {"steps", true, "N  highest TTL tried, 1-255 (default 30)"},
    {"timeout", true, "MS  wait for each answer, 200-5000 (default 500)"},
    {"interval", true, "MS  pause between two complete traces, 200-60000 (default 5000)"},
    {"size", true, "BYTES  request data, 1-65500 (default 32)"},
    {"passes", true, "N  complete traces per target, then stop (default: until interrupted)"},
    {"no-dns", false, "do not look the hops' names up (no reverse DNS queries)", 'n'},
    {"json", false, "print one JSON document at the end instead of the tables"},
    {"debug", false, "also write diagnostic output to standard error"},
    {"help", false, "show this help"},
};

// The hops pane's columns, and the status of each hop.
std::string HopTable(diag::CTraceRoute& trace, int target, const std::string& address)
{
    std::string out =
        address + "  " + as_string(diag::RouteStateText(trace.GetRouteState(target).State)) + "\n";
    out += "Шаг\tIP адрес\tDNS "
           "имя\tПоследний(мс)\tСредний(мс)\tМакс.(мс)\tМин.(мс)\tОтправлено\tПотеряно\t"
           "Потеряно(%)\tСтатус\n";
    const int count = trace.GetRecordCount(target);
    char line[512];
    for (int hop = 0; hop < count; ++hop) {
        const diag::HopRecord* record = trace.GetRecord(target, hop);
        if (record == nullptr)
            continue;
        const diag::HopRecord h = *record;
        const std::string name = h.Name == L"-" ? std::string() : as_string(h.Name);
        const int lostShare =
            h.Sent > 0 ? static_cast<int>(std::ceil(static_cast<double>(h.Lost) * 100.0 / h.Sent))
                       : 0;
        std::snprintf(line, sizeof(line), "%d\t%s\t%s\t%u\t%u\t%u\t%u\t%d\t%d\t%d%%\t%s\n", h.Step,
                      channel::AddressText(h.Address).c_str(), name.c_str(), h.Last, h.Average,
                      h.Maximum, h.Minimum, h.Sent, h.Lost, lostShare,
                      as_string(diag::CPing::StatusText(h.Status)).c_str());
        out += line;
    }
    return out;
}

// How many passes of the target are complete: the count of requests sent at
// the step where the pass ends - the target's own hop, else the last step.
int CompletedPasses(diag::CTraceRoute& trace, int target, int steps)
{
    const int count = trace.GetRecordCount(target);
    const std::uint32_t address = trace.GetAddress(target);
    for (int hop = 0; hop < count; ++hop) {
        const diag::HopRecord* record = trace.GetRecord(target, hop);
        if (record && record->Address == address && record->Status == 0)
            return record->Sent;
    }
    if (count >= steps) {
        const diag::HopRecord* last = trace.GetRecord(target, steps - 1);
        return last ? last->Sent : 0;
    }
    return 0;
}

class CTraceWindow final : public loop::CWindow
{
public:
    CTraceWindow(diag::CTraceRoute& trace, const std::vector<std::string>& targets, int steps,
                 bool quiet)
        : m_trace(trace), m_targets(targets), m_steps(steps), m_quiet(quiet),
          m_shown(targets.size(), 0)
    {}
    // Prints a target's table after each pass it completes.
    int PassesDone(int target) const { return m_shown[static_cast<std::size_t>(target)]; }

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM) override
    {
        if (message != channel::WM_ROUTE_HOPS && message != channel::WM_ROUTE_STATE)
            return;
        const int target = static_cast<int>(wParam);
        if (target < 0 || static_cast<std::size_t>(target) >= m_targets.size())
            return;
        const int passes = CompletedPasses(m_trace, target, m_steps);
        if (passes > m_shown[static_cast<std::size_t>(target)]) {
            m_shown[static_cast<std::size_t>(target)] = passes;
            if (m_quiet)
                return;
            std::cout << HopTable(m_trace, target, m_targets[static_cast<std::size_t>(target)])
                      << "\n";
            std::cout.flush();
        }
    }

private:
    diag::CTraceRoute& m_trace;
    const std::vector<std::string>& m_targets;
    const int m_steps;
    const bool m_quiet; // --json: one document at the end instead
    std::vector<int> m_shown;
};

} // namespace

int RunTrace(int argc, char** argv)
{
    CCommandLine command(argc, argv, 2, kTraceOptions);
    if (command.Has("help")) {
        std::cout
            << "Usage: kanaliko-cli trace TARGET... [options]\n\n"
               "Traces the route to every target at once, hop by hop, again and again, and\n"
               "prints the hop table of a target after each complete pass (with --json: one\n"
               "JSON document at the end). Each hop's name is looked up once (reverse DNS),\n"
               "unless -n/--no-dns is given. Exit status: 0 when every route was built, 1 when\n"
               "some was not, 2 for usage or set-up errors.\n\n"
            << CCommandLine::OptionsHelp(kTraceOptions);
        return 0;
    }
    const std::vector<std::string> targets = ParseAddressList(command.Positional(), "targets");
    diag::RouteSettings settings;
    settings.Steps = static_cast<std::uint8_t>(command.Number("steps", 30, 1, 255));
    settings.TimeOut = static_cast<std::uint32_t>(command.Number("timeout", 500, 200, 5000));
    settings.Interval = static_cast<std::uint32_t>(command.Number("interval", 5000, 200, 60000));
    settings.Size = static_cast<std::uint16_t>(command.Number("size", 32, 1, 65500));
    const long passes = command.Number("passes", 0, 1, 1000000);
    settings.ResolveNames = !command.Has("no-dns");
    const bool json = command.Has("json");
    ApplyDebugOption(command.Has("debug"));

    RequireIcmpEcho();

    diag::CTraceRoute trace(targets, settings);
    CTraceWindow window(trace, targets, settings.Steps, json);
    trace.SetRecordsWindow(window.Handle());
    trace.SetStatisticsWindow(window.Handle());
    bool interrupted = false;
    CSignalWatcher interrupts([&](int) { interrupted = true; });
    auto done = [&] {
        if (interrupted)
            return true;
        if (passes <= 0)
            return false;
        for (int i = 0; i < static_cast<int>(targets.size()); ++i) {
            if (window.PassesDone(i) < passes)
                return false;
        }
        return true;
    };
    trace.Start();
    while (!done())
        loop::RunUntil(done, std::chrono::hours(1));
    trace.Stop();

    bool allBuilt = true;
    for (int i = 0; i < static_cast<int>(targets.size()); ++i)
        allBuilt = allBuilt && trace.GetRouteState(i).State == diag::ROUTE_BUILT;
    if (json) {
        std::cout << QJsonDocument(TraceDocument(trace, targets, settings, passes, allBuilt))
                         .toJson(QJsonDocument::Indented)
                         .toStdString();
        std::cout.flush();
    }
    return allBuilt ? 0 : 1;
}

} // namespace cli
