// The route tracing engine in the routed test network (diag/support/EchoTestKit.h).
//
// Every trace runs in a child process inside host A with a private /etc: hosts
// names only what a test gives, and the resolver asks A's own loopback, where
// nothing listens. A reverse look-up therefore sees the test's names or fails at
// once, and can never reach a real DNS server (A has no route beyond 198.18/15
// either). The child prints what it observed; the test checks it.

#include "diag/CTraceRoute.h"

#include "diag/support/DiagTestSupport.h"
#include "ferrox/strings/Strings.h"
#include "ferrox/threads/ThreadPool.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netdb.h>
#include <thread>

#include <gtest/gtest.h>

using namespace diag;
using echotest::Addr;
using echotest::Dotted;
using Clock = std::chrono::steady_clock;

namespace {

// ---- the child's side ----

template <class F>
bool PollUntil(F done, int timeoutMs, int stepMs = 5)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return done();
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// hop=step,address,status,name,sent,lost,last,average,maximum,minimum
void PrintHops(CTraceRoute& trace, int target, const char* key = "hop")
{
    for (int i = 0; i < trace.GetRecordCount(target); ++i) {
        const HopRecord* hop = trace.GetRecord(target, i);
        if (!hop)
            continue;
        std::printf("%s=%d,%s,%u,%s,%d,%d,%u,%u,%u,%u\n", key, hop->Step,
                    Dotted(hop->Address).c_str(), hop->Status, as_string(hop->Name).c_str(),
                    hop->Sent, hop->Lost, hop->Last, hop->Average, hop->Maximum, hop->Minimum);
    }
    const RouteState state = trace.GetRouteState(target);
    std::printf("state=%d\nstate_steps=%d\n", state.State, state.Steps);
}

RouteSettings Route(std::uint8_t steps, std::uint32_t timeOut, std::uint32_t interval)
{
    RouteSettings settings;
    settings.Steps = steps;
    settings.TimeOut = timeOut;
    settings.Interval = interval;
    settings.Size = 32;
    return settings;
}

std::string ReverseName(const char* dotted)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = Addr(dotted);
    char name[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, name,
                      sizeof name, nullptr, 0, NI_NAMEREQD) != 0)
        return "-";
    return name;
}

KANALIKO_ECHO_HELPER_MODE(trace_three_hops)
{
    CTraceRoute trace({echotest::kHostB}, Route(30, 500, 300));
    const auto started = Clock::now();
    trace.Start();
    if (!PollUntil([&] { return trace.GetRouteState(0).State == ROUTE_BUILT; }, 10000))
        std::printf("never_built=1\n");
    std::printf("first_pass_ms=%lld\n", MsSince(started));
    PrintHops(trace, 0);

    // R1 gets another name: a second look-up would see it.
    {
        std::ofstream hosts(std::getenv("KANALIKO_HOSTS_FILE"), std::ios::trunc);
        hosts << "127.0.0.1 localhost\n198.18.1.1 r1-second.kanaliko.test\n";
    }
    PollUntil([&] { return trace.GetRecord(0, 2) && trace.GetRecord(0, 2)->Sent >= 3; }, 10000);
    PrintHops(trace, 0, "later");
    std::printf("direct_r1_name=%s\n", ReverseName(echotest::kRouter1).c_str());

    const auto stopping = Clock::now();
    trace.Stop();
    std::printf("stop_ms=%lld\n", MsSince(stopping));
    return 0;
}

KANALIKO_ECHO_HELPER_MODE(trace_blackholed)
{
    CTraceRoute trace({echotest::kBlackholed}, Route(5, 300, 200));
    trace.Start();
    // Every (hop count, state) the list passes through during the first pass.
    int lastCount = -1, lastState = 99;
    PollUntil(
        [&] {
            const RouteState state = trace.GetRouteState(0);
            const int count = trace.GetRecordCount(0);
            if (count != lastCount || state.State != lastState) {
                std::printf("seen=%d:%d\n", count, state.State);
                lastCount = count;
                lastState = state.State;
            }
            return state.State == ROUTE_NOT_BUILT;
        },
        10000, 1);
    trace.Stop();
    PrintHops(trace, 0);
    return 0;
}

KANALIKO_ECHO_HELPER_MODE(trace_lower_steps)
{
    CTraceRoute trace({echotest::kBlackholed}, Route(10, 200, 100));
    trace.Start();
    PollUntil([&] { return trace.GetRecordCount(0) >= 6; }, 10000);
    std::printf("before_change=%d\n", trace.GetRecordCount(0));
    RouteSettings lower = trace.Settings();
    lower.Steps = 3;
    trace.SetSettings(lower);
    int lastCount = -1, lastState = 99, lastSteps = -1;
    PollUntil(
        [&] {
            const RouteState state = trace.GetRouteState(0);
            const int count = trace.GetRecordCount(0);
            if (count != lastCount || state.State != lastState || state.Steps != lastSteps) {
                std::printf("seen=%d:%d:%d\n", count, state.State, state.Steps);
                lastCount = count;
                lastState = state.State;
                lastSteps = state.Steps;
            }
            return count == 3 && state.Steps == 3 && state.State == ROUTE_NOT_BUILT;
        },
        10000, 1);
    // Two more passes at the new limit (each ends at the third step).
    const HopRecord* third = trace.GetRecord(0, 2);
    const int sentAtChange = third ? third->Sent : 0;
    PollUntil(
        [&] {
            const HopRecord* hop = trace.GetRecord(0, 2);
            return hop && hop->Sent >= sentAtChange + 2;
        },
        10000);
    trace.Stop();
    PrintHops(trace, 0);
    return 0;
}

KANALIKO_ECHO_HELPER_MODE(trace_stop)
{
    CTraceRoute trace({echotest::kHostB, echotest::kBlackholed, "198.18.9.8"},
                      Route(30, 500, 60000));
    trace.Start();
    PollUntil(
        [&] {
            return trace.GetRouteState(0).State == ROUTE_BUILT && trace.GetRecordCount(1) >= 4 &&
                   trace.GetRecordCount(2) >= 4;
        },
        10000);
    const auto stopping = Clock::now();
    trace.Stop();
    std::printf("stop_ms=%lld\n", MsSince(stopping));
    int counts[3];
    for (int i = 0; i < 3; ++i)
        counts[i] = trace.GetRecordCount(i);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    bool changed = false;
    for (int i = 0; i < 3; ++i)
        changed = changed || counts[i] != trace.GetRecordCount(i);
    std::printf("changed_after_stop=%d\nbuilt_after_stop=%d\n", changed ? 1 : 0,
                trace.GetRouteState(0).State);
    return 0;
}

KANALIKO_ECHO_HELPER_MODE(trace_sixty_loopback)
{
    std::vector<std::string> targets;
    for (int i = 1; i <= 60; ++i)
        targets.push_back("127.0.0." + std::to_string(i));
    auto pool = GetSystemThreadPool().cast<TThreadPool>();
    const int limitBefore = pool->MaxTotalThreads();
    {
        CTraceRoute trace(targets, Route(5, 500, 1000));
        trace.Start();
        std::printf("limit_while_running=%d\nlimit_before=%d\n", pool->MaxTotalThreads(),
                    limitBefore);
        PollUntil(
            [&] {
                for (int i = 0; i < 60; ++i)
                    if (trace.GetRouteState(i).State != ROUTE_BUILT)
                        return false;
                return true;
            },
            20000);
        trace.Stop();
        int built = 0, wrong = 0;
        for (int i = 0; i < 60; ++i) {
            built += trace.GetRouteState(i).State == ROUTE_BUILT;
            const HopRecord* hop = trace.GetRecord(i, 0);
            if (trace.GetRecordCount(i) != 1 || !hop || hop->Address != trace.GetAddress(i) ||
                hop->Status != 0)
                ++wrong;
        }
        std::printf("built=%d\nwrong=%d\n", built, wrong);
        std::printf("name1=%s\nname2=%s\n", as_string(trace.GetRecord(0, 0)->Name).c_str(),
                    as_string(trace.GetRecord(1, 0)->Name).c_str());
    }
    std::printf("limit_after=%d\n", pool->MaxTotalThreads());
    return 0;
}

// ---- the test's side ----

struct Hop
{
    int step = 0;
    std::string address;
    unsigned status = 0;
    std::string name;
    int sent = 0, lost = 0;
    unsigned last = 0, average = 0, maximum = 0, minimum = 0;
};

std::vector<Hop> Hops(const echotest::ChildResult& child, const std::string& key = "hop")
{
    std::vector<Hop> hops;
    for (const auto& line : child.All(key)) {
        Hop hop;
        char address[32] = {}, name[256] = {};
        if (std::sscanf(line.c_str(), "%d,%31[^,],%u,%255[^,],%d,%d,%u,%u,%u,%u", &hop.step,
                        address, &hop.status, name, &hop.sent, &hop.lost, &hop.last, &hop.average,
                        &hop.maximum, &hop.minimum) == 10) {
            hop.address = address;
            hop.name = name;
        } else if (std::sscanf(line.c_str(), "%d,%31[^,],%u,,%d,%d,%u,%u,%u,%u", &hop.step, address,
                               &hop.status, &hop.sent, &hop.lost, &hop.last, &hop.average,
                               &hop.maximum, &hop.minimum) == 9) {
            hop.address = address; // empty name
        }
        hops.push_back(hop);
    }
    return hops;
}

class TraceRouted : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KANALIKO_SKIP_UNLESS_NAMESPACES();
        network = std::make_unique<echotest::CRoutedNetwork>();
    }

    echotest::ChildResult Run(const std::string& mode)
    {
        return diagtest::RunIsolatedHelper(network->a, mode, "198.18.1.1 r1-first.kanaliko.test\n");
    }

    std::unique_ptr<echotest::CRoutedNetwork> network;
};

} // namespace

TEST_F(TraceRouted, HostThreeHopsAwayIsBuiltAfterTheFirstPassWithRoutersAndNames)
{
    const auto child = Run("trace_three_hops");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    ASSERT_EQ(child.Value("never_built"), "") << child.output;

    const auto hops = Hops(child);
    ASSERT_EQ(hops.size(), 3u) << child.output;
    EXPECT_EQ(hops[0].step, 1);
    EXPECT_EQ(hops[0].address, echotest::kRouter1);
    EXPECT_EQ(hops[0].status, 11013u);
    EXPECT_EQ(hops[0].name, "r1-first.kanaliko.test");
    EXPECT_EQ(hops[1].address, echotest::kRouter2);
    EXPECT_EQ(hops[1].status, 11013u);
    EXPECT_EQ(hops[1].name, "-"); // no name anywhere: looked up, none found
    EXPECT_EQ(hops[2].address, echotest::kHostB);
    EXPECT_EQ(hops[2].status, 0u);
    EXPECT_EQ(hops[2].name, "-");
    for (const Hop& hop : hops) {
        EXPECT_EQ(hop.sent, 1);
        EXPECT_EQ(hop.lost, 0);
        EXPECT_EQ(hop.last, hop.maximum);
        EXPECT_EQ(hop.last, hop.minimum);
        EXPECT_LT(hop.last, 500u);
    }
    EXPECT_EQ(child.All("state").front(), "1");
    EXPECT_EQ(child.All("state_steps").front(), "30");

    // Later passes add up at each step and never look a name up again, though a
    // new look-up would now give another name.
    const auto later = Hops(child, "later");
    ASSERT_EQ(later.size(), 3u) << child.output;
    EXPECT_GE(later[2].sent, 3);
    EXPECT_EQ(later[0].name, "r1-first.kanaliko.test");
    EXPECT_EQ(child.Value("direct_r1_name"), "r1-second.kanaliko.test");
    EXPECT_LE(later[0].lost, 1); // routers may drop an answer now and then
    EXPECT_LT(std::atoi(child.Value("stop_ms").c_str()), 2000);
}

TEST_F(TraceRouted, BlackholedTargetIsNotBuiltAtTheLastStepAndLaterStepsAreLost)
{
    const auto child = Run("trace_blackholed");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    // The state stays "building" until the store of the last step.
    const auto seen = child.All("seen");
    ASSERT_FALSE(seen.empty()) << child.output;
    EXPECT_EQ(seen.back(), "5:-1") << child.output;
    for (std::size_t i = 0; i + 1 < seen.size(); ++i)
        EXPECT_EQ(seen[i].substr(seen[i].find(':')), ":0") << seen[i];

    const auto hops = Hops(child);
    ASSERT_EQ(hops.size(), 5u) << child.output;
    EXPECT_EQ(hops[0].address, echotest::kRouter1);
    EXPECT_EQ(hops[0].status, 11013u);
    EXPECT_EQ(hops[1].address, echotest::kRouter2);
    EXPECT_EQ(hops[1].status, 11013u);
    for (std::size_t i = 2; i < 5; ++i) { // B drops it: nobody answers from here on
        EXPECT_EQ(hops[i].step, static_cast<int>(i + 1));
        EXPECT_EQ(hops[i].address, "0.0.0.0");
        EXPECT_EQ(hops[i].status, 11010u);
        EXPECT_EQ(hops[i].last, 300u);
        EXPECT_EQ(hops[i].minimum, 300u);
        EXPECT_EQ(hops[i].maximum, 0u);
        EXPECT_EQ(hops[i].average, 0u);
        EXPECT_EQ(hops[i].name, "");
        EXPECT_EQ(hops[i].lost, hops[i].sent);
    }
    EXPECT_EQ(child.Value("state"), "-1");
    EXPECT_EQ(child.Value("state_steps"), "5");
}

TEST_F(TraceRouted, LoweringTheStepsShortensTheListAndResetsTheState)
{
    const auto child = Run("trace_lower_steps");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_GE(std::atoi(child.Value("before_change").c_str()), 6);
    const auto seen = child.All("seen");
    ASSERT_FALSE(seen.empty()) << child.output;
    // The list goes straight down to 3 at the next store and stays there; the
    // state for 3 steps starts as "building" and ends "not built".
    bool shortened = false, building3 = false;
    for (const auto& s : seen) {
        int count = 0, state = 0, steps = 0;
        std::sscanf(s.c_str(), "%d:%d:%d", &count, &state, &steps);
        if (count <= 3)
            shortened = true;
        else
            EXPECT_FALSE(shortened) << "grew again: " << s;
        if (steps == 3 && state == 0)
            building3 = true;
    }
    EXPECT_TRUE(shortened) << child.output;
    EXPECT_TRUE(building3) << child.output;
    EXPECT_EQ(seen.back(), "3:-1:3") << child.output;
    EXPECT_EQ(Hops(child).size(), 3u);
}

TEST_F(TraceRouted, StopIsPromptAndNoWorkerRunsAfterIt)
{
    const auto child = Run("trace_stop");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_LT(std::atoi(child.Value("stop_ms").c_str()), 1500) << child.output; // not 60 s
    EXPECT_EQ(child.Value("changed_after_stop"), "0");
    EXPECT_EQ(child.Value("built_after_stop"), "1");
}

TEST_F(TraceRouted, SixtyLoopbackTargetsAreAllTracedBeyondThePoolLimit)
{
    const auto child = Run("trace_sixty_loopback");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    const int before = std::atoi(child.Value("limit_before").c_str());
    EXPECT_EQ(std::atoi(child.Value("limit_while_running").c_str()), before + 60);
    EXPECT_EQ(std::atoi(child.Value("limit_after").c_str()), before);
    EXPECT_EQ(child.Value("built"), "60") << child.output;
    EXPECT_EQ(child.Value("wrong"), "0");
    EXPECT_EQ(child.Value("name1"), "localhost");
    EXPECT_EQ(child.Value("name2"), "-");
}

TEST(TraceTexts, RouteStateTexts)
{
    EXPECT_EQ(RouteStateText(ROUTE_BUILDING), L"Маршрут строится");
    EXPECT_EQ(RouteStateText(ROUTE_BUILT), L"Маршрут построен");
    EXPECT_EQ(RouteStateText(ROUTE_NOT_BUILT), L"Маршрут не построен");
}

TEST(TraceTargets, IndexesAddressesAndFreshState)
{
    CTraceRoute trace({"127.0.0.2", "127.0.0.3", "127.0.0.2"}, Route(30, 500, 5000));
    EXPECT_EQ(trace.IndexOf("127.0.0.2"), 0);
    EXPECT_EQ(trace.IndexOf("127.0.0.3"), 1);
    EXPECT_EQ(trace.IndexOf("10.0.0.1"), 0);
    EXPECT_EQ(trace.GetAddress(2), Addr("127.0.0.2"));
    EXPECT_EQ(trace.GetAddress(3), 0xFFFFFFFFu);
    EXPECT_EQ(trace.GetRecordCount(0), 0);
    EXPECT_EQ(trace.GetRecord(0, 0), nullptr);
    EXPECT_EQ(trace.GetRecordByAddress("127.0.0.3", 0), nullptr);
    const RouteState state = trace.GetRouteState(1);
    EXPECT_EQ(state.State, ROUTE_BUILDING);
    EXPECT_EQ(state.Steps, 0);
}
