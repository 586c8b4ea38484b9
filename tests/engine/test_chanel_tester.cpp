// The access-server check: the datagram, the answer on loopback, a busy local
// port, the trace on loopback and through routers, and closing in the middle.
//
// Traces through routers run in a child process inside host A of the routed
// test network (diag/support/EchoTestKit.h), so that every thread of the
// tester, the pool's included, sends from A:
//
//   A 198.18.1.2 --- R1 198.18.1.1 / 198.18.2.1 --- R2 198.18.2.2 / 198.18.3.1 --- B 198.18.3.2
//   (198.18.9.0/24 is blackholed at B: those addresses never answer)

#include "engine/CChanelTester.h"

#include "channel/AppMessages.h"
#include "diag/support/EchoTestKit.h"
#include "engine/support/RecordingApp.h"
#include "ferrox/strings/Strings.h"
#include "loop/EventLoop.h"
#include "loop/support/LoopTestSupport.h"
#include "platform/IcmpEcho.h"
#include "support/FreePorts.h"
#include "support/UdpResponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>

#include <gtest/gtest.h>

using engine::CChanelTester;
using engine::ChanelHop;
using engine::ChanelStage;
using testsupport::CUdpResponder;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Plays the dialog's part: WM_EVENT_ADDED goes to StageEnded, timer 1 to
// TimeOutExpired; the stages are recorded.
class CTesterDriver
{
public:
    CTesterDriver() : tester(window.Handle())
    {
        window.onMessage = [this](const testsupport::CRecordingWindow::Message& m) {
            if (m.message == channel::WM_EVENT_ADDED)
                stages.push_back(tester.StageEnded(m.wParam));
        };
        window.onTimer = [this](loop::UINT_PTR id) {
            if (id == CChanelTester::TimerId)
                tester.TimeOutExpired();
        };
    }

    void Configure(const char* server, std::uint16_t serverPort, std::uint16_t localPort,
                   unsigned timeOut)
    {
        tester.SetAccessServer(::inet_addr(server), serverPort);
        tester.SetLocalPort(localPort);
        tester.SetTimeOut(timeOut);
    }

    bool Finished() const
    {
        return !stages.empty() &&
               (stages.back() == ChanelStage::Answered || stages.back() == ChanelStage::Reported);
    }
    bool RunToResult(std::chrono::milliseconds limit)
    {
        return loop::RunUntil([this] { return Finished(); }, limit);
    }

    testsupport::CRecordingWindow window; // outlives the tester
    CChanelTester tester;
    std::vector<ChanelStage> stages;
};

std::uint16_t FreeUdpPort()
{
    return testsupport::FreePort(SOCK_DGRAM);
}

bool EchoAvailable()
{
    platform::HANDLE handle = platform::IcmpCreateFile();
    if (handle == platform::INVALID_HANDLE_VALUE)
        return false;
    platform::IcmpCloseHandle(handle);
    return true;
}

std::uint32_t TimeField(const std::vector<std::uint8_t>& datagram)
{
    return static_cast<std::uint32_t>(datagram[15]) |
           static_cast<std::uint32_t>(datagram[16]) << 8 |
           static_cast<std::uint32_t>(datagram[17]) << 16 |
           static_cast<std::uint32_t>(datagram[18]) << 24;
}

const std::vector<std::uint8_t> kFixedPart = {0x00, 0xFF, 0x03, 0xC0, 0x21, 0x01, 0x00, 0x00,
                                              0x04, 0x01, 0x04, 0x05, 0xDC, 0x01, 0x06};

// ---- helper modes, run inside host A ----

void PrintReport(const CTesterDriver& driver)
{
    std::istringstream lines(as_string(driver.tester.ReportText()));
    for (std::string line; std::getline(lines, line);)
        std::printf("line=%s\n", line.c_str());
    for (ChanelStage stage : driver.stages)
        std::printf("stage=%d\n", static_cast<int>(stage));
}

// A full check against `server` with a time-out of 1 s; prints the report.
int TraceTo(const char* server)
{
    enginetest::EnsureApplication();
    CTesterDriver driver;
    driver.Configure(server, 47700, FreeUdpPort(), 1);
    const auto started = Clock::now();
    if (!driver.tester.Start()) {
        std::printf("start_failed=%d\n", driver.tester.StartError());
        return 1;
    }
    std::printf("finished=%d\n", driver.RunToResult(30s) ? 1 : 0);
    std::printf(
        "elapsed_ms=%lld\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()));
    PrintReport(driver);
    return 0;
}

KANALIKO_ECHO_HELPER_MODE(tester_closed_port)
{
    return TraceTo(echotest::kHostB);
}

KANALIKO_ECHO_HELPER_MODE(tester_blackholed)
{
    return TraceTo(echotest::kBlackholed);
}

// The tester goes away while the trace waits for the echo of the hop behind
// R2; the window stays and must hear nothing more.
KANALIKO_ECHO_HELPER_MODE(tester_close_mid_trace)
{
    enginetest::EnsureApplication();
    testsupport::CRecordingWindow window;
    auto tester = std::make_unique<CChanelTester>(window.Handle());
    CChanelTester* const raw = tester.get();
    window.onMessage = [&](const testsupport::CRecordingWindow::Message& m) {
        if (tester && m.message == channel::WM_EVENT_ADDED)
            tester->StageEnded(m.wParam);
    };
    window.onTimer = [&](loop::UINT_PTR id) {
        if (tester && id == CChanelTester::TimerId)
            tester->TimeOutExpired();
    };
    tester->SetAccessServer(::inet_addr(echotest::kBlackholed), 47700);
    tester->SetLocalPort(FreeUdpPort());
    tester->SetTimeOut(1);
    if (!tester->Start())
        return 1;
    // R1 and R2 answer at once; the third hop then waits out its echo.
    const bool inTrace = loop::RunUntil([&] { return raw->Hops().size() >= 2; }, 20s);
    std::printf("in_trace=%d\n", inTrace ? 1 : 0);
    const std::size_t messagesBefore = window.messages.size();
    const auto closing = Clock::now();
    tester.reset();
    std::printf(
        "close_ms=%lld\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closing).count()));
    // Longer than the rest of the hop's echo wait and the trace's end.
    loop::ProcessEventsFor(2500ms);
    std::printf("late_messages=%zu\n", window.messages.size() - messagesBefore);
    std::printf("late_timers=%d\n", window.TimerCount(CChanelTester::TimerId) > 1 ? 1 : 0);
    return 0;
}

std::vector<std::string> Lines(const echotest::ChildResult& child)
{
    return child.All("line");
}

class ChanelTesterRouted : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KANALIKO_SKIP_UNLESS_NAMESPACES();
        network = std::make_unique<echotest::CRoutedNetwork>();
    }
    echotest::ChildResult Run(const std::string& mode)
    {
        return echotest::RunHelper("ip netns exec " + network->a, mode);
    }
    std::unique_ptr<echotest::CRoutedNetwork> network;
};

} // namespace

// ---- the datagram ----

TEST(ChanelTesterDatagram, IsNineteenFixedBytesWithTheLowTimeBitsLittleEndian)
{
    const auto datagram = CChanelTester::BuildDatagram(0x1'2233'4455ull);
    ASSERT_EQ(datagram.size(), 19u);
    EXPECT_EQ(std::vector<std::uint8_t>(datagram.begin(), datagram.begin() + 15), kFixedPart);
    EXPECT_EQ(datagram[15], 0x55);
    EXPECT_EQ(datagram[16], 0x44);
    EXPECT_EQ(datagram[17], 0x33);
    EXPECT_EQ(datagram[18], 0x22); // bit 32 and above are dropped
}

TEST(ChanelTesterDatagram, ReportListsEachHopAndAnUnreachableOneWithoutAPortVerdict)
{
    std::vector<ChanelHop> hops(3);
    hops[0].Text = L"198.18.1.1";
    hops[0].PortOpen = true;
    hops[1].Text = L"198.18.2.2";
    hops[1].PortOpen = false;
    hops[2].Text = L"заданный узел недоступен";
    hops[2].PortOpen = true;
    EXPECT_EQ(CChanelTester::ReportText(hops), L"Истёк тайм-аут\r\n198.18.1.1: порт открыт\r\n"
                                               L"198.18.2.2: порт закрыт\r\n"
                                               L"заданный узел недоступен\r\n");
    EXPECT_EQ(CChanelTester::ReportText({}), L"Истёк тайм-аут\r\n");
}

// ---- loopback ----

TEST(ChanelTesterLoopback, AResponderAnswersAndSeesTheFixedDatagramFromTheLocalPort)
{
    enginetest::EnsureApplication();
    CUdpResponder responder;
    CTesterDriver driver;
    const std::uint16_t localPort = FreeUdpPort();
    driver.Configure("127.0.0.1", responder.Port(), localPort, 1);
    const auto before = static_cast<std::uint32_t>(std::time(nullptr));
    ASSERT_TRUE(driver.tester.Start()) << driver.tester.StartError();
    ASSERT_TRUE(driver.RunToResult(10s));
    const auto after = static_cast<std::uint32_t>(std::time(nullptr));

    EXPECT_EQ(driver.stages, std::vector<ChanelStage>{ChanelStage::Answered});
    EXPECT_TRUE(driver.tester.Answered());
    EXPECT_FALSE(driver.tester.Checking());
    const auto datagrams = responder.Datagrams();
    ASSERT_EQ(datagrams.size(), 1u);
    const auto& bytes = datagrams[0].bytes;
    ASSERT_EQ(bytes.size(), 19u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 15), kFixedPart);
    EXPECT_GE(TimeField(bytes), before);
    EXPECT_LE(TimeField(bytes), after);
    EXPECT_EQ(datagrams[0].senderPort, localPort);

    // The answer stopped the 1-second timer: it never expires afterwards.
    loop::ProcessEventsFor(2s);
    EXPECT_EQ(driver.window.TimerCount(CChanelTester::TimerId), 0);
    EXPECT_EQ(driver.stages.size(), 1u);
}

TEST(ChanelTesterLoopback, AnyDatagramFromAnyPortCountsHoweverLong)
{
    enginetest::EnsureApplication();
    // The answer comes from another port than the one asked, and is longer
    // than the first receive buffer (20 bytes): a datagram that does not fit
    // used to be dropped as if nothing had come. 65507 is the largest there is.
    for (std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{65507}}) {
        CUdpResponder responder(CUdpResponder::Reply::OtherSocket, size);
        CTesterDriver driver;
        driver.Configure("127.0.0.1", responder.Port(), FreeUdpPort(), 10);
        const auto started = Clock::now();
        ASSERT_TRUE(driver.tester.Start());
        ASSERT_TRUE(driver.RunToResult(20s)) << size;
        EXPECT_EQ(driver.stages, std::vector<ChanelStage>{ChanelStage::Answered}) << size;
        EXPECT_LT(Clock::now() - started, 5s) << "long before the 10 s time-out";
    }
}

TEST(ChanelTesterLoopback, ABusyLocalPortIsNamedAndNothingStarts)
{
    enginetest::EnsureApplication();
    CUdpResponder occupant(CUdpResponder::Reply::None, 0, "0.0.0.0");
    CTesterDriver driver;
    driver.Configure("127.0.0.1", FreeUdpPort(), occupant.Port(), 1);
    EXPECT_FALSE(driver.tester.Start());
    EXPECT_EQ(driver.tester.StartError(), 10048);
    EXPECT_EQ(driver.tester.StartErrorText(),
              L"Порт " + std::to_wstring(occupant.Port()) + L" занят");
    EXPECT_FALSE(driver.tester.Checking());
    loop::ProcessEventsFor(200ms);
    EXPECT_TRUE(driver.window.messages.empty());

    // The same tester starts fine once the port is free again.
    driver.tester.SetLocalPort(FreeUdpPort());
    CUdpResponder responder;
    driver.tester.SetAccessServer(::inet_addr("127.0.0.1"), responder.Port());
    ASSERT_TRUE(driver.tester.Start());
    EXPECT_TRUE(driver.tester.StartErrorText().empty());
    ASSERT_TRUE(driver.RunToResult(10s));
    EXPECT_EQ(driver.stages.back(), ChanelStage::Answered);
}

TEST(ChanelTesterLoopback, ClosingWhileWaitingReturnsAtOnceAndPostsNothing)
{
    enginetest::EnsureApplication();
    CUdpResponder silent(CUdpResponder::Reply::None);
    testsupport::CRecordingWindow window;
    auto tester = std::make_unique<CChanelTester>(window.Handle());
    tester->SetAccessServer(::inet_addr("127.0.0.1"), silent.Port());
    tester->SetLocalPort(FreeUdpPort());
    tester->SetTimeOut(600);
    ASSERT_TRUE(tester->Start());
    ASSERT_TRUE(silent.WaitForDatagrams(1, 10s)); // the loop is running by now
    const auto closing = Clock::now();
    tester.reset();
    EXPECT_LT(Clock::now() - closing, 1s) << "the loop's pause is cut short";
    loop::ProcessEventsFor(300ms);
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(window.timers.empty());
}

TEST(ChanelTesterLoopback, ATimeOutTracesOneHopWithANewTimeAndThePortVerdict)
{
    enginetest::EnsureApplication();
    if (!EchoAvailable())
        GTEST_SKIP() << "needs ICMP echo: root, CAP_NET_RAW or ping sockets (CI runs as root)";

    // A listener that never answers: the port is open, the datagram is not
    // answered, the trace's own datagram reaches it with a later time.
    {
        CUdpResponder silent(CUdpResponder::Reply::None);
        CTesterDriver driver;
        driver.Configure("127.0.0.1", silent.Port(), FreeUdpPort(), 1);
        const auto started = Clock::now();
        ASSERT_TRUE(driver.tester.Start());
        ASSERT_TRUE(driver.RunToResult(20s));
        EXPECT_GE(Clock::now() - started, 1s);
        EXPECT_EQ(driver.stages,
                  (std::vector<ChanelStage>{ChanelStage::Tracing, ChanelStage::Reported}));
        EXPECT_FALSE(driver.tester.Answered());
        EXPECT_TRUE(driver.tester.TraceDone());
        EXPECT_EQ(driver.tester.ReportText(), L"Истёк тайм-аут\r\n127.0.0.1: порт открыт\r\n");
        // The listener's thread may still be storing the trace's datagram.
        ASSERT_TRUE(silent.WaitForDatagrams(2, 10s));
        const auto datagrams = silent.Datagrams();
        ASSERT_EQ(datagrams.size(), 2u);
        EXPECT_EQ(datagrams[1].bytes.size(), 19u);
        EXPECT_GT(TimeField(datagrams[1].bytes), TimeField(datagrams[0].bytes))
            << "the trace builds its datagram anew, a second or more later";
    }
    // Nothing on the port: refused at the server itself.
    {
        CTesterDriver driver;
        driver.Configure("127.0.0.1", FreeUdpPort(), FreeUdpPort(), 1);
        ASSERT_TRUE(driver.tester.Start());
        ASSERT_TRUE(driver.RunToResult(20s));
        EXPECT_EQ(driver.tester.ReportText(), L"Истёк тайм-аут\r\n127.0.0.1: порт закрыт\r\n");
        const auto hops = driver.tester.Hops();
        ASSERT_EQ(hops.size(), 1u);
        EXPECT_TRUE(hops[0].Answered);
        EXPECT_EQ(hops[0].Address, ::inet_addr("127.0.0.1"));
    }
}

// ---- through routers ----

TEST_F(ChanelTesterRouted, AClosedPortIsFoundAtTheServerBehindTwoRouters)
{
    const auto child = Run("tester_closed_port");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    ASSERT_EQ(child.Value("finished"), "1") << child.output;
    EXPECT_EQ(child.All("stage"), (std::vector<std::string>{"2", "3"})); // tracing, reported
    // Each router lets the datagram's time-to-live run out (not refused); B
    // refuses the port.
    EXPECT_EQ(Lines(child),
              (std::vector<std::string>{"Истёк тайм-аут\r", "198.18.1.1: порт открыт\r",
                                        "198.18.2.2: порт открыт\r", "198.18.3.2: порт закрыт\r"}))
        << child.output;
}

TEST_F(ChanelTesterRouted, ABlackholedServerEndsWithTheUnreachableLine)
{
    const auto child = Run("tester_blackholed");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    ASSERT_EQ(child.Value("finished"), "1") << child.output;
    const auto lines = Lines(child);
    ASSERT_EQ(lines.size(), 4u) << child.output;
    EXPECT_EQ(lines[0], "Истёк тайм-аут\r");
    EXPECT_EQ(lines[1], "198.18.1.1: порт открыт\r");
    EXPECT_EQ(lines[2], "198.18.2.2: порт открыт\r");
    EXPECT_EQ(lines[3], "заданный узел недоступен\r");
    // 1 s of waiting, then one hop's 1 s echo wait that nobody answers.
    EXPECT_GE(std::atoi(child.Value("elapsed_ms").c_str()), 2000);
}

// Closing used to wait "time-out seconds" as milliseconds and then drop the
// task: the trace went on with the destroyed tester and posted to the window.
TEST_F(ChanelTesterRouted, ClosingInTheMiddleOfATraceWaitsForItAndNothingArrivesLater)
{
    const auto child = Run("tester_close_mid_trace");
    ASSERT_EQ(child.exitCode, 0) << child.output; // a sanitizer report fails the child
    ASSERT_EQ(child.Value("in_trace"), "1") << child.output;
    // Bounded by the hop's 1000 ms echo wait (3x slack for a busy machine).
    EXPECT_LT(std::atoi(child.Value("close_ms").c_str()), 3000) << child.output;
    EXPECT_EQ(child.Value("late_messages"), "0") << child.output;
    EXPECT_EQ(child.Value("late_timers"), "0") << child.output;
}
