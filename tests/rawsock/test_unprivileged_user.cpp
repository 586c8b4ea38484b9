// kanaliko-cli run by a user without any capability, with the helper installed
// as the package installs it, on the routed test network:
//
//   A 198.18.1.2 --- R1 --- R2 --- B 198.18.3.2
//
// Ping sockets are refused in every namespace (Debian's default), so every raw
// IP and ICMP socket the user's program gets comes from the helper, or none does.

#include "rawsock/support/RawsockTestKit.h"

#include "diag/support/EchoTestKit.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace std::chrono_literals;
using rawsocktest::CChild;
using rawsocktest::CScratchInstall;

// B serves IP protocols 253 and 254; the client's scheme adds 252, which B does
// not serve (its system answers "protocol unreachable").
const char* kServedScheme = R"(<?xml version="1.0" encoding="UTF-8"?>
<Chanels>
  <Group senderName="A" receiverName="B">
    <Proto name="TCP" />
    <Proto name="UDP" />
    <Proto name="IP">
      <Port srvPort="253" clPort="0" />
      <Port srvPort="254" clPort="0" />
    </Proto>
  </Group>
</Chanels>
)";

const char* kCheckedScheme = R"(<?xml version="1.0" encoding="UTF-8"?>
<Chanels>
  <Group senderName="A" receiverName="B">
    <Proto name="TCP" />
    <Proto name="UDP" />
    <Proto name="IP">
      <Port srvPort="253" clPort="0" />
      <Port srvPort="254" clPort="0" />
      <Port srvPort="252" clPort="0" />
    </Proto>
  </Group>
</Chanels>
)";

const char* kOptions = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options><TimeOut>300</TimeOut>"
                       "<TimeSendDelay>1</TimeSendDelay><MaxSendCount>2</MaxSendCount>"
                       "<SendDataSize>10</SendDataSize></Options>\n";

struct PortResult
{
    int replies = -1;
    int code = -1;
};

// IP port rows of check's JSON summary, by protocol number.
std::map<int, PortResult> IpPorts(const QJsonObject& document)
{
    std::map<int, PortResult> out;
    for (const auto& peer : document["peers"].toArray())
        for (const auto& group : peer.toObject()["groups"].toArray())
            for (const auto& protocol : group.toObject()["protocols"].toArray()) {
                if (protocol.toObject()["protocol"].toString() != "IP")
                    continue;
                for (const auto& port : protocol.toObject()["ports"].toArray())
                    out[port.toObject()["serverPort"].toInt()] = {
                        port.toObject()["replies"].toInt(), port.toObject()["code"].toInt()};
            }
    return out;
}

// The codes of check's IP events for one protocol number, with their errors.
std::vector<std::pair<int, qint64>> IpEvents(const QJsonObject& document, int protocol)
{
    std::vector<std::pair<int, qint64>> out;
    for (const auto& value : document["events"].toArray()) {
        const QJsonObject e = value.toObject();
        if (e["protocol"].toString() == "IP" && e["senderPort"].toInt() == protocol)
            out.emplace_back(e["code"].toInt(), e["error"].toInteger());
    }
    return out;
}

class UnprivilegedUser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KANALIKO_SKIP_UNLESS_NAMESPACES();
        install = std::make_unique<CScratchInstall>();
        if (!install->Ready())
            GTEST_SKIP() << install->WhyNot();
        network = std::make_unique<echotest::CRoutedNetwork>();
        for (const auto& ns : {network->a, network->b})
            network->AllowPingSockets(ns, false);
        served = install->Write("served.xml", kServedScheme);
        checked = install->Write("checked.xml", kCheckedScheme);
        options = install->Write("options.xml", kOptions);
    }

    std::vector<std::string> Cli(const std::string& ns, const std::vector<unsigned>& groups,
                                 const std::string& helper, std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), install->Path("kanaliko-cli"));
        return install->AsUser(ns, groups, helper, arguments);
    }

    // Runs check from A against B; returns its JSON document.
    QJsonObject CheckFromA(const std::vector<unsigned>& groups, const std::string& helper,
                           int* exitCode)
    {
        CChild check(
            Cli(network->a, groups, helper,
                {"check", echotest::kHostB, "--json", "--scheme", checked, "--options", options}));
        *exitCode = check.Wait(90s);
        const QJsonObject document =
            QJsonDocument::fromJson(QByteArray::fromStdString(check.Out())).object();
        EXPECT_FALSE(document.isEmpty()) << check.Out() << check.Err();
        return document;
    }

    std::unique_ptr<CScratchInstall> install;
    std::unique_ptr<echotest::CRoutedNetwork> network;
    std::string served, checked, options;
};

TEST_F(UnprivilegedUser, InTheGroupAnIpChannelIsAnsweredAcrossTheNetwork)
{
    const std::vector<unsigned> inGroup = {install->group};
    CChild server(Cli(network->b, inGroup, install->capableHelper,
                      {"serve", "--scheme", served, "--options", options}));
    ASSERT_TRUE(server.WaitForOutput("Порт открыт", 2, 30s)) << server.Out() << server.Err();

    int exitCode = -1;
    const QJsonObject document = CheckFromA(inGroup, install->capableHelper, &exitCode);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(20s), 0) << "serve stops cleanly on SIGTERM";
    EXPECT_EQ(server.Out().find("Нужны права администратора"), std::string::npos) << server.Out();

    EXPECT_EQ(exitCode, 1) << "252 is not served, so not every port is answered";
    const auto ports = IpPorts(document);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports.at(253).replies, 2);
    EXPECT_EQ(ports.at(254).replies, 2);
    EXPECT_EQ(ports.at(252).replies, 0);
    // B's "protocol unreachable" reaches the helper's socket through the error
    // queue, as on a socket of the program's own: code 12, not a time-out.
    bool unreachable = false;
    for (const auto& [code, error] : IpEvents(document, 252))
        unreachable = unreachable || (code == 12 && error == 10054);
    EXPECT_TRUE(unreachable) << QJsonDocument(document).toJson().toStdString();
}

TEST_F(UnprivilegedUser, InTheGroupARouteTraceBuildsItsHopsAndEchoIsAnswered)
{
    const std::vector<unsigned> inGroup = {install->group};
    CChild trace(Cli(network->a, inGroup, install->capableHelper,
                     {"trace", echotest::kHostB, "--passes", "1", "--steps", "5"}));
    EXPECT_EQ(trace.Wait(60s), 0) << trace.Err() << trace.Out();
    const std::string table = trace.Out();
    EXPECT_NE(table.find("Маршрут построен"), std::string::npos) << table;
    EXPECT_NE(table.find("1\t198.18.1.1\t"), std::string::npos) << table;
    EXPECT_NE(table.find("2\t198.18.2.2\t"), std::string::npos) << table;
    EXPECT_NE(table.find("3\t198.18.3.2\t"), std::string::npos) << table;

    CChild ping(Cli(network->a, inGroup, install->capableHelper,
                    {"ping", echotest::kHostB, "--count", "3", "--interval", "200"}));
    EXPECT_EQ(ping.Wait(30s), 0) << ping.Err();
    EXPECT_NE(ping.Out().find("Отправлено: 3, Получено: 3, Потеряно: 0"), std::string::npos)
        << ping.Out();
}

TEST_F(UnprivilegedUser, OutsideTheGroupOrWithoutAWorkingHelperItIsCode3AsBefore)
{
    struct Case
    {
        const char* what;
        std::vector<unsigned> groups;
        std::string helper;
    } cases[] = {
        {"a user outside the helper's group", {install->otherGroup}, install->capableHelper},
        {"no helper installed", {install->group}, install->Path("missing/kanaliko-rawsock")},
        {"a helper without its capability", {install->group}, install->plainHelper},
        {"no helper named (KANALIKO_RAWSOCK empty)", {install->group}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int exitCode = -1;
        const QJsonObject document = CheckFromA(c.groups, c.helper, &exitCode);
        EXPECT_EQ(exitCode, 1);
        for (int protocol : {252, 253, 254}) {
            const auto events = IpEvents(document, protocol);
            ASSERT_FALSE(events.empty()) << protocol;
            EXPECT_EQ(events.front(), (std::pair<int, qint64>(3, 10013))) << protocol;
            EXPECT_EQ(IpPorts(document).at(protocol).replies, 0) << protocol;
        }

        CChild ping(
            Cli(network->a, c.groups, c.helper, {"ping", echotest::kHostB, "--count", "1"}));
        EXPECT_EQ(ping.Wait(30s), 2);
        EXPECT_NE(ping.Err().find("ICMP echo needs root, CAP_NET_RAW"), std::string::npos)
            << ping.Err();
    }
}

} // namespace
