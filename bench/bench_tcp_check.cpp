// A TCP check of many ports over loopback: one server listening on N ports and
// one client probing all of them, driven through the event loop exactly as the
// program drives them. Prints the wall time of the whole check against its
// wait bound ((3 x TimeOut x ports) + 1000 x TimeSendDelay) x MaxSendCount ms.
//
//   bench_tcp_check [ports=500] [MaxSendCount=3] [TimeOut=200] [TimeSendDelay=1]

#include "bench/CBenchEngineHost.h"
#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "engine/CEngineDispatch.h"
#include "engine/CTcpClient.h"
#include "engine/CTcpServer.h"
#include "loop/AsyncSelect.h"
#include "loop/EventLoop.h"
#include "loop/Window.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The smallest IApp that drives the engine: its window hands notifications,
// completions and timers to the program's dispatch, and it keeps the last row
// of every port.
class CBenchApp final : public CBenchEngineHost
{
public:
    int AddEvent(int, int code, int, int, const char*, std::uint16_t, std::uint16_t, bool) override
    {
        if (code == channel::EC_INTERNAL_ERROR || code == channel::EC_PORT_BUSY)
            ++problems;
        return events++;
    }
    void UpdateServerRow(int, int, std::uint16_t, int) override {}
    std::uint32_t AddClientRow(const channel::ClientRow& row) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        lastRows[row.port] = row;
        if (row.finished)
            finished.insert(row.port);
        return sequence++;
    }

    std::size_t Finished()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return finished.size();
    }

    std::atomic<int> events{0};
    std::atomic<int> problems{0};
    std::mutex m_lock;
    std::map<std::uint32_t, channel::ClientRow> lastRows;
    std::set<std::uint32_t> finished;
    std::uint32_t sequence = 0;
};

std::vector<std::uint16_t> FreePorts(int count)
{
    std::vector<int> held;
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < count; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        socklen_t length = sizeof(a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
        ports.push_back(ntohs(a.sin_port));
        held.push_back(fd);
    }
    for (int fd : held)
        ::close(fd);
    return ports;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 500;
    channel::ProbeOptions options;
    options.maxSendCount = argc > 2 ? std::atoi(argv[2]) : 3;
    options.timeOut = argc > 3 ? std::atoi(argv[3]) : 200;
    options.timeSendDelay = argc > 4 ? std::atoi(argv[4]) : 1;

    // Three descriptors per port (listening, client, accepted).
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    QCoreApplication application(argc, argv);
    CBenchApp app;
    std::vector<std::uint16_t> ports = FreePorts(count);
    channel::PeerAddress loopback;
    channel::ParseAddress(loopback, "127.0.0.1");
    engine::CTcpServer server(&app, channel::PeerAddress{});
    app.dispatch.AddServer(&server);
    server.Start(ports);

    auto begin = std::chrono::steady_clock::now();
    app.dispatch.StartClient(std::make_shared<engine::CTcpClient>(&app, loopback, options), ports);
    loop::RunUntil([&] { return app.Finished() == static_cast<std::size_t>(count); },
                   std::chrono::minutes(10));
    app.dispatch.StopAllClients();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    int complete = 0;
    for (const auto& [port, row] : app.lastRows) {
        if (row.finished && row.attempts == options.maxSendCount && row.replies == row.attempts)
            ++complete;
    }
    const double bound = ((3.0 * options.timeOut * count) + 1000.0 * options.timeSendDelay) *
                         options.maxSendCount / 1000.0;
    std::printf("ports %d, MaxSendCount %d, TimeOut %d ms, TimeSendDelay %d s\n", count,
                options.maxSendCount, options.timeOut, options.timeSendDelay);
    std::printf("ports finished with replies = attempts: %d of %d (problems reported: %d)\n",
                complete, count, app.problems.load());
    std::printf("wall time %.2f s; wait bound %.1f s (%.1f%% of it)\n", seconds, bound,
                100.0 * seconds / bound);
    return complete == count ? 0 : 1;
}
