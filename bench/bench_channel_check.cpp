// A channel check of many TCP ports and UDP pairs between two test hosts, the
// server and the client each in a process of its own, driven through the event
// loop exactly as the program drives them:
//
//   client (namespace A) 198.18.30.1 ---- 198.18.30.2 server (namespace B)
//
// The namespaces are built by the bench and torn down at its end (root only).
// Prints the wall time against the floor (when the protocol's own timers let
// the last probe end: (MaxSendCount - 1) x TimeSendDelay s, plus TimeOut with
// UDP pairs), how many rows ended at MaxSendCount/MaxSendCount, the TCP replies
// counted, the CPU time and peak RSS of both sides, and the largest gap a
// 10 ms timer on the client's GUI thread saw during the check.
//
//   bench_channel_check TCP UDP [MaxSendCount=5] [TimeOut=200] [TimeSendDelay=1]
//   bench_channel_check idle TCP UDP [seconds=30]   (an idle server's CPU share)
//   bench_channel_check silent TCP [MaxSendCount=5] [TimeOut=200] [TimeSendDelay=1]
//     (TCP ports of an address nobody has, 198.18.30.3: every connect times
//     out, as behind a firewall that drops them; the floor is then
//     MaxSendCount x TimeOut + (MaxSendCount - 1) x TimeSendDelay)
//   bench_channel_check mute TCP [MaxSendCount=5] [TimeOut=200] [TimeSendDelay=1]
//     (the server's ports take connections and never echo: every probe waits
//     TimeOut and reconnects; the floor is MaxSendCount x TimeOut)

#include "bench/CBenchEngineHost.h"
#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "engine/CEngineDispatch.h"
#include "engine/CTcpClient.h"
#include "engine/CTcpServer.h"
#include "engine/CUdpClient.h"
#include "engine/CUdpServer.h"
#include "loop/AsyncSelect.h"
#include "loop/EventLoop.h"
#include "loop/Window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <sched.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint16_t kTcpBase = 10000;       // server TCP ports
constexpr std::uint16_t kUdpServerBase = 20000; // UDP server ports
constexpr std::uint16_t kUdpClientBase = 40000; // UDP client ports
const char* const kClientAddress = "198.18.30.1";
const char* const kServerAddress = "198.18.30.2";
const char* const kSilentAddress = "198.18.30.3"; // on the link, but no host

class CBenchApp final : public CBenchEngineHost
{
public:
    int AddEvent(int, int code, int error, int protocol, const char*, std::uint16_t,
                 std::uint16_t, bool incoming) override
    {
        if (code == channel::EC_RECEIVE_FAILED || code == channel::EC_CONNECT_FAILED ||
            code == channel::EC_SEND_FAILED) {
            std::lock_guard<std::mutex> lock(m_lock);
            ++failures[{protocol * 100 + code, error}];
        }
        if (code == channel::EC_INTERNAL_ERROR || code == channel::EC_PORT_BUSY)
            ++problems;
        if (protocol == channel::PROTOCOL_TCP && code == channel::EC_RECEIVED && incoming)
            ++tcpReplies;
        return events++;
    }
    void UpdateServerRow(int, int, std::uint16_t, int) override {}
    std::uint32_t AddClientRow(const channel::ClientRow& row) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto key = std::make_pair(row.protocol, row.port);
        lastRows[key] = row;
        // A UDP pair's cycle ends with the row that repeats its last probe.
        const bool closing = row.protocol != channel::PROTOCOL_UDP ||
                             row.code == channel::EC_SENT || row.code == channel::EC_SEND_FAILED;
        if (row.finished && closing)
            finished.insert(key);
        return sequence++;
    }
    std::size_t Finished()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return finished.size();
    }

    std::atomic<int> events{0};
    std::atomic<int> problems{0};
    std::atomic<int> tcpReplies{0};
    std::mutex m_lock;
    std::map<std::pair<std::uint32_t, std::uint32_t>, channel::ClientRow> lastRows;
    std::set<std::pair<std::uint32_t, std::uint32_t>> finished;
    std::uint32_t sequence = 0;
    std::map<std::pair<int, int>, int> failures; // (protocol x 100 + code, error) -> count
};

std::vector<std::uint16_t> TcpPorts(int count)
{
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < count; ++i)
        ports.push_back(static_cast<std::uint16_t>(kTcpBase + i));
    return ports;
}

std::vector<std::uint16_t> UdpPairs(int count)
{
    std::vector<std::uint16_t> pairs;
    for (int i = 0; i < count; ++i) {
        pairs.push_back(static_cast<std::uint16_t>(kUdpServerBase + i));
        pairs.push_back(static_cast<std::uint16_t>(kUdpClientBase + i));
    }
    return pairs;
}

int Run(const std::string& command)
{
    return std::system(command.c_str());
}

// The two hosts; removed when the bench ends.
struct CHosts
{
    std::string a = "kbench-a-" + std::to_string(::getpid());
    std::string b = "kbench-b-" + std::to_string(::getpid());
    bool made = false;
    CHosts()
    {
        const std::string va = "kba" + std::to_string(::getpid() % 100000);
        const std::string vb = "kbb" + std::to_string(::getpid() % 100000);
        made = Run("ip netns add " + a) == 0 && Run("ip netns add " + b) == 0 &&
               Run("ip link add " + va + " type veth peer name " + vb) == 0 &&
               Run("ip link set " + va + " netns " + a) == 0 &&
               Run("ip link set " + vb + " netns " + b) == 0 &&
               Run("ip -n " + a + " addr add " + kClientAddress + "/24 dev " + va) == 0 &&
               Run("ip -n " + b + " addr add " + kServerAddress + "/24 dev " + vb) == 0 &&
               Run("ip -n " + a + " link set " + va + " up") == 0 &&
               Run("ip -n " + b + " link set " + vb + " up") == 0 &&
               Run("ip -n " + a + " link set lo up") == 0 &&
               Run("ip -n " + b + " link set lo up") == 0;
    }
    ~CHosts()
    {
        Run("ip netns del " + a + " 2>/dev/null");
        Run("ip netns del " + b + " 2>/dev/null");
    }
};

bool EnterNamespace(const std::string& name)
{
    const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0)
        ::close(fd);
    return entered;
}

void RaiseDescriptorLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

double CpuSeconds(const rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double CpuNow()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::atomic<bool> g_stop{false};

// The server process: listens, writes "ready <cpu>" to the pipe, serves until
// SIGTERM, then writes "done <cpu> <peak rss kB>".
// Listening sockets that nobody accepts from or reads: the kernel completes
// the connections, and no probe is ever echoed.
std::vector<int> MuteListeners(int count)
{
    std::vector<int> listeners;
    for (std::uint16_t port : TcpPorts(count)) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            ::listen(fd, SOMAXCONN) == 0)
            listeners.push_back(fd);
    }
    return listeners;
}

int Serve(int tcp, int udp, int mute, int out)
{
    const std::vector<int> muteListeners = MuteListeners(mute);
    std::signal(SIGTERM, [](int) { g_stop = true; });
    int argc = 1;
    char name[] = "bench-server";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    CBenchApp app;
    engine::CTcpServer tcpServer(&app, channel::PeerAddress{});
    engine::CUdpServer udpServer(&app, channel::PeerAddress{});
    app.dispatch.AddServer(&tcpServer);
    app.dispatch.AddServer(&udpServer);
    tcpServer.Start(TcpPorts(tcp));
    udpServer.Start(UdpPairs(udp));
    const std::string ready = "ready " + std::to_string(CpuNow()) + " " +
                              std::to_string(app.problems.load()) + "\n";
    (void)!::write(out, ready.data(), ready.size());
    while (!g_stop)
        loop::RunUntil([] { return g_stop.load(); }, std::chrono::hours(1));
    const std::string done =
        "done " + std::to_string(CpuNow()) + " " + std::to_string(PeakRssKb()) + "\n";
    (void)!::write(out, done.data(), done.size());
    return 0;
}

std::string ReadLine(int fd)
{
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

} // namespace

CHosts* g_hosts = nullptr;

int main(int argc, char** argv)
{
    const bool idle = argc > 1 && std::string(argv[1]) == "idle";
    const bool silent = argc > 1 && std::string(argv[1]) == "silent";
    const bool mute = argc > 1 && std::string(argv[1]) == "mute";
    const bool unanswered = silent || mute; // TCP only, and no probe is answered
    const int shift = idle || unanswered ? 1 : 0;
    const int tcp = argc > 1 + shift ? std::atoi(argv[1 + shift]) : 2000;
    const int udp = unanswered ? 0 : argc > 2 + shift ? std::atoi(argv[2 + shift]) : 2000;
    const int firstOption = unanswered ? 3 : 3 + shift;
    channel::ProbeOptions options;
    options.maxSendCount = 5;
    options.timeOut = 200;
    options.timeSendDelay = 1;
    int idleSeconds = 30;
    if (idle) {
        idleSeconds = argc > 4 ? std::atoi(argv[4]) : 30;
    } else {
        options.maxSendCount = argc > firstOption ? std::atoi(argv[firstOption]) : 5;
        options.timeOut = argc > firstOption + 1 ? std::atoi(argv[firstOption + 1]) : 200;
        options.timeSendDelay = argc > firstOption + 2 ? std::atoi(argv[firstOption + 2]) : 1;
    }
    if (::geteuid() != 0) {
        std::printf("skipped: building network namespaces needs root\n");
        return 0;
    }
    RaiseDescriptorLimit();
    CHosts hosts;
    g_hosts = &hosts;
    for (int signal : {SIGINT, SIGTERM}) {
        std::signal(signal, [](int) {
            // Interrupted: the hosts go all the same (the server follows its
            // namespace's end when its sockets fail; it is killed too).
            if (g_hosts)
                g_hosts->~CHosts();
            std::_Exit(2);
        });
    }
    if (!hosts.made) {
        std::printf("could not build the test hosts\n");
        return 1;
    }
    int ends[2];
    if (::pipe(ends) != 0)
        return 1;
    const pid_t server = ::fork();
    if (server == 0) {
        ::close(ends[0]);
        g_hosts = nullptr;
        std::signal(SIGINT, SIG_DFL);
        if (!EnterNamespace(hosts.b))
            _exit(3);
        _exit(Serve(unanswered ? 0 : tcp, udp, mute ? tcp : 0, ends[1]));
    }
    ::close(ends[1]);
    const std::string ready = ReadLine(ends[0]);
    double serverReadyCpu = 0;
    int serverProblems = 0;
    std::sscanf(ready.c_str(), "ready %lf %d", &serverReadyCpu, &serverProblems);

    double seconds = 0, clientCpu = 0, maxGapMs = 0, maxGapEnd = 0;
    int complete = 0, finished = 0, clientProblems = 0, tcpReplies = 0;
    long clientRss = 0;
    if (idle) {
        ::sleep(static_cast<unsigned>(idleSeconds));
    } else {
        if (!EnterNamespace(hosts.a))
            return 1;
        QCoreApplication application(argc, argv);
        CBenchApp app;
        channel::PeerAddress peer;
        channel::ParseAddress(peer, silent ? kSilentAddress : kServerAddress);
        // The GUI thread's pulse: a 10 ms timer and the largest gap between two
        // of its ticks.
        QElapsedTimer sinceTick;
        QTimer pulse;
        pulse.setTimerType(Qt::PreciseTimer);
        // Where the largest gap ends, in seconds from the start: at the start
        // (the ports opening) or at a probe round (every second).
        QElapsedTimer sinceStart;
        QObject::connect(&pulse, &QTimer::timeout, [&] {
            const double gapMs = static_cast<double>(sinceTick.nsecsElapsed()) / 1e6;
            if (gapMs > maxGapMs) {
                maxGapMs = gapMs;
                maxGapEnd = static_cast<double>(sinceStart.nsecsElapsed()) / 1e9;
            }
            sinceTick.restart();
        });
        const double cpuBefore = CpuNow();
        const auto begin = std::chrono::steady_clock::now();
        sinceTick.start();
        sinceStart.start();
        pulse.start(10);
        // As in the program, the clients are started off the GUI thread (by the
        // client-check task).
        std::thread starter([&] {
            if (tcp > 0)
                app.dispatch.StartClient(
                    std::make_shared<engine::CTcpClient>(&app, peer, options), TcpPorts(tcp));
            if (udp > 0)
                app.dispatch.StartClient(
                    std::make_shared<engine::CUdpClient>(&app, peer, options), UdpPairs(udp));
        });
        loop::RunUntil([&] { return app.Finished() == static_cast<std::size_t>(tcp + udp); },
                       std::chrono::seconds(60));
        starter.join();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        pulse.stop();
        {
            // Where the ports that did not finish stand: their last row's code.
            std::map<int, int> unfinished;
            std::lock_guard<std::mutex> lock(app.m_lock);
            for (const auto& [key, row] : app.lastRows) {
                if (app.finished.count(key) == 0)
                    ++unfinished[static_cast<int>(row.protocol * 100 + row.code)];
            }
            for (const auto& [what, count] : unfinished)
                std::printf("unfinished: protocol %d, last code %d: %d\n", what / 100, what % 100,
                            count);
            std::fflush(stdout);
        }
        app.dispatch.StopAllClients();
        clientCpu = CpuNow() - cpuBefore;
        clientRss = PeakRssKb();
        finished = static_cast<int>(app.Finished());
        // Silent ports: complete when every attempt was made and none answered.
        const int expectedReplies = unanswered ? 0 : options.maxSendCount;
        for (const auto& [key, row] : app.lastRows) {
            if (row.finished && row.attempts == options.maxSendCount &&
                static_cast<int>(row.replies) == expectedReplies)
                ++complete;
        }
        clientProblems = app.problems.load();
        for (const auto& [what, count] : app.failures)
            std::printf("client failures: protocol %d code %d error %d: %d\n", what.first / 100,
                        what.first % 100, what.second, count);
        tcpReplies = app.tcpReplies.load();
    }
    ::kill(server, SIGTERM);
    const std::string done = ReadLine(ends[0]);
    double serverCpu = 0;
    long serverRss = 0;
    std::sscanf(done.c_str(), "done %lf %ld", &serverCpu, &serverRss);
    ::waitpid(server, nullptr, 0);

    if (idle) {
        std::printf("idle server, %d TCP ports + %d UDP pairs, %d s: CPU %.3f s = %.2f%% of a "
                    "core (problems at open: %d), peak RSS %ld kB\n",
                    tcp, udp, idleSeconds, serverCpu - serverReadyCpu,
                    100.0 * (serverCpu - serverReadyCpu) / idleSeconds, serverProblems, serverRss);
        return 0;
    }
    const double floor =
        (options.maxSendCount - 1) * options.timeSendDelay +
        (silent ? options.maxSendCount * options.timeOut / 1000.0
                : (udp > 0 ? options.timeOut / 1000.0 : 0));
    const double floorSeconds = mute ? options.maxSendCount * options.timeOut / 1000.0 : floor;
    std::printf("%sTCP ports %d, UDP pairs %d, MaxSendCount %d, TimeOut %d ms, TimeSendDelay %d "
                "s\n",
                silent ? "silent " : mute ? "mute " : "", tcp, udp, options.maxSendCount, options.timeOut,
                options.timeSendDelay);
    std::printf("wall %.2f s, floor %.2f s, x floor %.3f\n", seconds, floorSeconds,
                seconds / floorSeconds);
    std::printf("rows finished %d of %d; at %d/%d: %d; TCP replies %d of %d; problems: client "
                "%d, server %d\n",
                finished, tcp + udp, options.maxSendCount, unanswered ? 0 : options.maxSendCount,
                complete, tcpReplies, unanswered ? 0 : tcp * options.maxSendCount, clientProblems,
                serverProblems);
    std::printf("server: CPU during the check %.2f s, peak RSS %ld kB; client: CPU %.2f s, peak "
                "RSS %ld kB\n",
                serverCpu - serverReadyCpu, serverRss, clientCpu, clientRss);
    std::printf("GUI thread 10 ms timer: largest gap %.1f ms, ending %.2f s after the start\n",
                maxGapMs, maxGapEnd);
    return complete == tcp + udp ? 0 : 1;
}
