// kanaliko-cli end to end, on test hosts in network namespaces:
//
//   A 198.18.41.2 --- R1 --- R2 --- B 198.18.43.2
//                198.18.41.1 198.18.42.1/.2 198.18.43.1
//
// R1 drops everything for 198.18.49.0/24 (a peer that never answers).

#include "cli/support/CliProcess.h"
#include "support/NetNamespaces.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using clitest::CChild;
using clitest::Cli;
using clitest::ReadFile;
using clitest::Source;
using testsupport::TestNamespaces;

// The example scheme's server sockets: 3 TCP, 4 UDP and 2 IP.
constexpr int kExampleServerPorts = 9;

// Waits until serve has reported every port of the example (open, busy or
// needing rights): only then does a check find them listening.
bool ServingEveryPort(CChild& server)
{
    return server.WaitForOutput(
        [](const std::string& out) {
            return clitest::Count(out, "Порт открыт") + clitest::Count(out, "Порт занят") +
                       clitest::Count(out, "Нужны права администратора") >=
                   kExampleServerPorts;
        },
        20s);
}

class CliTopology : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KANALIKO_SKIP_UNLESS_NAMESPACES();
        a = net.Add("a");
        r1 = net.Add("r1");
        r2 = net.Add("r2");
        b = net.Add("b");
        net.Link(a, "198.18.41.2/24", r1, "198.18.41.1/24");
        net.Link(r1, "198.18.42.1/24", r2, "198.18.42.2/24");
        net.Link(r2, "198.18.43.1/24", b, "198.18.43.2/24");
        net.Forwarding(r1);
        net.Forwarding(r2);
        net.Route(a, "default", "198.18.41.1");
        net.Route(b, "default", "198.18.43.1");
        net.Route(r1, "198.18.43.0/24", "198.18.42.2");
        net.Route(r2, "198.18.41.0/24", "198.18.42.1");
        net.Blackhole(r1, "198.18.49.0/24");
        for (const auto& ns : {a, r1, r2, b})
            net.IsolateResolver(ns);
        options = ::testing::TempDir() + "cli_options_" + std::to_string(getpid()) + ".xml";
        std::ofstream(options)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options><TimeOut>200</TimeOut>"
               "<TimeSendDelay>1</TimeSendDelay><MaxSendCount>2</MaxSendCount>"
               "<SendDataSize>10</SendDataSize></Options>\n";
    }
    void TearDown() override { std::remove(options.c_str()); }

    std::vector<std::string> In(const std::string& ns, std::vector<std::string> command)
    {
        std::vector<std::string> argv = {"ip", "netns", "exec", ns, Cli()};
        argv.insert(argv.end(), command.begin(), command.end());
        return argv;
    }

    // Every port row of the JSON summary, as "protocol:serverPort" -> replies.
    static std::map<std::string, int> Replies(const QJsonObject& document)
    {
        std::map<std::string, int> out;
        for (const auto& peer : document["peers"].toArray())
            for (const auto& group : peer.toObject()["groups"].toArray())
                for (const auto& protocol : group.toObject()["protocols"].toArray())
                    for (const auto& port : protocol.toObject()["ports"].toArray())
                        out[protocol.toObject()["protocol"].toString().toStdString() + ":" +
                            std::to_string(port.toObject()["serverPort"].toInt())] =
                            port.toObject()["replies"].toInt();
        return out;
    }

    TestNamespaces net;
    std::string a, r1, r2, b;
    std::string options;
};

TEST_F(CliTopology, CheckOfAServingNodeAnswersEveryChannelThenMissesAStoppedOne)
{
    const std::string scheme = Source("examples/settings.xml");
    const std::string csv =
        ::testing::TempDir() + "cli_events_" + std::to_string(getpid()) + ".csv";
    {
        CChild server(In(a, {"serve", "--scheme", scheme, "--options", options}));
        ASSERT_TRUE(ServingEveryPort(server)) << server.Err();
        CChild check(In(b, {"check", "198.18.41.2", "--json", "--csv", csv, "--scheme", scheme,
                            "--options", options}));
        ASSERT_EQ(check.Wait(60s), 0) << check.Err() << check.Out();
        server.Signal(SIGTERM);
        EXPECT_EQ(server.Wait(10s), 0) << "serve stops cleanly on SIGTERM";
        EXPECT_NE(server.Out().find("Порт открыт"), std::string::npos);

        const QJsonObject document =
            QJsonDocument::fromJson(QByteArray::fromStdString(check.Out())).object();
        ASSERT_FALSE(document.isEmpty()) << check.Out();
        EXPECT_TRUE(document["allAnswered"].toBool());
        const auto replies = Replies(document);
        EXPECT_EQ(replies.size(), 9u) << "3 TCP, 4 UDP and 2 IP channels in the example";
        for (const auto& [channel, count] : replies)
            EXPECT_EQ(count, 2) << channel;

        // The CSV of the same run: the export's header and one line per event.
        const QJsonArray events = document["events"].toArray();
        ASSERT_GT(events.size(), 0);
        std::istringstream lines(ReadFile(csv));
        std::string header;
        std::getline(lines, header);
        EXPECT_EQ(header,
                  "Статус;Время;Описание;Протокол;Отправитель ->;<- Получатель;Порт ->;<- Порт;"
                  "Подробное описание\r");
        int rows = 0;
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty())
                ++rows;
        }
        EXPECT_EQ(rows, events.size());
        EXPECT_EQ(events[0].toObject()["time"].toString().size(), 23)
            << "a date and a time with milliseconds";
        std::remove(csv.c_str());
    }

    // A serves a scheme without the UDP channel 47021 -> 47022: B's check misses it.
    const std::string partial =
        ::testing::TempDir() + "cli_partial_" + std::to_string(getpid()) + ".xml";
    std::string text = ReadFile(scheme);
    const std::string channel = "srvPort=\"47021\"";
    ASSERT_NE(text.find(channel), std::string::npos);
    text.replace(text.find(channel), channel.size(), "srvPort=\"47991\"");
    std::ofstream(partial) << text;
    CChild server(In(a, {"serve", "--scheme", partial, "--options", options}));
    ASSERT_TRUE(ServingEveryPort(server)) << server.Err();
    CChild check(
        In(b, {"check", "198.18.41.2", "--json", "--scheme", scheme, "--options", options}));
    EXPECT_EQ(check.Wait(60s), 1) << check.Err();
    server.Signal(SIGTERM);
    server.Wait(10s);
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(check.Out())).object();
    EXPECT_FALSE(document["allAnswered"].toBool());
    const auto replies = Replies(document);
    EXPECT_EQ(replies.at("UDP:47021"), 0);
    EXPECT_EQ(replies.at("UDP:47001"), 2);
    std::remove(partial.c_str());
}

TEST_F(CliTopology, CheckOfAPeerThatNeverAnswersEndsWithinItsWaitBound)
{
    const std::string scheme = Source("examples/settings.xml");
    auto begin = std::chrono::steady_clock::now();
    CChild check(In(b, {"check", "198.18.49.9", "--scheme", scheme, "--options", options}));
    EXPECT_EQ(check.Wait(60s), 1) << check.Err();
    // The example has 3 TCP and 2 IP ports: (max(3 x 200 x 3, 200 x 2) + 1000 x 1) x 2 ms.
    const auto bound = std::chrono::milliseconds((3 * 200 * 3 + 1000 * 1) * 2);
    // The clients' ends and the start-up come on top; 3x slack for a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3 * (bound + 1s));
    EXPECT_NE(check.Out().find("198.18.49.9"), std::string::npos);
}

TEST_F(CliTopology, PingAndTracePrintTheStatusesOfTheRoute)
{
    CChild ping(In(a, {"ping", "198.18.43.2", "--count", "3", "--interval", "200"}));
    EXPECT_EQ(ping.Wait(30s), 0) << ping.Err();
    const std::string out = ping.Out();
    std::size_t answered = 0;
    for (std::size_t at = out.find("ответ получен"); at != std::string::npos;
         at = out.find("ответ получен", at + 1))
        ++answered;
    EXPECT_EQ(answered, 3u) << out;
    EXPECT_NE(out.find("Отправлено: 3, Получено: 3, Потеряно: 0"), std::string::npos) << out;

    CChild lost(
        In(a, {"ping", "198.18.49.9", "--count", "2", "--interval", "200", "--timeout", "200"}));
    EXPECT_EQ(lost.Wait(30s), 1);
    EXPECT_NE(lost.Out().find("ответ не получен: Превышен интервал ожидания для запроса."),
              std::string::npos)
        << lost.Out();

    CChild trace(In(a, {"trace", "198.18.43.2", "--passes", "1", "--steps", "5"}));
    EXPECT_EQ(trace.Wait(60s), 0) << trace.Err();
    const std::string table = trace.Out();
    EXPECT_NE(table.find("Маршрут построен"), std::string::npos) << table;
    EXPECT_NE(table.find("1\t198.18.41.1\t"), std::string::npos) << table;
    EXPECT_NE(table.find("2\t198.18.42.2\t"), std::string::npos) << table;
    EXPECT_NE(table.find("3\t198.18.43.2\t"), std::string::npos) << table;
    EXPECT_NE(table.find("Превышен срок жизни (TTL) при передаче пакета."), std::string::npos)
        << table;
}

// With --count N the command used to stop when the slowest target had N
// probes: the answering targets of a mixed set got many more (30 for 20).
TEST_F(CliTopology, PingCountIsExactlyThatManyRequestsPerTarget)
{
    CChild ping(In(a, {"ping", "198.18.43.2", "198.18.49.9", "--count", "4", "--interval", "200",
                       "--timeout", "1000"}));
    EXPECT_EQ(ping.Wait(60s), 1) << "one target never answers\n" << ping.Err();
    const std::string out = ping.Out();
    EXPECT_EQ(clitest::Count(out, "198.18.43.2  ["), 4) << out;
    EXPECT_EQ(clitest::Count(out, "198.18.49.9  ["), 4) << out;
    EXPECT_NE(out.find("198.18.43.2\n\tПакеты: Отправлено: 4, Получено: 4, Потеряно: 0"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("198.18.49.9\n\tПакеты: Отправлено: 4, Получено: 0, Потеряно: 4"),
              std::string::npos)
        << out;
}

TEST(CliUsage, BadInputIsOneLineAndExitStatusTwo)
{
    struct Case
    {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"check", "300.1.1.1"}, "Адрес 300.1.1.1 содержит ошибку"},
        {{"check", "127.0.0.1", "--bogus"}, "unknown option --bogus"},
        {{"check", "127.0.0.1", "--scheme", "/nonexistent/scheme.xml"}, "scheme file not found"},
        {{"ping", "127.0.0.1", "--ttl", "0"}, "--ttl must be between 1 and 255"},
        {{"trace"}, "no targets given"},
        {{"frobnicate"}, "unknown command frobnicate"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {Cli()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CChild child(argv);
        EXPECT_EQ(child.Wait(20s), 2) << c.message;
        EXPECT_NE(child.Err().find(c.message), std::string::npos) << child.Err();
    }
    CChild help({Cli(), "check", "--help"});
    EXPECT_EQ(help.Wait(20s), 0);
    EXPECT_NE(help.Out().find("Usage: kanaliko-cli check"), std::string::npos);
}

} // namespace
