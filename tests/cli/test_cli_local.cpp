// kanaliko-cli on loopback, without test hosts: hand-edited options, signals,
// schemes with nothing to probe, the CSV file and peer address texts.

#include "channel/ProbeMessages.h"
#include "cli/support/CliProcess.h"
#include "support/FreePorts.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using clitest::CChild;
using clitest::Cli;
using clitest::Count;
using clitest::ReadFile;
using testsupport::FreePort;
using testsupport::TempFolder;
using testsupport::WriteBytes;

std::string OptionsText(int timeOut, int timeSendDelay, int maxSendCount, int sendDataSize)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options><TimeOut>" +
           std::to_string(timeOut) + "</TimeOut><TimeSendDelay>" + std::to_string(timeSendDelay) +
           "</TimeSendDelay><MaxSendCount>" + std::to_string(maxSendCount) +
           "</MaxSendCount><SendDataSize>" + std::to_string(sendDataSize) +
           "</SendDataSize></Options>\n";
}

// One group with the given Proto elements.
std::string SchemeText(const std::string& protos)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chanels><Group senderName=\"a\" "
           "receiverName=\"b\">" +
           protos + "</Group></Chanels>\n";
}

std::string TcpProto(std::uint16_t port)
{
    return "<Proto name=\"TCP\"><Port srvPort=\"" + std::to_string(port) +
           "\" clPort=\"0\"/></Proto>";
}

class CliLocal : public ::testing::Test
{
protected:
    std::vector<std::string> Check(std::vector<std::string> extra)
    {
        std::vector<std::string> argv = {Cli(), "check"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
    }

    TempFolder folder{"kanaliko-cli"};
};

// TimeSendDelay -1 in options.xml used to make the TCP client sleep 49.7 days
// after a refused connection and its shutdown wait for ever: SIGTERM did not end
// check, only SIGKILL did.
TEST_F(CliLocal, OutOfRangeOptionsAreClampedAndSigtermEndsTheCheck)
{
    const std::string options = folder.File("options.xml");
    const std::string optionsText = OptionsText(200, -1, 10000, 10);
    WriteBytes(options, optionsText);
    const std::string scheme = folder.File("scheme.xml");
    WriteBytes(scheme, SchemeText(TcpProto(FreePort(SOCK_STREAM)))); // nobody listens
    CChild check(Check({"127.0.0.1", "--scheme", scheme, "--options", options}));
    ASSERT_TRUE(check.WaitForText("Не удалось подключиться", 20s)) << check.Err();
    check.Signal(SIGTERM);
    // Expected within about a second (the listed task's TimeSendDelay of 1 s).
    const int status = check.Wait(15s);
    ASSERT_NE(status, -1) << "SIGTERM did not end the check\n" << check.Err();
    EXPECT_EQ(status, 1) << "interrupted: not every port answered";
    EXPECT_EQ(Count(check.Err(), "127.0.0.1: stopped"), 1) << check.Err();
    // Said once: the Error stream's line on standard error.
    EXPECT_EQ(Count(check.Err(), "TimeSendDelay -1 -> 1"), 1) << check.Err();
    EXPECT_EQ(ReadFile(options), optionsText) << "the file keeps its values";
}

// An interrupt ends a check at once even while a probe waits up to
// TimeOut = 30 s for an echo from a peer that accepted the connection and
// never reads: the wait is the event loop's, no pool task is held by it.
TEST_F(CliLocal, AnInterruptEndsTheCheckWhileAProbeWaitsForItsEcho)
{
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(silent, 4), 0); // the kernel completes the connection; nobody echoes
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);

    const std::string options = folder.File("options.xml");
    WriteBytes(options, OptionsText(30000, 600, 5, 10));
    const std::string scheme = folder.File("scheme.xml");
    WriteBytes(scheme, SchemeText(TcpProto(ntohs(address.sin_port))));
    CChild check(Check({"127.0.0.1", "--scheme", scheme, "--options", options}));
    ASSERT_TRUE(check.WaitForText("Данные отправлены", 20s)) << check.Err();
    check.Signal(SIGINT);
    EXPECT_EQ(check.Wait(10s), 1) << "interrupted: not every port answered\n" << check.Err();
    EXPECT_EQ(Count(check.Err(), "127.0.0.1: stopped"), 1) << check.Err();
    ::close(silent);
}

} // namespace

namespace {

// A scheme of one TCP and one UDP channel on free loopback ports.
std::string LoopbackScheme()
{
    return SchemeText(TcpProto(FreePort(SOCK_STREAM)) + "<Proto name=\"UDP\"><Port srvPort=\"" +
                      std::to_string(FreePort(SOCK_DGRAM)) + "\" clPort=\"" +
                      std::to_string(FreePort(SOCK_DGRAM)) + "\"/></Proto>");
}

// "127.0.0.010" used to be accepted by the address list through inet_addr
// (octal: 127.0.0.8), probed as 127.0.0.10 and looked up as 127.0.0.8: every
// probe was answered, yet the summary showed 0/0 and check exited 1.
TEST_F(CliLocal, AnAddressWithALeadingZeroIsRefusedAsAmbiguous)
{
    const std::string options = folder.File("options.xml");
    WriteBytes(options, OptionsText(200, 1, 2, 10));
    const std::string scheme = folder.File("scheme.xml");
    WriteBytes(scheme, LoopbackScheme());
    for (const std::string peer : {"127.0.0.010", "127.0.0.1;010.0.0.1", "127.000.0.1"}) {
        CChild check(Check({peer, "--serve", "--scheme", scheme, "--options", options}));
        EXPECT_EQ(check.Wait(30s), 2) << peer;
        const std::string refused = peer.substr(peer.find(';') + 1);
        EXPECT_NE(check.Err().find("Адрес " + (peer.find(';') == std::string::npos ? peer : refused) +
                                   " содержит ошибку"),
                  std::string::npos)
            << check.Err();
        EXPECT_EQ(check.Out().substr(0, 200), "") << "nothing is probed";
    }

    // The plain spelling is probed and found under the same reading.
    CChild check(Check({"127.0.0.10", "--serve", "--json", "--scheme", scheme, "--options",
                        options}));
    ASSERT_EQ(check.Wait(30s), 0) << check.Err() << check.Out();
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(check.Out())).object();
    EXPECT_TRUE(document["allAnswered"].toBool()) << check.Out();
}

} // namespace

namespace {

// A group whose only protocol is written name="tcp" (skipped, as the scheme
// reader's rule says), or groups under another root, used to make check exit 0
// with "allAnswered": true and no events, and serve listen on nothing quietly.
TEST_F(CliLocal, ASchemeWithNothingToProbeOrServeIsASetUpError)
{
    const std::string options = folder.File("options.xml");
    WriteBytes(options, OptionsText(200, 1, 2, 10));
    const std::string lowerCase = folder.File("lower.xml");
    WriteBytes(lowerCase, SchemeText("<Proto name=\"tcp\"><Port srvPort=\"" +
                                     std::to_string(FreePort(SOCK_STREAM)) +
                                     "\" clPort=\"0\"/></Proto>"));
    const std::string nested = folder.File("nested.xml");
    WriteBytes(nested, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Schemes><Chanels><Group "
                       "senderName=\"a\" receiverName=\"b\">" +
                           TcpProto(FreePort(SOCK_STREAM)) + "</Group></Chanels></Schemes>\n");
    const std::string empty = folder.File("empty.xml");
    WriteBytes(empty, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chanels></Chanels>\n");
    for (const std::string& scheme : {lowerCase, nested, empty}) {
        SCOPED_TRACE(scheme);
        CChild check(Check({"127.0.0.1", "--json", "--scheme", scheme, "--options", options}));
        EXPECT_EQ(check.Wait(30s), 2) << check.Out();
        EXPECT_EQ(check.Err(), "kanaliko-cli: the scheme " + scheme +
                                   " has no channel to probe: no Proto named TCP, UDP or IP "
                                   "with a Port\n");
        EXPECT_EQ(check.Out(), "");

        CChild serve({Cli(), "serve", "--scheme", scheme, "--options", options});
        EXPECT_EQ(serve.Wait(30s), 2) << serve.Out();
        EXPECT_EQ(serve.Err(), "kanaliko-cli: the scheme " + scheme +
                                   " has nothing to listen on: no Proto named TCP, UDP or IP "
                                   "with a Port\n");
    }
}

} // namespace

namespace {

// A --csv path that could not be written was found only after the whole
// check, so its result was lost.
TEST_F(CliLocal, ACsvFileThatCannotBeCreatedStopsTheCheckBeforeItStarts)
{
    const std::string options = folder.File("options.xml");
    WriteBytes(options, OptionsText(200, 1, 2, 10));
    const std::string scheme = folder.File("scheme.xml");
    WriteBytes(scheme, LoopbackScheme());
    for (const std::string& csv : {folder.File("no-such-folder/events.csv"), folder.Path().string()}) {
        SCOPED_TRACE(csv);
        CChild check(Check({"127.0.0.1", "--serve", "--csv", csv, "--scheme", scheme,
                            "--options", options}));
        EXPECT_EQ(check.Wait(30s), 2);
        EXPECT_EQ(Count(check.Err(), "\n"), 1) << check.Err();
        EXPECT_NE(check.Err().find("kanaliko-cli: Не удалось сохранить файл " + csv),
                  std::string::npos)
            << check.Err();
        EXPECT_EQ(check.Out().substr(0, 200), "") << "nothing was probed";
    }
}

// The early test of the CSV path leaves nothing behind: a check that never gets
// to write its file (killed here) leaves no empty file either.
TEST_F(CliLocal, TheCsvFileAppearsOnlyWithItsEvents)
{
    const std::string options = folder.File("options.xml");
    WriteBytes(options, OptionsText(200, 1, 100, 10));
    const std::string scheme = folder.File("scheme.xml");
    WriteBytes(scheme, SchemeText(TcpProto(FreePort(SOCK_STREAM)))); // nobody listens: slow
    const std::string csv = folder.File("events.csv");
    {
        CChild check(Check({"127.0.0.1", "--csv", csv, "--scheme", scheme, "--options", options}));
        ASSERT_TRUE(check.WaitForText("Не удалось подключиться", 20s)) << check.Err();
        EXPECT_FALSE(std::filesystem::exists(csv)) << "no empty file while the check runs";
        check.Signal(SIGKILL);
        EXPECT_EQ(check.Wait(10s), 128 + SIGKILL);
    }
    EXPECT_FALSE(std::filesystem::exists(csv));

    WriteBytes(scheme, LoopbackScheme());
    WriteBytes(options, OptionsText(200, 1, 2, 10));
    CChild check(
        Check({"127.0.0.1", "--serve", "--csv", csv, "--scheme", scheme, "--options", options}));
    ASSERT_EQ(check.Wait(30s), 0) << check.Err();
    EXPECT_GT(Count(ReadFile(csv), "\r\n"), 5) << "the header and the events";
}

} // namespace

namespace {

// Sends n probes to the UDP port from one socket, each after the echo of the
// one before (so the server has handled them all); returns the echoes.
// n probes, each from a socket of its own (all kept open, so no two share a
// port): a server answers one endpoint once in 0.9 s, whatever it sends.
int FloodUdp(std::uint16_t port, int n)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::vector<char> probe = channel::BuildRequest(10);
    std::vector<int> sockets;
    int echoes = 0;
    char reply[2048];
    for (int i = 0; i < n; ++i) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0)
            break;
        sockets.push_back(fd);
        timeval wait{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        ::sendto(fd, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (::recv(fd, reply, sizeof reply, 0) > 0)
            ++echoes;
    }
    for (const int fd : sockets)
        ::close(fd);
    return echoes;
}

// serve kept every event: a node under a flood for weeks grew until it was
// killed (10.8 -> 29.3 MB after 246,000 events). It now keeps the latest ones.
TEST_F(CliLocal, ServeKeepsABoundedHistoryAndSaysWhatItDropped)
{
    const std::string options = folder.File("options.xml");
    WriteBytes(options, OptionsText(200, 1, 2, 10));
    const std::uint16_t port = FreePort(SOCK_DGRAM);
    const std::string scheme = folder.File("scheme.xml");
    WriteBytes(scheme, SchemeText("<Proto name=\"UDP\"><Port srvPort=\"" + std::to_string(port) +
                                  "\" clPort=\"0\"/></Proto>"));
    CChild serve(
        {Cli(), "serve", "--keep-events", "100", "--scheme", scheme, "--options", options});
    ASSERT_TRUE(serve.WaitForText("Порт открыт", 20s)) << serve.Err();
    EXPECT_EQ(FloodUdp(port, 300), 300);
    // Every event is printed once before it may be dropped.
    ASSERT_TRUE(serve.WaitForOutput(
        [](const std::string& out) { return Count(out, "Данные отправлены") == 300; }, 20s));
    serve.Signal(SIGTERM);
    ASSERT_EQ(serve.Wait(20s), 0) << serve.Err();
    const std::string out = serve.Out();
    const int printed = Count(out, "\n");
    EXPECT_EQ(printed, 601) << "the port opened, then a receive and an echo per probe";
    const std::string err = serve.Err();
    EXPECT_GE(Count(err, "kanaliko-cli: dropped the oldest "), 15) << err;
    EXPECT_NE(err.find(", keeping the last 100 (--keep-events)"), std::string::npos) << err;
    const std::string total = "kanaliko-cli: ";
    const std::size_t at = err.find(" older events were dropped in all, the last ");
    ASSERT_NE(at, std::string::npos) << err;
    const std::size_t start = err.rfind(total, at) + total.size();
    const int dropped = std::stoi(err.substr(start, at - start));
    const int kept = std::stoi(err.substr(at + std::string(" older events were dropped in all, "
                                                           "the last ")
                                                   .size()));
    EXPECT_GE(kept, 100);
    EXPECT_LT(kept, 125);
    EXPECT_EQ(dropped + kept, printed);

    CChild usage({Cli(), "serve", "--keep-events", "99", "--scheme", scheme});
    EXPECT_EQ(usage.Wait(20s), 2);
    EXPECT_NE(usage.Err().find("--keep-events must be between 100 and 100000000"),
              std::string::npos)
        << usage.Err();
}

} // namespace

namespace {

// A port listed in two groups shared one row key: check answered every probe
// of TCP 43001 (tried as a new user would), yet printed the second group's row
// at "..." with 0/0 and exited 1.
TEST_F(CliLocal, APortInTwoGroupsShowsItsProgressInBothAndTheCheckPasses)
{
    const std::string options = folder.File("options.xml");
    WriteBytes(options, OptionsText(200, 1, 2, 10));
    const std::uint16_t port = FreePort(SOCK_STREAM);
    const std::string scheme = folder.File("scheme.xml");
    WriteBytes(scheme, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chanels>"
                       "<Group senderName=\"a\" receiverName=\"b\">" +
                           TcpProto(port) +
                           "</Group><Group senderName=\"c\" receiverName=\"d\">" +
                           TcpProto(port) + "</Group></Chanels>\n");
    CChild check(Check({"127.0.0.1", "--serve", "--json", "--scheme", scheme, "--options",
                        options}));
    ASSERT_EQ(check.Wait(30s), 0) << check.Err() << check.Out();
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(check.Out())).object();
    EXPECT_TRUE(document["allAnswered"].toBool());
    int rows = 0;
    for (const auto& peer : document["peers"].toArray())
        for (const auto& group : peer.toObject()["groups"].toArray())
            for (const auto& protocol : group.toObject()["protocols"].toArray())
                for (const auto& row : protocol.toObject()["ports"].toArray()) {
                    ++rows;
                    const QJsonObject r = row.toObject();
                    EXPECT_EQ(r["serverPort"].toInt(), port);
                    EXPECT_EQ(r["attempts"].toInt(), 2) << check.Out();
                    EXPECT_EQ(r["replies"].toInt(), 2) << check.Out();
                    EXPECT_EQ(r["state"].toString(), QStringLiteral("Данные получены"));
                }
    EXPECT_EQ(rows, 2);

    // The text summary says the same, row by row.
    CChild text(Check({"127.0.0.1", "--serve", "--scheme", scheme, "--options", options}));
    ASSERT_EQ(text.Wait(30s), 0) << text.Err();
    const std::string line = "\t\t\tДанные получены\t" + std::to_string(port) + "\t" +
                             std::to_string(port) + "\t2\t2\n";
    EXPECT_EQ(Count(text.Out(), line), 2) << text.Out();
}

} // namespace
