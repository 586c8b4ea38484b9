// Both engines in a process without any right to send ICMP: user nobody, no
// capabilities, and ping sockets refused (Debian's ping_group_range "1 0"). Each
// request must be reported as the failure it is, and nothing may crash.

#include "diag/CPing.h"
#include "diag/CTraceRoute.h"

#include "diag/support/DiagTestSupport.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

#include <gtest/gtest.h>

using namespace diag;

namespace {

KANALIKO_ECHO_HELPER_MODE(engines_without_rights)
{
    EchoSettings echo;
    echo.Interval = 200;
    echo.TimeOut = 200;
    echo.Ttl = 64;
    echo.RequestLimit = 3;
    {
        CPing ping(true, {echotest::kHostB, "127.0.0.1"}, echo);
        ping.Start();
        // Three requests each (every one fails at once), then the workers end.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!ping.RequestsDone() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::printf("ping_done=%d\n", ping.RequestsDone() ? 1 : 0);
        ping.Stop();
        for (int target = 0; target < 2; ++target) {
            const EchoStatistics s = ping.GetStatistics(target);
            std::set<unsigned> statuses;
            for (int i = 0; i < ping.GetRecordCount(target); ++i)
                statuses.insert(ping.GetRecord(target, i)->Status);
            std::printf("ping_sent=%u\nping_received=%u\nping_lost=%u\nping_records=%d\n", s.Sent,
                        s.Received, s.Lost, ping.GetRecordCount(target));
            for (unsigned status : statuses)
                std::printf("ping_status=%u\n", status);
        }
    }
    RouteSettings route;
    route.Steps = 3;
    route.TimeOut = 200;
    route.Interval = 200;
    {
        CTraceRoute trace({echotest::kHostB}, route);
        trace.Start();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (trace.GetRouteState(0).State == ROUTE_BUILDING &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        trace.Stop();
        std::printf("trace_state=%d\ntrace_hops=%d\n", trace.GetRouteState(0).State,
                    trace.GetRecordCount(0));
        for (int i = 0; i < trace.GetRecordCount(0); ++i)
            std::printf("trace_status=%u\ntrace_lost=%d\n", trace.GetRecord(0, i)->Status,
                        trace.GetRecord(0, i)->Lost);
    }
    return 0;
}

} // namespace

TEST(DiagWithoutRights, EveryRequestIsReportedAsAFailureAndNothingCrashes)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    echotest::CRoutedNetwork network;
    network.AllowPingSockets(network.a, false);
    const auto child =
        echotest::RunHelper(echotest::UnprivilegedPrefix(network.a), "engines_without_rights");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    ASSERT_EQ(child.Value("helper-finished"), "engines_without_rights") << child.output;

    EXPECT_EQ(child.Value("ping_done"), "1") << child.output;
    const auto sent = child.All("ping_sent");
    const auto lost = child.All("ping_lost");
    const auto records = child.All("ping_records");
    ASSERT_EQ(sent.size(), 2u) << child.output;
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(sent[i], "3");
        EXPECT_EQ(lost[i], sent[i]);
        EXPECT_EQ(records[i], sent[i]);
    }
    EXPECT_EQ(child.All("ping_received"), (std::vector<std::string>{"0", "0"}));
    EXPECT_EQ(child.All("ping_status"), (std::vector<std::string>{"11050", "11050"}));

    EXPECT_EQ(child.Value("trace_state"), "-1");
    EXPECT_EQ(child.Value("trace_hops"), "3");
    EXPECT_EQ(child.All("trace_status"), (std::vector<std::string>(3, "11050")));
    for (const auto& l : child.All("trace_lost"))
        EXPECT_GE(std::atoi(l.c_str()), 1);
}
