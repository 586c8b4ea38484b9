// The events pane at a million events, offscreen, in a 1280 x 720 window:
//
//   view    first paint of the pane over 1,000,000 events; 200 random scroll
//           jumps (time per paint, p50/p95/max); how much the process grows
//           beyond the store for the pane.
//   live    four threads add 10,000 events/s each while auto-scroll follows,
//           once without and once with a filter: the gaps a 10 ms timer on the
//           GUI thread sees (p99, max), and how long after the producers stop
//           the pane's row count matches the store.
//   export  the pane's CSV export of 1,000,000 rows (rows/s and the same timer
//           probe) against the store's own writer (the headless front end's
//           path, kanaliko-cli's CSV export).
//
//   ninja -C <build> bench_events_view && <build>/bench/bench_events_view [--seconds N]
//
// Events come in as a check produces them: from 1000 peers (10.0.x.y) to one
// local address (192.168.77.1), all protocols and codes.

#include "channel/EventCodes.h"
#include "core/CAppLogic.h"
#include "panes/CEventBar.h"
#include "panes/CEventExport.h"
#include "panes/CEventGrid.h"
#include "panes/CEventsModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <random>
#include <ctime>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

namespace {

constexpr int kEvents = 1000000;
constexpr int kThreads = 4;
constexpr int kPeers = 1000;
constexpr int kRatePerThread = 10000; // events per second

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

// Answers every save dialog with one path; boxes are printed.
class CFixedPrompt final : public dialogs::IPrompt
{
public:
    QString path;
    dialogs::PromptAnswer Ask(const QString&, bool) override { return dialogs::PromptAnswer::No; }
    void Tell(const QString& text, dialogs::PromptIcon) override
    {
        std::printf("box: %s\n", text.toUtf8().constData());
    }
    void ShowError(const QString&, const QString&, const QString& text) override
    {
        std::printf("error: %s\n", text.toUtf8().constData());
    }
    QString OpenFileName(const QString&, const QString&) override { return {}; }
    QString SaveFileName(const QString&, const QString&, const QString&) override { return path; }
};

const std::vector<std::string>& PeerTexts()
{
    static const std::vector<std::string> peers = [] {
        std::vector<std::string> p;
        for (int i = 0; i < kPeers; ++i)
            p.push_back("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
        return p;
    }();
    return peers;
}

// Adds event i; returns whether it is an error or a warning.
bool AddOne(core::CAppLogic& logic, int i)
{
    const int code = i % 100 == 0 ? channel::EC_PORT_OPEN : 4 + i % 11;
    const int protocol = 1 + i % 3;
    const auto port = static_cast<std::uint16_t>(40000 + i % 2000);
    const int error = channel::EventCodeStatus(code) == 0 ? 0 : 10061;
    logic.AddEvent(channel::EventCodeStatus(code), code, error, protocol,
                   code == channel::EC_PORT_OPEN
                       ? nullptr
                       : PeerTexts()[static_cast<std::size_t>(i % kPeers)].c_str(),
                   port, port, code != channel::EC_PORT_OPEN);
    return channel::EventCodeStatus(code) != 0;
}

void FillFromThreads(core::CAppLogic& logic, int count)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&logic, t, count] {
            for (int i = t; i < count; i += kThreads)
                AddOne(logic, i);
        });
    }
    for (auto& thread : threads)
        thread.join();
}

long ResidentBytes()
{
    malloc_trim(0);
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// CPU time of the calling thread: a paint's own cost, without the time the
// thread waited for a core on a busy machine.
double ThreadMilliseconds()
{
    timespec now = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

// Runs the GUI thread's event loop for a while, sleeping when it has nothing
// to do, as the program's loop does.
void Pump(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// A 10 ms timer on the GUI thread that records the time between its firings.
class CTimerProbe
{
public:
    CTimerProbe()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            if (m_running)
                m_gaps.push_back(Milliseconds(now - m_last).count());
            m_last = now;
            m_running = true;
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(10);
    }
    void Report(const char* what) const
    {
        std::printf("  %-34s timer gaps: p50 %.1f ms, p99 %.1f ms, max %.1f ms (%zu ticks)\n", what,
                    Percentile(m_gaps, 0.50), Percentile(m_gaps, 0.99),
                    m_gaps.empty() ? 0.0 : *std::max_element(m_gaps.begin(), m_gaps.end()),
                    m_gaps.size());
    }
    double Max() const { return m_gaps.empty() ? 0 : *std::max_element(m_gaps.begin(), m_gaps.end()); }

private:
    QTimer m_timer;
    std::vector<double> m_gaps;
    Clock::time_point m_last;
    bool m_running = false;
};

// The window the pane lives in, 1280 x 720.
struct CHost
{
    QWidget window;
    QVBoxLayout* layout = new QVBoxLayout(&window);
    CHost()
    {
        layout->setContentsMargins(0, 0, 0, 0);
        window.resize(1280, 720);
        window.show();
        Pump(50);
    }
};

void BenchView(core::CAppLogic& logic, CFixedPrompt& prompt)
{
    std::printf("view: %d events, 1280 x 720\n", logic.GetEventCount());
    CHost host;
    const long before = ResidentBytes();

    const auto start = Clock::now();
    const double cpuStart = ThreadMilliseconds();
    auto* bar = new panes::CEventBar(logic, prompt);
    host.layout->addWidget(bar);
    QCoreApplication::sendPostedEvents(); // layout requests
    host.window.repaint();                // painted now, not at the next pass
    const double firstPaint = Milliseconds(Clock::now() - start).count();
    std::printf("  first paint                        %.1f ms wall, %.1f ms CPU (target <= 150)\n",
                firstPaint, ThreadMilliseconds() - cpuStart);
    Pump(50);

    panes::CEventGrid* grid = bar->Grid();
    QScrollBar* scroll = grid->verticalScrollBar();
    std::mt19937 random(17);
    std::uniform_int_distribution<int> position(0, scroll->maximum());
    std::vector<double> paints;
    std::vector<double> cpu;
    for (int jump = 0; jump < 200; ++jump) {
        const auto t0 = Clock::now();
        const double c0 = ThreadMilliseconds();
        scroll->setValue(position(random));
        grid->viewport()->repaint();
        cpu.push_back(ThreadMilliseconds() - c0);
        paints.push_back(Milliseconds(Clock::now() - t0).count());
        QCoreApplication::processEvents();
    }
    std::printf("  200 random scroll jumps, wall      p50 %.2f ms, p95 %.2f ms (target <= 10), "
                "max %.2f ms\n",
                Percentile(paints, 0.5), Percentile(paints, 0.95),
                *std::max_element(paints.begin(), paints.end()));
    std::printf("  the same, GUI thread's CPU time    p50 %.2f ms, p95 %.2f ms, max %.2f ms\n",
                Percentile(cpu, 0.5), Percentile(cpu, 0.95),
                *std::max_element(cpu.begin(), cpu.end()));
    Pump(50);
    const long after = ResidentBytes();
    std::printf("  growth for the pane                %.1f MB (target <= 10; the store holds %.1f "
                "MB)\n",
                static_cast<double>(after - before) / 1e6,
                static_cast<double>(logic.Events().EventBytes()) / 1e6);
    delete bar;
}

void BenchLive(bool filtered, int seconds)
{
    std::printf("live: %d threads x %d events/s for %d s, auto-scroll on, %s\n", kThreads,
                kRatePerThread, seconds, filtered ? "filtered (errors and warnings)" : "no filter");
    CLocalAddress local;
    core::CAppLogic logic(nullptr, local);
    CFixedPrompt prompt;
    CHost host;
    auto* bar = new panes::CEventBar(logic, prompt);
    host.layout->addWidget(bar);
    Pump(50);
    bar->SetAutoScroll(true);
    if (filtered) {
        events::FilterCriteria criteria;
        criteria.statuses = {2, 3};
        logic.SetFilterFollow(true);
        bar->ApplyFilter(criteria);
    }

    CTimerProbe probe;
    std::atomic<bool> stop{false};
    std::atomic<int> added{0};
    std::atomic<int> problems{0}; // errors and warnings: the rows the filter shows
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            // 100 events every 10 ms, on a fixed schedule.
            auto next = Clock::now();
            int i = t;
            while (!stop.load()) {
                int found = 0;
                for (int k = 0; k < kRatePerThread / 100; ++k, i += kThreads)
                    found += AddOne(logic, i) ? 1 : 0;
                problems.fetch_add(found);
                added.fetch_add(kRatePerThread / 100);
                next += std::chrono::milliseconds(10);
                std::this_thread::sleep_until(next);
            }
        });
    }
    Pump(seconds * 1000);
    stop.store(true);
    for (auto& producer : producers)
        producer.join();
    const auto stopped = Clock::now();
    const int expected = filtered ? problems.load() : added.load();
    {
        // Checked every millisecond from the loop, which otherwise sleeps.
        QEventLoop untilInStep;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (bar->Model()->rowCount() == expected && logic.ShownRowCount() == expected)
                untilInStep.quit();
        });
        check.start(1);
        QTimer::singleShot(10000, &untilInStep, &QEventLoop::quit);
        untilInStep.exec();
    }
    const double caughtUp = Milliseconds(Clock::now() - stopped).count();
    probe.Report("while adding");
    std::printf("  %d events added (%.0f/s); rows %d of %d shown; in step %.1f ms after the "
                "producers stopped (target <= 100)\n",
                added.load(), added.load() / static_cast<double>(seconds),
                bar->Model()->rowCount(), logic.ShownRowCount(), caughtUp);
    logic.SetFilterFollow(false);
    delete bar;
}

void BenchExport(core::CAppLogic& logic, CFixedPrompt& prompt)
{
    std::printf("export: %d rows\n", logic.ShownRowCount());
    std::string pattern = (fs::temp_directory_path() / "kanaliko-bench-view-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        std::abort();
    const fs::path folder = pattern;

    const double rows = logic.ShownRowCount();
    // The headless front end's path: the store's writer into a file stream.
    const auto storeWriter = [&](const char* name) {
        const auto start = Clock::now();
        const double cpuStart = ThreadMilliseconds();
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        logic.ExportCsv(out);
        out.flush();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = (ThreadMilliseconds() - cpuStart) / 1e3;
        std::printf("  store writer (kanaliko-cli's path)  %.0f ms wall, %.2f M rows/s; %.0f ms "
                    "CPU, %.2f M rows per CPU second\n",
                    seconds * 1000, rows / seconds / 1e6, cpu * 1000, rows / cpu / 1e6);
    };
    CHost host;
    auto* bar = new panes::CEventBar(logic, prompt);
    host.layout->addWidget(bar);
    Pump(50);
    prompt.path = QString::fromStdString((folder / "pane.csv").string());
    const auto paneExport = [&] {
        CTimerProbe probe;
        QEventLoop untilDone;
        const QMetaObject::Connection connection = QObject::connect(
            bar, &panes::CEventBar::exportFinished, [&](panes::CEventExport::Result result) {
                untilDone.quit();
                if (result != panes::CEventExport::Result::Saved)
                    std::printf("  export did not save\n");
            });
        const auto start = Clock::now();
        const double cpuStart = ThreadMilliseconds();
        bar->SaveToFile();
        untilDone.exec();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = (ThreadMilliseconds() - cpuStart) / 1e3;
        QObject::disconnect(connection);
        std::printf("  pane export (slices, progress)      %.0f ms wall, %.2f M rows/s; %.0f ms "
                    "CPU, %.2f M rows per CPU second\n",
                    seconds * 1000, rows / seconds / 1e6, cpu * 1000, rows / cpu / 1e6);
        probe.Report("during the export");
    };
    // Twice each, every file removed before the next is written: the page
    // cache of one large file must not slow the next one down.
    for (int round = 0; round < 2; ++round) {
        storeWriter("cli.csv");
        paneExport();
        const bool same = fs::file_size(folder / "pane.csv") == fs::file_size(folder / "cli.csv");
        std::printf("  files of equal size: %s\n", same ? "yes" : "NO");
        fs::remove(folder / "pane.csv");
        fs::remove(folder / "cli.csv");
    }
    delete bar;
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int seconds = 30;
    bool view = true, live = true, exportCsv = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            const std::string only = argv[++i];
            view = only == "view";
            live = only == "live";
            exportCsv = only == "export";
        }
    }
    QApplication application(argc, argv);
    CLocalAddress local;
    CFixedPrompt prompt;
    if (view || exportCsv) {
        core::CAppLogic logic(nullptr, local);
        FillFromThreads(logic, kEvents);
        if (view)
            BenchView(logic, prompt);
        if (exportCsv)
            BenchExport(logic, prompt);
    }
    if (live) {
        BenchLive(false, seconds);
        BenchLive(true, seconds);
    }
    return 0;
}
