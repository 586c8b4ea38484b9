#include "DiagTestSupport.h"

#include "loop/EventLoop.h"

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace diagtest {

namespace {

class CCoreApplicationEnvironment final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "diag-tests";
        static char* argv[] = {name, nullptr};
        m_application = new QCoreApplication(argc, argv);
    }
    void TearDown() override
    {
        delete m_application;
        m_application = nullptr;
    }

private:
    QCoreApplication* m_application = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new CCoreApplicationEnvironment);

void WriteFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
}

} // namespace

std::vector<CMessageLog::Message> CMessageLog::With(loop::UINT message, loop::WPARAM wParam) const
{
    std::vector<Message> found;
    for (const auto& m : messages)
        if (m.message == message && m.wParam == wParam)
            found.push_back(m);
    return found;
}

void CMessageLog::OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    messages.push_back({message, wParam, lParam, std::chrono::steady_clock::now()});
    if (onMessage)
        onMessage(messages.back());
}

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    return loop::RunUntil(done, timeout);
}

echotest::ChildResult RunIsolatedHelper(const std::string& ns, const std::string& mode,
                                        const std::string& hostsLines,
                                        std::vector<std::pair<std::string, std::string>> env)
{
    char pattern[] = "/tmp/kanaliko-etc-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made)
        return {};
    const std::filesystem::path dir(made);
    WriteFile(dir / "hosts", "127.0.0.1 localhost\n" + hostsLines);
    WriteFile(dir / "resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
    WriteFile(dir / "nsswitch.conf", "passwd: files\ngroup: files\nhosts: files dns\n");
    // The mounts live in a private mount namespace that ends with the child.
    WriteFile(dir / "enter.sh", "set -e\n"
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

} // namespace diagtest
