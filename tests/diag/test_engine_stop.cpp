// Stopping and replacing the echo and route engines in the routed test network
// (diag/support/EchoTestKit.h): Stop returns at once even while a worker is
// inside a long echo call or a slow reverse look-up, nothing changes after it,
// and a stopped engine handed to CEngineRetirement ends on a pool worker while
// the GUI thread goes on.
//
// Stop used to wait for the workers on the GUI thread: the echo engine up to
// its time-out, the route engine without limit (reverse look-ups included).

#include "diag/CEngineRetirement.h"
#include "diag/CPing.h"
#include "diag/CTraceRoute.h"

#include "channel/AppMessages.h"
#include "diag/support/DiagTestSupport.h"
#include "ferrox/strings/Strings.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <netinet/in.h>
#include <cstdio>
#include <memory>

#include <gtest/gtest.h>

using namespace diag;
using diagtest::CMessageLog;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// The longest time the GUI thread's event loop went without running a 5 ms
// timer while it lives: how long something held the loop up.
class CLoopProbe
{
public:
    CLoopProbe()
    {
        m_last = Clock::now();
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_timer.start();
    }
    // Counts the gap up to now as well (a call that has just blocked).
    long long LongestGapMs()
    {
        m_longest = std::max(m_longest, Clock::now() - m_last);
        return std::chrono::duration_cast<milliseconds>(m_longest).count();
    }

private:
    QTimer m_timer;
    Clock::time_point m_last;
    Clock::duration m_longest{};
};

RouteSettings Route(std::uint8_t steps, std::uint32_t timeOut, std::uint32_t interval,
                    bool resolveNames = true)
{
    RouteSettings settings;
    settings.Steps = steps;
    settings.TimeOut = timeOut;
    settings.Interval = interval;
    settings.ResolveNames = resolveNames;
    return settings;
}

// ---- the children's side (in host A, private /etc) ----

// A reverse look-up that blocks: the name server takes the query and never
// answers (resolver time-out 3 s). Stop during it, then retire the engine.
KANALIKO_ECHO_HELPER_MODE(trace_stop_during_lookup)
{
    std::unique_ptr<QCoreApplication> application;
    static int argc = 1;
    static char name[] = "diag-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        application = std::make_unique<QCoreApplication>(argc, argv);

    diagtest::CSilentNameServer nameServer;
    std::printf("name_server=%d\n", nameServer.Listening() ? 1 : 0);
    CMessageLog log;
    auto trace = std::make_unique<CTraceRoute>(std::vector<std::string>{echotest::kHostB},
                                               Route(30, 500, 5000));
    trace->SetRecordsWindow(log.Handle());
    trace->SetStatisticsWindow(log.Handle());
    trace->Start();
    // R1 answers step 1; its name is being looked up once the query arrives.
    std::printf("lookup_started=%d\n", nameServer.QueryArrived(10000) ? 1 : 0);

    CLoopProbe probe;
    const auto stopping = Clock::now();
    trace->Stop();
    std::printf("stop_ms=%lld\n", MsSince(stopping));
    std::printf("hops_at_stop=%d\n", trace->GetRecordCount(0));
    const std::size_t messagesAtStop = log.messages.size();

    CEngineRetirement retirement;
    const auto retiring = Clock::now();
    retirement.Retire(std::move(trace));
    std::printf("retire_call_ms=%lld\n", MsSince(retiring));
    const bool gone =
        diagtest::RunUntil([&] { return retirement.Pending() == 0; }, milliseconds(15000));
    std::printf("retired=%d\nretire_ms=%lld\n", gone ? 1 : 0, MsSince(retiring));
    diagtest::RunUntil([] { return false; }, milliseconds(50)); // anything posted late
    std::printf("messages_after_stop=%zu\n", log.messages.size() - messagesAtStop);
    std::printf("longest_gap_ms=%lld\n", probe.LongestGapMs());
    return 0;
}

// --no-dns: no look-up is made; the answers' microseconds and send times are kept.
KANALIKO_ECHO_HELPER_MODE(trace_without_names)
{
    diagtest::CSilentNameServer nameServer; // a look-up would show here
    CTraceRoute trace({echotest::kHostB}, Route(30, 500, 300, false));
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr)) * 1000000;
    trace.Start();
    const auto deadline = Clock::now() + milliseconds(10000);
    while (trace.GetRouteState(0).State != ROUTE_BUILT && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    trace.Stop();
    std::printf("state=%d\nquery_seen=%d\n", trace.GetRouteState(0).State,
                nameServer.QueryArrived(0) ? 1 : 0);
    for (int i = 0; i < trace.GetRecordCount(0); ++i) {
        const HopRecord hop = *trace.GetRecord(0, i);
        std::printf("hop=%d,%s,[%s],%u,%u,%d\n", hop.Step, echotest::Dotted(hop.Address).c_str(),
                    as_string(hop.Name).c_str(), hop.Last, hop.LastMicroseconds,
                    hop.SentTimeMicroseconds >= before ? 1 : 0);
    }
    return 0;
}

// ---- the tests' side ----

class EngineStop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KANALIKO_SKIP_UNLESS_NAMESPACES();
        network = std::make_unique<echotest::CRoutedNetwork>();
    }

    std::unique_ptr<echotest::CRoutedNetwork> network;
};

} // namespace

// A host that takes echo requests and never answers them: the echo call to it
// lasts its whole time-out, and a raw socket there tells when a request came.
//
//   A 198.18.61.1 --- 198.18.61.2 Q (icmp_echo_ignore_all)
class CQuietHost
{
public:
    CQuietHost()
    {
        a = net.Add("a");
        q = net.Add("q");
        net.Link(a, "198.18.61.1/24", q, "198.18.61.2/24");
        if (net.Exec(q, "sysctl -q -w net.ipv4.icmp_echo_ignore_all=1") != 0)
            throw std::runtime_error("test network set-up failed");
        testsupport::ScopedNetns in(q);
        m_listener = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    }
    ~CQuietHost()
    {
        if (m_listener >= 0)
            ::close(m_listener);
    }
    // Waits at most ms for an echo request to reach the host.
    bool RequestArrived(int ms)
    {
        const auto deadline = Clock::now() + milliseconds(ms);
        while (m_listener >= 0 && Clock::now() < deadline) {
            pollfd wait{m_listener, POLLIN, 0};
            if (::poll(&wait, 1, 50) != 1)
                continue;
            unsigned char packet[1500];
            const ssize_t n = ::recv(m_listener, packet, sizeof packet, 0);
            const std::size_t header = n > 0 ? static_cast<std::size_t>(packet[0] & 0x0F) * 4 : 0;
            if (n > 0 && header < static_cast<std::size_t>(n) && packet[header] == 8)
                return true; // type 8: echo request
        }
        return false;
    }

    testsupport::TestNamespaces net;
    std::string a, q;

private:
    int m_listener = -1;
};

TEST(EngineStopEcho, StopDuringALongCallReturnsAtOnceAndTheCallsAnswerIsDropped)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    CQuietHost host;
    EchoSettings settings;
    settings.TimeOut = 3000; // the call lasts this long: nobody answers
    settings.Interval = 200;
    std::unique_ptr<CPing> ping;
    {
        testsupport::ScopedNetns in(host.a);
        ping = std::make_unique<CPing>(true, std::vector<std::string>{"198.18.61.2"}, settings);
    }
    CMessageLog log;
    ping->SetStatisticsWindow(log.Handle());
    ping->SetRecordsWindow(log.Handle());
    ping->Start();
    // The request is on the wire: the worker is inside its call.
    ASSERT_TRUE(host.RequestArrived(5000));

    CLoopProbe probe;
    const auto stopping = Clock::now();
    ping->Stop();
    EXPECT_LT(MsSince(stopping), 100); // not the 3 s time-out
    EXPECT_FALSE(ping->IsRunning());
    // A second Stop (the screens stop again as they retire an engine) used to
    // wait for the worker still inside its call.
    const auto again = Clock::now();
    ping->Stop();
    EXPECT_LT(MsSince(again), 100);
    const std::size_t messagesAtStop = log.messages.size();

    CEngineRetirement retirement;
    const auto retiring = Clock::now();
    retirement.Retire(std::move(ping));
    EXPECT_LT(MsSince(retiring), 100);
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return retirement.Pending() == 0; }, milliseconds(10000)));
    // The engine really waited for the call (so the loop ran meanwhile) ...
    EXPECT_GE(MsSince(retiring), 1000);
    diagtest::RunUntil([] { return false; }, milliseconds(50));
    // ... and the call's end, which came after the stop, reached nobody.
    EXPECT_EQ(messagesAtStop, 0u);
    EXPECT_EQ(log.messages.size(), 0u);
    EXPECT_LT(probe.LongestGapMs(), 100);
}

TEST_F(EngineStop, RouteStopDuringASlowReverseLookUpReturnsAtOnceAndNothingFollows)
{
    const auto child = diagtest::RunIsolatedHelper(network->a, "trace_stop_during_lookup", "", {},
                                                   "timeout:3 attempts:1");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    ASSERT_EQ(child.Value("name_server"), "1") << child.output;
    ASSERT_EQ(child.Value("lookup_started"), "1") << child.output;
    EXPECT_LT(std::atoi(child.Value("stop_ms").c_str()), 100) << child.output;
    EXPECT_LT(std::atoi(child.Value("retire_call_ms").c_str()), 100) << child.output;
    // The first hop waited for its name: nothing was stored before the stop.
    EXPECT_EQ(child.Value("hops_at_stop"), "0");
    EXPECT_EQ(child.Value("retired"), "1") << child.output;
    // The look-up blocked (about 3 s) on the pool, not on the loop.
    EXPECT_GE(std::atoi(child.Value("retire_ms").c_str()), 1500) << child.output;
    EXPECT_LT(std::atoi(child.Value("longest_gap_ms").c_str()), 100) << child.output;
    EXPECT_EQ(child.Value("messages_after_stop"), "0") << child.output;
}

TEST_F(EngineStop, RouteWithoutNamesMakesNoLookUpAndKeepsMicroseconds)
{
    const auto child = diagtest::RunIsolatedHelper(network->a, "trace_without_names", "");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.Value("state"), "1") << child.output;
    EXPECT_EQ(child.Value("query_seen"), "0") << child.output;
    const auto hops = child.All("hop");
    ASSERT_EQ(hops.size(), 3u) << child.output;
    const char* routers[] = {echotest::kRouter1, echotest::kRouter2, echotest::kHostB};
    for (std::size_t i = 0; i < 3; ++i) {
        int step = 0, sentAfter = 0;
        unsigned last = 0, lastUs = 0;
        char address[32] = {};
        ASSERT_EQ(std::sscanf(hops[i].c_str(), "%d,%31[^,],[],%u,%u,%d", &step, address, &last,
                              &lastUs, &sentAfter),
                  5)
            << hops[i]; // the name stays empty
        EXPECT_EQ(step, static_cast<int>(i + 1));
        EXPECT_STREQ(address, routers[i]);
        EXPECT_GT(lastUs, 0u);
        EXPECT_EQ(lastUs / 1000, last);
        EXPECT_EQ(sentAfter, 1);
    }
}

TEST(EngineRetirement, AnEngineThatNeverRanGoesAtOnceAndTheListEmpties)
{
    CEngineRetirement retirement;
    retirement.Retire(std::make_unique<CPing>(true, std::vector<std::string>{"127.0.0.1"},
                                              EchoSettings{}));
    retirement.Retire(std::unique_ptr<CTraceRoute>()); // nothing to take
    EXPECT_TRUE(retirement.WaitForAll(5000));
    EXPECT_EQ(retirement.Pending(), 0);
}
