#pragma once

// Children that run a helper mode of a test program (diag/support/EchoTestKit.h)
// in a network namespace with a private /etc: hosts, resolver and name-service
// order of the test's choosing. A reverse look-up there sees only the names a
// test gives and can never reach a real DNS server. Header-only, so that the
// widget tests (whose main makes a QApplication) can use it as well as the
// engine tests.

#include "diag/support/EchoTestKit.h"

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace diagtest {

namespace detail {

inline void WriteFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
}

} // namespace detail

// A helper mode in a child process, as root in namespace `ns`, whose /etc/hosts
// holds exactly `hostsLines` (plus localhost), whose resolver asks the
// namespace's own loopback with `resolverOptions` (nothing listens there unless
// the child opens a CSilentNameServer: a look-up then fails at once) and whose
// name-service order is "files dns". The child finds the hosts file's real path
// in $KANALIKO_HOSTS_FILE, to change it while it runs.
inline echotest::ChildResult RunIsolatedHelper(
    const std::string& ns, const std::string& mode, const std::string& hostsLines,
    std::vector<std::pair<std::string, std::string>> env = {},
    const std::string& resolverOptions = "timeout:1 attempts:1")
{
    char pattern[] = "/tmp/kanaliko-etc-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made)
        return {};
    const std::filesystem::path dir(made);
    detail::WriteFile(dir / "hosts", "127.0.0.1 localhost\n" + hostsLines);
    detail::WriteFile(dir / "resolv.conf",
                      "nameserver 127.0.0.1\noptions " + resolverOptions + "\n");
    detail::WriteFile(dir / "nsswitch.conf", "passwd: files\ngroup: files\nhosts: files dns\n");
    // The mounts live in a private mount namespace that ends with the child.
    detail::WriteFile(dir / "enter.sh", "set -e\n"
                                        "mount --bind " +
                                            (dir / "hosts").string() +
                                            " /etc/hosts\n"
                                            "if [ -e /etc/resolv.conf ]; then mount --bind " +
                                            (dir / "resolv.conf").string() +
                                            " /etc/resolv.conf; fi\n"
                                            "mount --bind " +
                                            (dir / "nsswitch.conf").string() +
                                            " /etc/nsswitch.conf\n"
                                            "exec ip netns exec " +
                                            ns + " \"$@\"\n");
    env.emplace_back("KANALIKO_HOSTS_FILE", (dir / "hosts").string());
    auto result = echotest::RunHelper(
        "unshare --mount --propagation private sh " + (dir / "enter.sh").string(), mode, env);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}

// A name server on the namespace's 127.0.0.1:53 that takes every query and
// never answers: a reverse look-up then blocks for the resolver's time-out.
// Only inside an isolated child (its resolver asks 127.0.0.1).
class CSilentNameServer
{
public:
    CSilentNameServer()
    {
        m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_socket >= 0 &&
            ::bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_socket);
            m_socket = -1;
        }
    }
    ~CSilentNameServer()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    CSilentNameServer(const CSilentNameServer&) = delete;
    CSilentNameServer& operator=(const CSilentNameServer&) = delete;

    bool Listening() const { return m_socket >= 0; }
    // Waits at most ms for a query to arrive (it stays unread, so this keeps
    // answering true once one came).
    bool QueryArrived(int ms) const
    {
        pollfd wait{m_socket, POLLIN, 0};
        return m_socket >= 0 && ::poll(&wait, 1, ms) == 1;
    }

private:
    int m_socket = -1;
};

} // namespace diagtest
