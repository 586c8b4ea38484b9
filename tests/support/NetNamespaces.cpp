#include "support/NetNamespaces.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

bool IsRoot()
{
    return geteuid() == 0;
}

bool HasCapNetRaw()
{
    // The most direct question: may this process open a raw socket?
    int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool CanMakeNamespaces()
{
    static const bool can = [] {
        if (!IsRoot())
            return false;
        std::string name = "knprobe" + std::to_string(getpid());
        bool ok = RunCommand("ip netns add " + name + " 2>/dev/null") == 0;
        if (ok)
            RunCommand("ip netns del " + name + " 2>/dev/null");
        return ok;
    }();
    return can;
}

int RunCommand(const std::string& command)
{
    int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string CommandOutput(const std::string& command)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.append(buffer.data(), n);
    ::pclose(pipe);
    return out;
}

TestNamespaces::TestNamespaces()
{
    static std::atomic<int> counter{0};
    m_prefix = "kn" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_";
}

TestNamespaces::~TestNamespaces()
{
    for (auto it = m_namespaces.rbegin(); it != m_namespaces.rend(); ++it)
        RunCommand("ip netns del " + *it + " 2>/dev/null");
    for (const auto& folder : m_etcFolders)
        RunCommand("rm -rf '" + folder + "'");
}

void TestNamespaces::IsolateResolver(const std::string& ns)
{
    const std::string folder = "/etc/netns/" + ns;
    Must("mkdir -p " + folder);
    m_etcFolders.push_back(folder);
    Must("printf 'nameserver 127.0.0.1\\noptions timeout:1 attempts:1\\n' > " + folder +
         "/resolv.conf");
    Must("printf '127.0.0.1 localhost\\n' > " + folder + "/hosts");
}

void TestNamespaces::Must(const std::string& command)
{
    if (RunCommand(command) != 0)
        throw std::runtime_error("test network set-up failed: " + command);
}

std::string TestNamespaces::Add(const std::string& shortName)
{
    std::string name = m_prefix + shortName;
    Must("ip netns add " + name);
    m_namespaces.push_back(name);
    Must("ip -n " + name + " link set lo up");
    return name;
}

std::string TestNamespaces::Link(const std::string& nsA, const std::string& cidrA,
                                 const std::string& nsB, const std::string& cidrB)
{
    std::string dev = "kv" + std::to_string(m_links++);
    Must("ip link add " + dev + " netns " + nsA + " type veth peer name " + dev + " netns " + nsB);
    Must("ip -n " + nsA + " addr add " + cidrA + " dev " + dev);
    Must("ip -n " + nsB + " addr add " + cidrB + " dev " + dev);
    Must("ip -n " + nsA + " link set " + dev + " up");
    Must("ip -n " + nsB + " link set " + dev + " up");
    return dev;
}

void TestNamespaces::Route(const std::string& ns, const std::string& destination,
                           const std::string& via)
{
    Must("ip -n " + ns + " route add " + destination + " via " + via);
}

void TestNamespaces::Blackhole(const std::string& ns, const std::string& destination)
{
    Must("ip -n " + ns + " route add blackhole " + destination);
}

void TestNamespaces::Forwarding(const std::string& ns, bool on)
{
    Must("ip netns exec " + ns + " sysctl -q -w net.ipv4.ip_forward=" + (on ? "1" : "0"));
}

int TestNamespaces::Exec(const std::string& ns, const std::string& command)
{
    return RunCommand("ip netns exec " + ns + " sh -c '" + command + "'");
}

std::string TestNamespaces::ExecOutput(const std::string& ns, const std::string& command)
{
    return CommandOutput("ip netns exec " + ns + " sh -c '" + command + "'");
}

ScopedNetns::ScopedNetns(const std::string& name)
{
    m_previous = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int target = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (m_previous < 0 || target < 0 || ::setns(target, CLONE_NEWNET) != 0) {
        if (target >= 0)
            ::close(target);
        throw std::runtime_error("cannot enter network namespace " + name);
    }
    ::close(target);
}

ScopedNetns::~ScopedNetns()
{
    if (m_previous >= 0) {
        ::setns(m_previous, CLONE_NEWNET);
        ::close(m_previous);
    }
}

} // namespace testsupport
