#pragma once

// What the echo layer's and the diagnostics engines' tests share (header-only, so
// the platform tests can use it too): the routed test network, helper modes of a
// test program that run in a child process (in a namespace, with dropped rights
// or a private /etc), and small address helpers.
//
// The routed network (every address from 198.18.0.0/15, nothing else reachable):
//
//     A 198.18.1.2 --- 198.18.1.1 R1 198.18.2.1 --- 198.18.2.2 R2 198.18.3.1 --- 198.18.3.2 B
//                                                                           (+ 198.18.3.3 ...)
//   - A routes 198.18.0.0/15 via R1 and has no default route, so nothing but the
//     test network can be reached from it (a name look-up's DNS query to any
//     other address fails at once with "network unreachable").
//   - R1 and R2 forward. R1 knows no route to 198.18.77.0/24: it answers "network
//     unreachable" for it. B forwards too and blackholes 198.18.9.0/24, which R1
//     and R2 send its way: addresses there never answer, two routers away.
//   - ICMP rate limiting is switched off on the routers so that counts are
//     predictable; the tests still accept a few missing router answers.
//   - R1-R2 may get a smaller MTU (fragmentation-needed tests).

#include "support/NetNamespaces.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace echotest {

inline std::uint32_t Addr(const char* dotted)
{
    return ::inet_addr(dotted);
}

inline std::string Dotted(std::uint32_t address)
{
    in_addr a{address};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

inline constexpr const char* kHostA = "198.18.1.2";
inline constexpr const char* kRouter1 = "198.18.1.1"; // R1 as A sees it
inline constexpr const char* kRouter2 = "198.18.2.2"; // R2 as A's packets reach it
inline constexpr const char* kHostB = "198.18.3.2";
inline constexpr const char* kBlackholed = "198.18.9.9";
inline constexpr const char* kNoRoute = "198.18.77.1";

// B's extra address number i (0-based): 198.18.3.(3 + i).
inline std::string ExtraAddressOfB(int i)
{
    return "198.18.3." + std::to_string(3 + i);
}

class CRoutedNetwork
{
public:
    // extraAddressesOnB: further addresses on B's link (198.18.3.3 onwards).
    explicit CRoutedNetwork(int extraAddressesOnB = 0)
    {
        a = net.Add("a");
        r1 = net.Add("r1");
        r2 = net.Add("r2");
        b = net.Add("b");
        net.Link(a, "198.18.1.2/24", r1, "198.18.1.1/24");
        m_r1r2 = net.Link(r1, "198.18.2.1/24", r2, "198.18.2.2/24");
        m_r2b = net.Link(r2, "198.18.3.1/24", b, "198.18.3.2/24");
        for (int i = 0; i < extraAddressesOnB; ++i)
            Must(net.Exec(b, "ip addr add " + ExtraAddressOfB(i) + "/24 dev " + m_r2b));
        net.Route(a, "198.18.0.0/15", "198.18.1.1");
        net.Route(r1, "198.18.3.0/24", "198.18.2.2");
        net.Route(r1, "198.18.9.0/24", "198.18.2.2");
        net.Route(r2, "198.18.1.0/24", "198.18.2.1");
        net.Route(r2, "198.18.9.0/24", "198.18.3.2");
        net.Route(b, "198.18.0.0/15", "198.18.3.1");
        net.Blackhole(b, "198.18.9.0/24");
        for (const auto& ns : {r1, r2, b}) {
            net.Forwarding(ns);
            Must(net.Exec(ns, "sysctl -q -w net.ipv4.icmp_ratelimit=0"));
        }
    }

    // Lets every group of the namespace's processes open ping sockets (the
    // setting is per namespace), or restores Debian's "1 0" (nobody may).
    void AllowPingSockets(const std::string& ns, bool allow)
    {
        Must(net.Exec(ns, std::string("sysctl -q -w net.ipv4.ping_group_range=\"") +
                              (allow ? "0 2147483647" : "1 0") + "\""));
    }

    // Lowers the MTU of the R1-R2 link on both ends.
    void LimitMiddleMtu(int mtu)
    {
        Must(net.Exec(r1, "ip link set " + m_r1r2 + " mtu " + std::to_string(mtu)));
        Must(net.Exec(r2, "ip link set " + m_r1r2 + " mtu " + std::to_string(mtu)));
    }

    // Makes addresses of 198.18.9.0/24 answer from B (takes the blackhole away)
    // or blackholes them again.
    void Blackhole(const std::string& cidr, bool on)
    {
        Must(net.Exec(b, std::string("ip route ") + (on ? "add" : "del") + " blackhole " + cidr));
    }

    testsupport::TestNamespaces net;
    std::string a, r1, r2, b;

private:
    static void Must(int status)
    {
        if (status != 0)
            throw std::runtime_error("test network set-up failed");
    }

    std::string m_r1r2, m_r2b;
};

// ---------------------------------------------------------------------------
// Helper modes: a test starts this same program again in a child process with
// KANALIKO_ECHO_HELPER=<name>; the child runs that helper instead of the tests
// and prints what it saw as "key=value" lines, which the test then checks.

using HelperFunction = std::function<int()>;

inline std::map<std::string, HelperFunction>& Helpers()
{
    static std::map<std::string, HelperFunction> helpers;
    return helpers;
}

class CHelperEnvironment final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        const char* mode = std::getenv("KANALIKO_ECHO_HELPER");
        if (!mode)
            return;
        auto it = Helpers().find(mode);
        int code = 97;
        if (it == Helpers().end()) {
            std::printf("unknown helper %s\n", mode);
        } else {
            code = it->second();
            std::printf("helper-finished=%s\n", mode);
        }
        std::fflush(stdout);
        std::exit(code);
    }
};

inline const bool g_helperEnvironment = [] {
    ::testing::AddGlobalTestEnvironment(new CHelperEnvironment);
    return true;
}();

// Registers a helper at static-initialisation time:
//   KANALIKO_ECHO_HELPER_MODE(name) { ...; return 0; }
#define KANALIKO_ECHO_HELPER_MODE(name)                                                            \
    static int EchoHelper_##name();                                                                \
    [[maybe_unused]] static const bool g_echoHelperRegistered_##name = [] {                        \
        ::echotest::Helpers()[#name] = &EchoHelper_##name;                                         \
        return true;                                                                               \
    }();                                                                                           \
    static int EchoHelper_##name()

struct ChildResult
{
    int exitCode = -1; // the shell's $?: 128 + signal when the child was killed
    std::string output;
    // "key=value" lines in order (a key may repeat).
    std::vector<std::pair<std::string, std::string>> values;

    std::string Value(const std::string& key) const
    {
        for (const auto& [k, v] : values)
            if (k == key)
                return v;
        return {};
    }
    std::vector<std::string> All(const std::string& key) const
    {
        std::vector<std::string> found;
        for (const auto& [k, v] : values)
            if (k == key)
                found.push_back(v);
        return found;
    }
};

inline std::string SelfExecutable()
{
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// Runs `<prefix> env KANALIKO_ECHO_HELPER=mode <env> <this program>` through the
// shell and collects its output. prefix may be empty or a command that execs its
// arguments (ip netns exec ..., setpriv ...).
inline ChildResult RunHelper(const std::string& prefix, const std::string& mode,
                             const std::vector<std::pair<std::string, std::string>>& env = {})
{
    std::string command = prefix + " env KANALIKO_ECHO_HELPER=" + mode;
    for (const auto& [key, value] : env)
        command += " " + key + "='" + value + "'";
    command += " " + SelfExecutable() + " --gtest_filter='*' 2>&1; echo \"@exit=$?\"";
    ChildResult result;
    result.output = testsupport::CommandOutput(command);
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos || equals == 0)
            continue;
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (key == "@exit")
            result.exitCode = std::atoi(value.c_str());
        else
            result.values.emplace_back(std::move(key), std::move(value));
    }
    return result;
}

// Drops every right: user and group nobody (65534), no supplementary groups, no
// capabilities (setpriv from util-linux).
inline std::string UnprivilegedPrefix(const std::string& ns)
{
    return "ip netns exec " + ns +
           " setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all "
           "--bounding-set=-all";
}

} // namespace echotest
