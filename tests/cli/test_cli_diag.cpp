// kanaliko-cli ping and trace: --json, trace's -n/--no-dns, and the help texts
// against the manual page. Loopback needs the right to open ICMP sockets; the
// route runs on test hosts in network namespaces:
//
//   A 198.18.51.2 --- R1 --- R2 --- B 198.18.53.2
//                198.18.51.1 198.18.52.1/.2 198.18.53.1
//
// R2 drops everything for 198.18.59.0/24 (a target that never answers). Each
// namespace's resolver asks its own loopback, where nobody answers, and A's
// hosts file names R1, so a look-up either finds that name or fails at once.

#include "cli/support/CliProcess.h"
#include "support/NetNamespaces.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using clitest::CChild;
using clitest::Cli;
using clitest::ReadFile;
using clitest::Source;

QJsonObject Document(const std::string& text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return document.object();
}

// Every "--name" and "-x" an option line of the help text starts with.
std::vector<std::string> HelpOptions(const std::string& help)
{
    std::vector<std::string> options;
    std::istringstream lines(help);
    std::string line;
    const std::regex option(R"(^  (-[a-z], )?--([a-z-]+))");
    while (std::getline(lines, line)) {
        std::smatch match;
        if (std::regex_search(line, match, option)) {
            options.push_back(match[2]);
            if (match[1].matched)
                options.push_back(match[1].str().substr(1, 1));
        }
    }
    return options;
}

} // namespace

TEST(CliDiagUsage, EveryOptionOfPingAndTraceIsInTheManualPage)
{
    const std::string manual = ReadFile(Source("packaging/man/kanaliko-cli.1"));
    for (const char* command : {"ping", "trace"}) {
        CChild help({Cli(), command, "--help"});
        ASSERT_EQ(help.Wait(10s), 0);
        const auto options = HelpOptions(help.Out());
        EXPECT_GE(options.size(), 7u) << help.Out();
        for (const std::string& name : options) {
            if (name == "help" || name == "debug")
                continue; // the general options have their own section
            // groff spells "-" as "\-".
            const std::string spelled =
                name.size() == 1 ? "\\-" + name : "\\-\\-" + std::regex_replace(name, std::regex("-"), "\\-");
            EXPECT_NE(manual.find(spelled), std::string::npos) << command << " " << name;
        }
    }
    CChild trace({Cli(), "trace", "--help"});
    ASSERT_EQ(trace.Wait(10s), 0);
    EXPECT_NE(trace.Out().find("  -n, --no-dns"), std::string::npos) << trace.Out();
}

TEST(CliDiagUsage, UnknownShortOptionIsAUsageError)
{
    CChild trace({Cli(), "trace", "127.0.0.1", "-x"});
    EXPECT_EQ(trace.Wait(10s), 2);
    EXPECT_NE(trace.Err().find("unknown option -x"), std::string::npos) << trace.Err();
    CChild ping({Cli(), "ping", "127.0.0.1", "-n"}); // only trace has -n
    EXPECT_EQ(ping.Wait(10s), 2);
    EXPECT_NE(ping.Err().find("unknown option -n"), std::string::npos) << ping.Err();
}

TEST(CliDiagLoopback, PingJsonIsOneDocumentWithEveryResultInMicroseconds)
{
    KANALIKO_SKIP_UNLESS_RAW();
    const qint64 before = QDateTime::currentMSecsSinceEpoch() * 1000;
    CChild ping({Cli(), "ping", "127.0.0.1", "127.0.0.2", "--count", "3", "--interval", "200",
                 "--ttl", "33", "--json"});
    ASSERT_EQ(ping.Wait(30s), 0) << ping.Err();
    const qint64 after = QDateTime::currentMSecsSinceEpoch() * 1000;
    // Standard output is the document and nothing else.
    const QJsonObject document = Document(ping.Out());
    EXPECT_EQ(document["command"].toString(), "ping");
    EXPECT_TRUE(document["allAnswered"].toBool());
    EXPECT_EQ(document["settings"].toObject()["ttl"].toInt(), 33);
    EXPECT_EQ(document["settings"].toObject()["count"].toInt(), 3);
    const QJsonArray targets = document["targets"].toArray();
    ASSERT_EQ(targets.size(), 2);
    EXPECT_EQ(targets[1].toObject()["address"].toString(), "127.0.0.2");
    for (const auto& t : targets) {
        const QJsonObject target = t.toObject();
        const QJsonObject statistics = target["statistics"].toObject();
        EXPECT_EQ(statistics["sent"].toInt(), 3);
        EXPECT_EQ(statistics["received"].toInt(), 3);
        EXPECT_EQ(target["resultsDropped"].toInt(), 0);
        const QJsonArray results = target["results"].toArray();
        ASSERT_EQ(results.size(), 3);
        qint64 previous = 0;
        for (int i = 0; i < 3; ++i) {
            const QJsonObject result = results[i].toObject();
            EXPECT_EQ(result["sequence"].toInt(), i + 1);
            EXPECT_EQ(result["status"].toInt(), 0);
            EXPECT_EQ(result["statusText"].toString(), QStringLiteral("Успешно"));
            EXPECT_EQ(result["ttl"].toInt(), 33);
            const qint64 us = result["roundTripUs"].toInteger();
            EXPECT_GT(us, 0);
            EXPECT_EQ(us / 1000, result["roundTripMs"].toInteger());
            const qint64 sent = result["timeUs"].toInteger();
            EXPECT_GE(sent, before);
            EXPECT_LE(sent, after);
            EXPECT_GT(sent, previous); // oldest first
            previous = sent;
            // The text form of the same moment, in UTC with microseconds.
            const QDateTime time =
                QDateTime::fromString(result["time"].toString(), Qt::ISODateWithMs);
            EXPECT_TRUE(time.isValid()) << result["time"].toString().toStdString();
            EXPECT_LE(std::abs(time.toMSecsSinceEpoch() - sent / 1000), 1); // Qt rounds
            EXPECT_TRUE(result["time"].toString().endsWith(
                QStringLiteral(".%1Z").arg(sent % 1000000, 6, 10, QLatin1Char('0'))));
            EXPECT_TRUE(result["text"].toString().contains(QStringLiteral("ответ получен")));
        }
    }
}

class CliDiagTopology : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KANALIKO_SKIP_UNLESS_NAMESPACES();
        a = net.Add("a");
        r1 = net.Add("r1");
        r2 = net.Add("r2");
        b = net.Add("b");
        net.Link(a, "198.18.51.2/24", r1, "198.18.51.1/24");
        net.Link(r1, "198.18.52.1/24", r2, "198.18.52.2/24");
        net.Link(r2, "198.18.53.1/24", b, "198.18.53.2/24");
        net.Forwarding(r1);
        net.Forwarding(r2);
        net.Route(a, "default", "198.18.51.1");
        net.Route(b, "default", "198.18.53.1");
        net.Route(r1, "198.18.53.0/24", "198.18.52.2");
        net.Route(r1, "198.18.59.0/24", "198.18.52.2");
        net.Route(r2, "198.18.51.0/24", "198.18.52.1");
        net.Blackhole(r2, "198.18.59.0/24");
        for (const auto& ns : {a, r1, r2, b})
            net.IsolateResolver(ns);
        std::ofstream("/etc/netns/" + a + "/hosts", std::ios::app)
            << "198.18.51.1 r1-cli.kanaliko.test\n";
    }

    std::vector<std::string> In(const std::string& ns, std::vector<std::string> command)
    {
        std::vector<std::string> argv = {"ip", "netns", "exec", ns, Cli()};
        argv.insert(argv.end(), command.begin(), command.end());
        return argv;
    }

    testsupport::TestNamespaces net;
    std::string a, r1, r2, b;
};

TEST_F(CliDiagTopology, TraceJsonHasStatesHopsAndMicrosecondsAndNoDnsLeavesNamesOut)
{
    CChild named(In(a, {"trace", "198.18.53.2", "198.18.59.9", "--passes", "1", "--steps", "4",
                        "--timeout", "300", "--json"}));
    CChild unnamed(In(a, {"trace", "-n", "198.18.53.2", "--passes", "1", "--steps", "4", "--json"}));
    ASSERT_EQ(named.Wait(60s), 1) << "the blackholed route is not built\n" << named.Err();
    ASSERT_EQ(unnamed.Wait(60s), 0) << unnamed.Err();

    const QJsonObject document = Document(named.Out());
    EXPECT_EQ(document["command"].toString(), "trace");
    EXPECT_FALSE(document["allBuilt"].toBool());
    EXPECT_TRUE(document["settings"].toObject()["resolveNames"].toBool());
    const QJsonArray targets = document["targets"].toArray();
    ASSERT_EQ(targets.size(), 2);

    const QJsonObject built = targets[0].toObject();
    EXPECT_EQ(built["state"].toInt(), 1);
    EXPECT_EQ(built["stateText"].toString(), QStringLiteral("Маршрут построен"));
    const QJsonArray hops = built["hops"].toArray();
    ASSERT_EQ(hops.size(), 3) << named.Out();
    const char* addresses[] = {"198.18.51.1", "198.18.52.2", "198.18.53.2"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject hop = hops[i].toObject();
        EXPECT_EQ(hop["step"].toInt(), i + 1);
        EXPECT_EQ(hop["address"].toString().toStdString(), addresses[i]);
        EXPECT_EQ(hop["status"].toInt(), i < 2 ? 11013 : 0);
        EXPECT_EQ(hop["sent"].toInt(), 1);
        EXPECT_EQ(hop["lostPercent"].toInt(), 0);
        EXPECT_GT(hop["lastUs"].toInteger(), 0);
        EXPECT_EQ(hop["lastUs"].toInteger() / 1000, hop["lastMs"].toInteger());
        EXPECT_TRUE(QDateTime::fromString(hop["time"].toString(), Qt::ISODateWithMs).isValid());
    }
    EXPECT_EQ(hops[0].toObject()["name"].toString(), "r1-cli.kanaliko.test");
    EXPECT_TRUE(hops[1].toObject()["name"].isNull()); // looked up, none found

    const QJsonObject lost = targets[1].toObject();
    EXPECT_EQ(lost["state"].toInt(), -1);
    EXPECT_EQ(lost["stateText"].toString(), QStringLiteral("Маршрут не построен"));
    const QJsonArray steps = lost["hops"].toArray();
    ASSERT_EQ(steps.size(), 4);
    for (int i = 2; i < 4; ++i) {
        const QJsonObject hop = steps[i].toObject();
        EXPECT_TRUE(hop["address"].isNull()); // nobody answered at this step
        EXPECT_TRUE(hop["name"].isNull());
        EXPECT_EQ(hop["lostPercent"].toInt(), 100);
        EXPECT_EQ(hop["status"].toInt(), 11010);
        EXPECT_EQ(hop["lastMs"].toInt(), 300);
    }

    // -n: the same route, no name looked up (R1's would have been found).
    const QJsonObject plain = Document(unnamed.Out());
    EXPECT_FALSE(plain["settings"].toObject()["resolveNames"].toBool());
    const QJsonArray plainHops = plain["targets"].toArray()[0].toObject()["hops"].toArray();
    ASSERT_EQ(plainHops.size(), 3) << unnamed.Out();
    for (const auto& hop : plainHops)
        EXPECT_TRUE(hop.toObject()["name"].isNull());
    EXPECT_EQ(plainHops[0].toObject()["address"].toString(), "198.18.51.1");
}

TEST_F(CliDiagTopology, TraceTableWithNoDnsHasAnEmptyNameColumn)
{
    CChild trace(In(a, {"trace", "--no-dns", "198.18.53.2", "--passes", "1", "--steps", "5"}));
    ASSERT_EQ(trace.Wait(60s), 0) << trace.Err();
    EXPECT_NE(trace.Out().find("1\t198.18.51.1\t\t"), std::string::npos) << trace.Out();
    EXPECT_EQ(trace.Out().find("r1-cli.kanaliko.test"), std::string::npos) << trace.Out();
}
