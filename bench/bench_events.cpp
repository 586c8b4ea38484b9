// The event log at one million events: adding them from four threads, memory
// per event, filtering by one sender, sorting by sender then time, purging and
// writing the CSV; and, in the same run, GNU sort and grep doing the same sort
// and the same filter on the exported CSV (the baseline to beat).
//
//   ninja -C <release build> bench_events && <release build>/bench/bench_events
//
// Events come in as a check produces them: from 1000 peers (10.0.x.y) to one
// local address (192.168.77.1), all protocols and codes, about 1 % of them
// port results that a purge keeps.

#include "channel/EventCodes.h"
#include "core/CAppLogic.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kEvents = 1000000;
constexpr int kThreads = 4;
constexpr int kPeers = 1000;
const char* const kFilteredPeer = "10.0.3.7"; // peer 775

class CLocalAddress final : public core::IInterfaceSource
{
public:
    int QueryAddresses(std::vector<core::InterfaceAddress>& addresses) override
    {
        core::InterfaceAddress entry;
        entry.name = "eth0";
        entry.index = 2;
        entry.flags = 1;            // IFF_UP
        entry.family = 2;           // AF_INET
        entry.address = 0x014DA8C0; // 192.168.77.1 in network order
        addresses.push_back(entry);
        return 0;
    }
};

std::vector<std::string> PeerTexts()
{
    std::vector<std::string> peers;
    for (int i = 0; i < kPeers; ++i)
        peers.push_back("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
    return peers;
}

std::unique_ptr<core::CAppLogic> MakeLogic()
{
    static CLocalAddress local;
    return std::make_unique<core::CAppLogic>(nullptr, local);
}

// Thread t's share of the million events, the same every run.
void AddShare(core::CAppLogic& logic, const std::vector<std::string>& peers, int t)
{
    for (int i = t; i < kEvents; i += kThreads) {
        const int code = i % 100 == 0 ? channel::EC_PORT_OPEN : 4 + i % 11;
        const int protocol = 1 + i % 3;
        const auto port = static_cast<std::uint16_t>(40000 + i % 2000);
        const int error = channel::EventCodeStatus(code) == 0 ? 0 : 10061;
        logic.AddEvent(channel::EventCodeStatus(code), code, error, protocol,
                       code == channel::EC_PORT_OPEN
                           ? nullptr
                           : peers[static_cast<std::size_t>(i % kPeers)].c_str(),
                       port, port, code != channel::EC_PORT_OPEN);
    }
}

double AddFromThreads(core::CAppLogic& logic)
{
    static const std::vector<std::string> peers = PeerTexts();
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&logic, t] { AddShare(logic, peers, t); });
    for (auto& thread : threads)
        thread.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long ResidentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// One logic with the million events, shared by the read-side benchmarks.
core::CAppLogic& Filled()
{
    static std::unique_ptr<core::CAppLogic> logic = [] {
        auto l = MakeLogic();
        AddFromThreads(*l);
        return l;
    }();
    return *logic;
}

class CTempFolder
{
public:
    CTempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "kanaliko-bench-events-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_path = pattern;
    }
    ~CTempFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    std::string Path(const char* name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

CTempFolder& Folder()
{
    static CTempFolder folder;
    return folder;
}

// The export of the whole unsorted, unfiltered log, for the GNU tools.
const std::string& ExportedCsv()
{
    static const std::string path = [] {
        std::string p = Folder().Path("events.csv");
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        Filled().ExportCsv(out);
        return p;
    }();
    return path;
}

// Runs a shell command; returns its time and the first number it printed.
double RunCommand(const std::string& command, long* firstNumber = nullptr)
{
    const auto start = Clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    long number = -1;
    if (pipe) {
        if (std::fscanf(pipe, "%ld", &number) != 1)
            number = -1;
        char sink[4096];
        while (std::fread(sink, 1, sizeof(sink), pipe) > 0) {
        }
        if (::pclose(pipe) != 0)
            std::fprintf(stderr, "failed: %s\n", command.c_str());
    }
    if (firstNumber)
        *firstNumber = number;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// First of all, in a fresh process: what a million events cost in memory. The
// heap figure counts malloc'd and mmap'd blocks; the RSS figure what the
// process touched (the record is 72 bytes; nothing else is kept per event
// until a view is sorted or filtered, which adds 4 bytes per row).
void BM_MemoryPerEvent(benchmark::State& state)
{
    for (auto _ : state) {
        auto logic = MakeLogic();
        const long rssBefore = ResidentBytes();
        const struct mallinfo2 before = mallinfo2();
        AddFromThreads(*logic);
        const struct mallinfo2 after = mallinfo2();
        const long rssAfter = ResidentBytes();
        const double heap = static_cast<double>((after.uordblks + after.hblkhd) -
                                                (before.uordblks + before.hblkhd));
        state.counters["heap_B_per_event"] = heap / kEvents;
        state.counters["rss_B_per_event"] = static_cast<double>(rssAfter - rssBefore) / kEvents;
        state.counters["arena_B_per_event"] =
            static_cast<double>(logic->Events().EventBytes()) / kEvents;
        state.counters["record_B"] = sizeof(events::Event);
    }
}
BENCHMARK(BM_MemoryPerEvent)->Iterations(1)->Unit(benchmark::kMillisecond);

// A serving node's bounded history (kanaliko-cli serve keeps 100000 events by
// default) under a flood of a million events from as many spoofed sources:
// the time per event with the trims included, and what the store holds at the
// end (the records kept and the sender texts), against one that keeps all.
void BM_BoundedHistoryUnderAFlood(benchmark::State& state)
{
    const int limit = static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto logic = MakeLogic();
        logic->SetEventLimit(limit);
        const auto start = Clock::now();
        char sender[16];
        for (int i = 0; i < kEvents; ++i) {
            std::snprintf(sender, sizeof sender, "10.%d.%d.%d", i >> 16 & 255, i >> 8 & 255,
                          i & 255);
            logic->AddEvent(0, channel::EC_RECEIVED, 0, channel::PROTOCOL_UDP, sender, 40000,
                            47001, true);
            if (i % 1000 == 999)
                logic->TrimEvents(); // as the front end does at each WM_EVENT_ADDED
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        state.counters["events_kept"] = logic->GetEventCount();
        state.counters["senders_kept"] = static_cast<double>(logic->Senders().size());
        state.counters["arena_MB"] =
            static_cast<double>(logic->Events().EventBytes()) / (1024.0 * 1024.0);
        state.counters["ns_per_event"] =
            std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kEvents;
    }
}
BENCHMARK(BM_BoundedHistoryUnderAFlood)
    ->Arg(100000)
    ->Arg(0)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_AddEventFourThreads(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto logic = MakeLogic();
        state.ResumeTiming();
        const double seconds = AddFromThreads(*logic);
        state.SetIterationTime(seconds);
        state.counters["events_per_s"] =
            benchmark::Counter(kEvents / seconds, benchmark::Counter::kAvgIterations);
        state.PauseTiming();
        logic.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AddEventFourThreads)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_FilterBySender(benchmark::State& state)
{
    core::CAppLogic& logic = Filled();
    events::FilterCriteria criteria;
    criteria.senders = {kFilteredPeer};
    int shown = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        logic.ApplyFilter(criteria);
        while (logic.Events().Filter().IsRunning())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        shown = logic.ShownRowCount();
    }
    logic.ClearFilter();
    state.counters["rows"] = shown;
}
BENCHMARK(BM_FilterBySender)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_GrepSenderInCsv(benchmark::State& state)
{
    const std::string csv = ExportedCsv();
    const std::string command = std::string("LC_ALL=C grep -F -c ';") + kFilteredPeer + ";' " + csv;
    long rows = 0;
    for (auto _ : state)
        state.SetIterationTime(RunCommand(command, &rows));
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_GrepSenderInCsv)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The user's two header clicks: sender, then Ctrl+time.
void BM_SortBySenderThenTime(benchmark::State& state)
{
    core::CAppLogic& logic = Filled();
    for (auto _ : state) {
        state.PauseTiming();
        logic.ToggleSortColumn(events::COL_TIME);
        logic.ToggleSortColumn(events::COL_SENDER); // back to arrival order
        state.ResumeTiming();
        logic.SortEvents(events::COL_SENDER, true, false);
        logic.SortEvents(events::COL_TIME, true, true);
    }
    state.counters["rows"] = static_cast<double>(logic.Events().DisplayOrder().size());
}
BENCHMARK(BM_SortBySenderThenTime)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_GnuSortCsv(benchmark::State& state)
{
    const std::string csv = ExportedCsv();
    // C locale: byte comparison, the fastest GNU sort can do; its threads as it likes.
    const std::string command = "LC_ALL=C sort -t';' -k5,5 -k2,2 " + csv + " | wc -l";
    long rows = 0;
    for (auto _ : state)
        state.SetIterationTime(RunCommand(command, &rows));
    state.counters["rows"] = static_cast<double>(rows - 1); // less the header
}
BENCHMARK(BM_GnuSortCsv)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_WriteCsv(benchmark::State& state)
{
    core::CAppLogic& logic = Filled();
    const std::string path = Folder().Path("written.csv");
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        logic.ExportCsv(out);
        out.close();
        bytes = static_cast<std::size_t>(fs::file_size(path));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_WriteCsv)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_PurgeKeepingPortResults(benchmark::State& state)
{
    int kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto logic = MakeLogic();
        AddFromThreads(*logic);
        state.ResumeTiming();
        kept = logic->PurgeEvents(true);
        state.PauseTiming();
        logic.reset();
        state.ResumeTiming();
    }
    state.counters["kept"] = kept;
}
BENCHMARK(BM_PurgeKeepingPortResults)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
