#pragma once

// Test hosts in network namespaces, built by the test itself and torn down when
// the object goes away (also when the test fails). Addresses come from
// 198.18.0.0/15 only; nothing here reaches the machine's real interfaces.
//
//   TestNamespaces net;                 // names carry the test's pid: parallel runs never clash
//   auto a = net.Add("a"), r = net.Add("r"), b = net.Add("b");
//   net.Link(a, "198.18.1.2/24", r, "198.18.1.1/24");
//   net.Link(r, "198.18.2.1/24", b, "198.18.2.2/24");
//   net.Forwarding(r);
//   net.Route(a, "default", "198.18.1.1");
//   net.Route(b, "default", "198.18.2.1");
//   { ScopedNetns in(a); /* sockets made here belong to host a */ }

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace testsupport {

bool IsRoot();
// Whether the process may open raw sockets (root or CAP_NET_RAW in effect).
bool HasCapNetRaw();
// Whether `ip netns` works here (root and a kernel that allows namespaces).
bool CanMakeNamespaces();

#define KANALIKO_SKIP_UNLESS_NAMESPACES()                                                          \
    do {                                                                                           \
        if (!::testsupport::CanMakeNamespaces())                                                   \
            GTEST_SKIP() << "needs root to build network namespaces (CI runs as root)";            \
    } while (0)

#define KANALIKO_SKIP_UNLESS_RAW()                                                                 \
    do {                                                                                           \
        if (!::testsupport::HasCapNetRaw())                                                        \
            GTEST_SKIP() << "needs root or CAP_NET_RAW for raw sockets (CI runs as root)";         \
    } while (0)

// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);
// Runs a shell command and returns what it wrote to standard output.
std::string CommandOutput(const std::string& command);

class TestNamespaces
{
public:
    TestNamespaces();
    ~TestNamespaces();
    TestNamespaces(const TestNamespaces&) = delete;
    TestNamespaces& operator=(const TestNamespaces&) = delete;

    // Creates a namespace with its loopback up; returns its full name.
    std::string Add(const std::string& shortName);
    // A veth pair between two namespaces with one address (CIDR) on each end.
    // Returns the interface name used on both ends.
    std::string Link(const std::string& nsA, const std::string& cidrA, const std::string& nsB,
                     const std::string& cidrB);
    void Route(const std::string& ns, const std::string& destination, const std::string& via);
    // Drops traffic to the destination silently (an address that never answers).
    void Blackhole(const std::string& ns, const std::string& destination);
    void Forwarding(const std::string& ns, bool on = true);
    // Gives the namespace's `ip netns exec` its own /etc/resolv.conf and
    // /etc/hosts (through /etc/netns/<ns>/): the resolver then asks the
    // namespace's own loopback, where nobody answers, so reverse look-ups fail at
    // once and no query ever heads for a real name server.
    void IsolateResolver(const std::string& ns);
    // `ip netns exec <ns> sh -c <command>`; returns the exit status.
    int Exec(const std::string& ns, const std::string& command);
    std::string ExecOutput(const std::string& ns, const std::string& command);

private:
    void Must(const std::string& command);

    std::string m_prefix;
    std::vector<std::string> m_namespaces;
    std::vector<std::string> m_etcFolders;
    int m_links = 0;
};

// Moves the calling thread into a network namespace and back again.
class ScopedNetns
{
public:
    explicit ScopedNetns(const std::string& name);
    ~ScopedNetns();
    ScopedNetns(const ScopedNetns&) = delete;
    ScopedNetns& operator=(const ScopedNetns&) = delete;

private:
    int m_previous = -1;
};

} // namespace testsupport
