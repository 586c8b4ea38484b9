// Round-trip times of the echo layer against Debian's ping on the same paths in
// the same run, and the time of a first complete pass of a three-hop trace.
//
// Needs root (network namespaces, raw sockets) and iputils-ping (benchmark only:
// apt-get install -y --no-install-recommends iputils-ping). Run:
//   <build>/bench/bench_echo
// The program builds its own routed network of namespaces,
//   A 198.18.1.2 - R1 - R2 - B 198.18.3.2,
// runs itself again inside host A (so every socket, ping and name look-up stays
// inside the test network; A has no route beyond 198.18.0.0/15) and removes the
// network afterwards.
//
// Counters: median_us is the median time of one IcmpSendEcho call as the caller
// sees it, layer_ms the median round-trip time the layer reports (whole ms, as
// IP Helper does), ping_median_us the median "time=" of ping on the same path,
// difference_us = median_us - ping_median_us.

#include "diag/CTraceRoute.h"
#include "platform/IcmpEcho.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kFarHost = "198.18.3.2";

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Output(const std::string& command)
{
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer{};
        std::size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            out.append(buffer.data(), n);
        ::pclose(pipe);
    }
    return out;
}

// The median of ping's per-reply "time=" values, in microseconds (0 when ping is
// missing or nothing answered).
double PingMedianMicroseconds(const char* target, int count)
{
    const std::string out =
        Output("ping -n -c " + std::to_string(count) + " -i 0.01 -s 32 " + target + " 2>/dev/null");
    std::vector<double> times;
    for (std::size_t at = out.find("time="); at != std::string::npos;
         at = out.find("time=", at + 5))
        times.push_back(std::atof(out.c_str() + at + 5) * 1000.0);
    return Median(times);
}

void EchoRoundTrip(benchmark::State& state, const char* target)
{
    platform::HANDLE handle = platform::IcmpCreateFile();
    if (handle == platform::INVALID_HANDLE_VALUE) {
        state.SkipWithError("no echo handle (needs root or CAP_NET_RAW)");
        return;
    }
    std::vector<std::uint8_t> request(32, 0x5A), reply(request.size() + 28);
    platform::IP_OPTION_INFORMATION options;
    options.Ttl = 64;
    const platform::IPAddr destination = ::inet_addr(target);
    std::vector<double> calls, reported;
    int lost = 0;
    for (auto _ : state) {
        const auto started = Clock::now();
        const auto count = platform::IcmpSendEcho(
            handle, destination, request.data(), static_cast<platform::WORD>(request.size()),
            &options, reply.data(), static_cast<platform::DWORD>(reply.size()), 1000);
        const auto took = Clock::now() - started;
        if (count == 1) {
            calls.push_back(std::chrono::duration<double, std::micro>(took).count());
            reported.push_back(
                reinterpret_cast<const platform::ICMP_ECHO_REPLY*>(reply.data())->RoundTripTime);
        } else {
            ++lost;
        }
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // as ping -i 0.01
        state.ResumeTiming();
    }
    platform::IcmpCloseHandle(handle);
    const double ours = Median(calls);
    const double ping = PingMedianMicroseconds(target, static_cast<int>(state.iterations()));
    state.counters["median_us"] = ours;
    state.counters["layer_ms"] = Median(reported);
    state.counters["ping_median_us"] = ping;
    state.counters["difference_us"] = ours - ping;
    state.counters["lost"] = lost;
}

void BM_EchoLoopback(benchmark::State& state)
{
    EchoRoundTrip(state, "127.0.0.1");
}
BENCHMARK(BM_EchoLoopback)->Iterations(200)->Unit(benchmark::kMicrosecond);

void BM_EchoFarHostTwoRouters(benchmark::State& state)
{
    EchoRoundTrip(state, kFarHost);
}
BENCHMARK(BM_EchoFarHostTwoRouters)->Iterations(200)->Unit(benchmark::kMicrosecond);

// From start to the route's state "built" (three steps, two 50 ms pauses, one
// name look-up per hop) with the default settings of the route panes.
void BM_TraceFirstPassThreeHops(benchmark::State& state)
{
    diag::RouteSettings settings; // 30 steps, 500 ms, interval 5000, 32 bytes
    settings.Interval = 60000;
    std::vector<double> passes;
    for (auto _ : state) {
        diag::CTraceRoute trace({kFarHost}, settings);
        const auto started = Clock::now();
        trace.Start();
        while (trace.GetRouteState(0).State != diag::ROUTE_BUILT &&
               Clock::now() - started < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        passes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        state.PauseTiming();
        trace.Stop();
        state.ResumeTiming();
    }
    state.counters["first_pass_ms"] = Median(passes);
}
BENCHMARK(BM_TraceFirstPassThreeHops)->Iterations(5)->Unit(benchmark::kMillisecond);

// ---- the test network ----

std::string g_prefix;

int Run(const std::string& command)
{
    return std::system(command.c_str());
}

bool BuildNetwork()
{
    g_prefix = "knb" + std::to_string(::getpid()) + "_";
    const std::string a = g_prefix + "a", r1 = g_prefix + "r1", r2 = g_prefix + "r2",
                      b = g_prefix + "b";
    const std::vector<std::string> commands = {
        "ip netns add " + a,
        "ip netns add " + r1,
        "ip netns add " + r2,
        "ip netns add " + b,
        "ip link add kb1 netns " + a + " type veth peer name kb1 netns " + r1,
        "ip link add kb2 netns " + r1 + " type veth peer name kb2 netns " + r2,
        "ip link add kb3 netns " + r2 + " type veth peer name kb3 netns " + b,
        "ip -n " + a + " addr add 198.18.1.2/24 dev kb1",
        "ip -n " + r1 + " addr add 198.18.1.1/24 dev kb1",
        "ip -n " + r1 + " addr add 198.18.2.1/24 dev kb2",
        "ip -n " + r2 + " addr add 198.18.2.2/24 dev kb2",
        "ip -n " + r2 + " addr add 198.18.3.1/24 dev kb3",
        "ip -n " + b + " addr add 198.18.3.2/24 dev kb3",
        "ip -n " + a + " link set lo up",
        "ip -n " + a + " link set kb1 up",
        "ip -n " + r1 + " link set lo up",
        "ip -n " + r1 + " link set kb1 up",
        "ip -n " + r1 + " link set kb2 up",
        "ip -n " + r2 + " link set lo up",
        "ip -n " + r2 + " link set kb2 up",
        "ip -n " + r2 + " link set kb3 up",
        "ip -n " + b + " link set lo up",
        "ip -n " + b + " link set kb3 up",
        "ip -n " + a + " route add 198.18.0.0/15 via 198.18.1.1",
        "ip -n " + r1 + " route add 198.18.3.0/24 via 198.18.2.2",
        "ip -n " + r2 + " route add 198.18.1.0/24 via 198.18.2.1",
        "ip -n " + b + " route add 198.18.0.0/15 via 198.18.3.1",
        "ip netns exec " + r1 + " sysctl -q -w net.ipv4.ip_forward=1",
        "ip netns exec " + r2 + " sysctl -q -w net.ipv4.ip_forward=1",
        "ip netns exec " + r1 + " sysctl -q -w net.ipv4.icmp_ratelimit=0",
        "ip netns exec " + r2 + " sysctl -q -w net.ipv4.icmp_ratelimit=0",
    };
    for (const auto& command : commands)
        if (Run(command + " >/dev/null 2>&1") != 0) {
            std::fprintf(stderr, "set-up failed: %s\n", command.c_str());
            return false;
        }
    return true;
}

void RemoveNetwork()
{
    for (const char* name : {"a", "r1", "r2", "b"})
        Run("ip netns del " + g_prefix + name + " >/dev/null 2>&1");
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("KANALIKO_BENCH_IN_HOST_A")) {
        if (::geteuid() != 0) {
            std::fprintf(stderr, "bench_echo needs root (network namespaces, raw sockets)\n");
            return 1;
        }
        if (Run("command -v ping >/dev/null") != 0)
            std::fprintf(stderr, "iputils-ping is missing: ping_median_us will read 0\n");
        const bool built = BuildNetwork();
        int status = 1;
        if (built) {
            char self[4096] = {};
            if (::readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
                std::string command =
                    "ip netns exec " + g_prefix + "a env KANALIKO_BENCH_IN_HOST_A=1 " + self;
                for (int i = 1; i < argc; ++i)
                    command += std::string(" '") + argv[i] + "'";
                status = Run(command);
            }
        }
        RemoveNetwork();
        return status == 0 ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
