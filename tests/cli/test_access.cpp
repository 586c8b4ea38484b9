// kanaliko-cli access: the answer on loopback, a busy local port, usage, and
// the trace through the routed test network (diag/support/EchoTestKit.h):
//
//   A 198.18.1.2 --- R1 198.18.1.1 --- R2 198.18.2.2 --- B 198.18.3.2
//   (198.18.9.0/24 is blackholed at B)

#include "diag/support/EchoTestKit.h"
#include "support/FreePorts.h"
#include "support/UdpResponder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using testsupport::CUdpResponder;

std::string Cli()
{
    return std::string(std::getenv("KANALIKO_BINARY_DIR")) + "/cli/kanaliko-cli";
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The front end in a child process; its output and error go to files.
class CCliRun
{
public:
    explicit CCliRun(std::vector<std::string> argv, const std::string& netns = "")
    {
        if (!netns.empty())
            argv.insert(argv.begin(), {"ip", "netns", "exec", netns});
        static int counter = 0;
        const std::string stem = ::testing::TempDir() + "access_" + std::to_string(getpid()) + "_" +
                                 std::to_string(counter++);
        m_out = stem + ".out";
        m_err = stem + ".err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~CCliRun()
    {
        if (m_pid > 0 && !m_done) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        std::remove(m_out.c_str());
        std::remove(m_err.c_str());
    }
    // The exit status; -1 when it did not end in time.
    int Wait(std::chrono::seconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_pid > 0 && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_done = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }
    void Signal(int signal) { ::kill(m_pid, signal); }
    std::string Out() const { return ReadFile(m_out); }
    std::string Err() const { return ReadFile(m_err); }
    QJsonObject Json() const
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(Out())).object();
    }

private:
    pid_t m_pid = -1;
    bool m_done = false;
    std::string m_out, m_err;
};

std::string Port(std::uint16_t port)
{
    return std::to_string(port);
}

} // namespace

TEST(CliAccess, AnAnswerOnLoopbackIsSuccessWithTextOrJson)
{
    CUdpResponder responder;
    const std::uint16_t local = testsupport::FreePort(SOCK_DGRAM);
    CCliRun text({Cli(), "access", "127.0.0.1", "--port", Port(responder.Port()), "--local-port",
                  Port(local)});
    ASSERT_EQ(text.Wait(30s), 0) << text.Err();
    EXPECT_EQ(text.Out(), "Проверка успешно завершена\n");
    ASSERT_EQ(responder.Datagrams().size(), 1u);
    EXPECT_EQ(responder.Datagrams()[0].bytes.size(), 19u);
    EXPECT_EQ(responder.Datagrams()[0].senderPort, local);

    CCliRun json({Cli(), "access", "127.0.0.1", "--port=" + Port(responder.Port()),
                  "--local-port=" + Port(testsupport::FreePort(SOCK_DGRAM)), "--timeout", "5",
                  "--json"});
    ASSERT_EQ(json.Wait(30s), 0) << json.Err();
    const QJsonObject document = json.Json();
    ASSERT_FALSE(document.isEmpty()) << json.Out();
    EXPECT_TRUE(document["answered"].toBool());
    EXPECT_EQ(document["outcome"].toString(), "answered");
    EXPECT_EQ(document["text"].toString(), "Проверка успешно завершена");
    EXPECT_EQ(document["timeout"].toInt(), 5);
    EXPECT_TRUE(document["hops"].toArray().isEmpty());
}

TEST(CliAccess, ABusyLocalPortIsASetUpErrorWithItsNumber)
{
    CUdpResponder occupant(CUdpResponder::Reply::None, 0, "0.0.0.0");
    CCliRun run({Cli(), "access", "127.0.0.1", "--port", Port(testsupport::FreePort(SOCK_DGRAM)),
                 "--local-port", Port(occupant.Port())});
    EXPECT_EQ(run.Wait(30s), 2);
    EXPECT_NE(run.Err().find("kanaliko-cli: Порт " + Port(occupant.Port()) + " занят"),
              std::string::npos)
        << run.Err();
    EXPECT_TRUE(run.Out().empty());
    EXPECT_TRUE(occupant.Datagrams().empty());
}

TEST(CliAccess, BadArgumentsAreUsageErrorsAndHelpNamesTheCommand)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"access"}, "no server given"},
        {{"access", "10.0.0.1", "10.0.0.2"}, "give exactly one access server"},
        {{"access", "10.0.0"}, "Адрес 10.0.0 содержит ошибку"},
        {{"access", "127.0.0.1", "--port", "0"}, "--port must be between 1 and 65535"},
        {{"access", "127.0.0.1", "--local-port", "65536"},
         "--local-port must be between 1 and 65535"},
        {{"access", "127.0.0.1", "--timeout", "601"}, "--timeout must be between 1 and 600"},
    };
    for (const auto& [args, message] : cases) {
        std::vector<std::string> argv = {Cli()};
        argv.insert(argv.end(), args.begin(), args.end());
        CCliRun run(argv);
        EXPECT_EQ(run.Wait(20s), 2) << message;
        EXPECT_NE(run.Err().find(message), std::string::npos) << run.Err();
    }
    CCliRun help({Cli(), "access", "--help"});
    EXPECT_EQ(help.Wait(20s), 0);
    EXPECT_NE(help.Out().find("Usage: kanaliko-cli access SERVER"), std::string::npos);
    CCliRun overview({Cli(), "--help"});
    EXPECT_EQ(overview.Wait(20s), 0);
    EXPECT_NE(overview.Out().find("access SERVER"), std::string::npos) << overview.Out();
}

TEST(CliAccess, ATraceThroughTwoRoutersNamesEachHopAndWhereThePortIsClosed)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    echotest::CRoutedNetwork network;

    // Nothing listens on B's port; the default local port 7500 is surely free
    // in a namespace made for this test.
    CCliRun closed({Cli(), "access", echotest::kHostB, "--port", "47700", "--json"}, network.a);
    ASSERT_EQ(closed.Wait(60s), 1) << closed.Err() << closed.Out();
    QJsonObject document = closed.Json();
    ASSERT_FALSE(document.isEmpty()) << closed.Out();
    EXPECT_FALSE(document["answered"].toBool());
    EXPECT_EQ(document["localPort"].toInt(), 7500);
    EXPECT_TRUE(document["text"].toString().startsWith("Истёк тайм-аут\n"));
    QJsonArray hops = document["hops"].toArray();
    ASSERT_EQ(hops.size(), 3) << closed.Out();
    const std::pair<const char*, bool> expected[] = {
        {echotest::kRouter1, true}, {echotest::kRouter2, true}, {echotest::kHostB, false}};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject hop = hops[i].toObject();
        EXPECT_EQ(hop["ttl"].toInt(), i + 1);
        EXPECT_EQ(hop["address"].toString().toStdString(), expected[i].first);
        EXPECT_EQ(hop["portOpen"].toBool(), expected[i].second) << expected[i].first;
    }

    CCliRun blackholed({Cli(), "access", echotest::kBlackholed, "--port", "47700"}, network.a);
    ASSERT_EQ(blackholed.Wait(60s), 1) << blackholed.Err();
    EXPECT_EQ(blackholed.Out(), "Истёк тайм-аут\n198.18.1.1: порт открыт\n"
                                "198.18.2.2: порт открыт\nзаданный узел недоступен\n");

    // Ctrl-C during a long wait ends the check at once, without an answer.
    CCliRun interrupted({Cli(), "access", echotest::kBlackholed, "--timeout", "600"}, network.a);
    // Up and waiting once its socket is bound (its signal handler is in place
    // before that).
    const auto bound = [&] {
        return testsupport::CommandOutput("ip netns exec " + network.a +
                                          " ss -Hunl 'sport = :7500'")
                   .find("7500") != std::string::npos;
    };
    for (int i = 0; i < 500 && !bound(); ++i)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(bound());
    const auto signalled = std::chrono::steady_clock::now();
    interrupted.Signal(SIGINT);
    EXPECT_EQ(interrupted.Wait(30s), 1) << interrupted.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
}
