// The echo request engine with real packets: loopback and the routed test
// network (diag/support/EchoTestKit.h), read the way the echo panes read it.

#include "diag/CPing.h"

#include "channel/AppMessages.h"
#include "diag/support/DiagTestSupport.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/threads/ThreadPool.h"
#include "support/NetNamespaces.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace diag;
using diagtest::CMessageLog;
using echotest::Addr;
using echotest::Dotted;
using std::chrono::milliseconds;

namespace {

EchoSettings Settings(std::uint32_t interval = 200, std::uint32_t timeOut = 500,
                      std::uint16_t size = 32, std::uint8_t ttl = 64, std::uint32_t limit = 1000)
{
    EchoSettings settings;
    settings.Ttl = ttl;
    settings.TimeOut = timeOut;
    settings.Interval = interval;
    settings.Size = size;
    settings.RecordLimit = limit;
    return settings;
}

std::vector<std::string> LoopbackTargets(int first, int count)
{
    std::vector<std::string> targets;
    for (int i = 0; i < count; ++i)
        targets.push_back("127.0.0." + std::to_string(first + i));
    return targets;
}

std::vector<EchoRecord> Records(CPing& ping, int target)
{
    std::vector<EchoRecord> records;
    const int count = ping.GetRecordCount(target);
    for (int i = 0; i < count; ++i)
        if (const EchoRecord* record = ping.GetRecord(target, i))
            records.push_back(*record);
    return records;
}

std::uint32_t CeilingHalf(std::uint32_t a, std::uint32_t b)
{
    return (a + b + 1) / 2;
}

// Collects what is written to a debug stream while it lives.
class CStreamCapture final : public TStreamWriter
{
public:
    void StreamWriteString(const char* text, unsigned length) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_text.append(text, length);
    }
    std::string Text()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_text;
    }

private:
    std::mutex m_lock;
    std::string m_text;
};

// Local time is UTC while a test runs, so the formatted times are known.
class ScopedUtc
{
public:
    ScopedUtc()
    {
        if (const char* tz = std::getenv("TZ"))
            m_previous = tz, m_had = true;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~ScopedUtc()
    {
        if (m_had)
            ::setenv("TZ", m_previous.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string m_previous;
    bool m_had = false;
};

} // namespace

// ---------------------------------------------------------------------------
// Texts

TEST(PingTexts, StatusTextsAndTheErrorLineForUnknownStatuses)
{
    EXPECT_EQ(CPing::StatusText(0), L"Успешно");
    EXPECT_EQ(CPing::StatusText(11002), L"Заданная сеть недоступна");
    EXPECT_EQ(CPing::StatusText(11010), L"Превышен интервал ожидания для запроса.");
    EXPECT_EQ(CPing::StatusText(11013), L"Превышен срок жизни (TTL) при передаче пакета.");
    EXPECT_EQ(CPing::StatusText(11050), L"Сбой передачи");

    SmartPtr<CStreamCapture> capture(new CStreamCapture);
    Error.AddWriter(capture);
    EXPECT_EQ(CPing::StatusText(11003), L"Не определён");
    EXPECT_EQ(CPing::StatusText(42), L"Не определён");
    Error.RemoveWriter(capture);
    EXPECT_NE(capture->Text().find("неизвестный результат ping: 11003\n"), std::string::npos);
    EXPECT_NE(capture->Text().find("неизвестный результат ping: 42\n"), std::string::npos);
}

TEST(PingTexts, EchoLinesInTimeOnlyAnsweredAndUnansweredForms)
{
    ScopedUtc utc;
    EchoRecord record;
    record.SentTime = 1717232706; // 2024-06-01 09:05:06 UTC
    record.Size = 32;
    record.Ttl = 200;
    record.RoundTripTime = 7;
    EXPECT_EQ(CPing::FormatEchoLine(record, true), L"9:05:06 01-06-2024");
    EXPECT_EQ(CPing::FormatEchoLine(record, false),
              L"[9:05:06 01-06-2024] ответ получен: число байт 32, время 7 мс, TTL=200");
    record.RoundTripTime = 0;
    EXPECT_EQ(CPing::FormatEchoLine(record, false),
              L"[9:05:06 01-06-2024] ответ получен: число байт 32, время <1мс, TTL=200");
    record.Status = 11002;
    record.RoundTripTime = 3; // a router's answer keeps its time, the line does not show it
    EXPECT_EQ(CPing::FormatEchoLine(record, false),
              L"[9:05:06 01-06-2024] ответ не получен: Заданная сеть недоступна");
    record.Status = 11010;
    record.SentTime = 1735689599; // 2024-12-31 23:59:59 UTC
    EXPECT_EQ(CPing::FormatEchoLine(record, false),
              L"[23:59:59 31-12-2024] ответ не получен: Превышен интервал ожидания для запроса.");
}

TEST(PingTargets, IndexesAddressesAndDuplicates)
{
    CPing ping(true, {"127.0.0.2", "127.0.0.3", "127.0.0.2", "not-an-address"}, Settings());
    EXPECT_EQ(ping.IndexOf("127.0.0.2"), 0);
    EXPECT_EQ(ping.IndexOf("127.0.0.3"), 1);
    EXPECT_EQ(ping.IndexOf("10.1.2.3"), 0);
    EXPECT_EQ(ping.GetAddress(1), Addr("127.0.0.3"));
    EXPECT_EQ(ping.GetAddress(2), Addr("127.0.0.2"));
    EXPECT_EQ(ping.GetAddress(3), 0xFFFFFFFFu); // inet_addr's answer, probed as such
    EXPECT_EQ(ping.GetAddress(4), 0xFFFFFFFFu);
    EXPECT_EQ(ping.GetAddress(-1), 0xFFFFFFFFu);
    EXPECT_EQ(ping.GetRecordCount(0), 0);
    EXPECT_EQ(ping.GetRecord(0, 0), nullptr);
    const EchoStatistics fresh = ping.GetStatistics(1);
    EXPECT_EQ(fresh.Sent, 0u);
    EXPECT_EQ(fresh.Minimum, 1000u);
    EXPECT_EQ(fresh.Maximum, 0u);
    EXPECT_EQ(fresh.Average, 0u);
}

// ---------------------------------------------------------------------------
// Loopback

class PingLoopback : public ::testing::Test
{
protected:
    void SetUp() override { KANALIKO_SKIP_UNLESS_RAW(); }

    CMessageLog statistics, records;
};

TEST_F(PingLoopback, RepliesAreCountedStoredAndAnnouncedInOrder)
{
    const std::int64_t before = std::time(nullptr);
    CPing ping(true, {"127.0.0.1"}, Settings(200, 500, 32, 64));
    ping.SetStatisticsWindow(statistics.Handle());
    ping.SetRecordsWindow(records.Handle());
    ping.Start();
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return records.messages.size() >= 3; }, milliseconds(5000)));
    ping.Stop();
    const std::int64_t after = std::time(nullptr);

    // Each result: statistics first, then records with the stored count.
    ASSERT_GE(statistics.messages.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(statistics.messages[i].message, channel::WM_ECHO_STATISTICS);
        EXPECT_EQ(statistics.messages[i].wParam, 0u);
        EXPECT_EQ(statistics.messages[i].lParam, 0);
        EXPECT_EQ(records.messages[i].message, channel::WM_ECHO_RECORDS);
        EXPECT_EQ(records.messages[i].lParam, static_cast<loop::LPARAM>(i + 1));
        EXPECT_LE(statistics.messages[i].at, records.messages[i].at);
    }
    const EchoStatistics s = ping.GetStatistics(0);
    EXPECT_GE(s.Sent, 3u);
    EXPECT_EQ(s.Received, s.Sent);
    EXPECT_EQ(s.Lost, 0u);
    EXPECT_LE(s.Minimum, s.Maximum);
    EXPECT_LT(s.Maximum, 100u);
    EXPECT_EQ(s.Average, CeilingHalf(s.Minimum, s.Maximum));
    std::uint32_t sequence = 0;
    for (const EchoRecord& r : Records(ping, 0)) {
        EXPECT_EQ(r.Status, 0u);
        EXPECT_EQ(r.Size, 32u);
        EXPECT_EQ(r.Ttl, 64);
        EXPECT_GE(r.SentTime, before);
        EXPECT_LE(r.SentTime, after);
        // The kernel-stamped microseconds, of which the whole milliseconds are
        // what the texts show; the sequence counts the requests.
        EXPECT_GT(r.RoundTripMicroseconds, 0u);
        EXPECT_EQ(r.RoundTripMicroseconds / 1000, r.RoundTripTime);
        EXPECT_EQ(r.SentTimeMicroseconds / 1000000, r.SentTime);
        EXPECT_EQ(r.Sequence, ++sequence);
        EXPECT_EQ(
            CPing::FormatEchoLine(r, false).rfind(L"[" + CPing::FormatEchoLine(r, true) +
                                                      L"] ответ получен: число байт 32, время ",
                                                  0),
            0u);
    }
}

// A bounded run (kanaliko-cli ping --count) used to stop only when the slowest
// target had its requests: each target now stops at exactly its limit.
TEST_F(PingLoopback, RequestLimitStopsEachTargetAtExactlyThatMany)
{
    EchoSettings settings = Settings(200, 500);
    settings.RequestLimit = 3;
    CPing ping(true, {"127.0.0.1", "127.0.0.2"}, settings);
    ping.SetRecordsWindow(records.Handle());
    ping.Start();
    ASSERT_TRUE(diagtest::RunUntil([&] { return ping.RequestsDone(); }, milliseconds(8000)))
        << "every worker returns by itself after its third request";
    diagtest::RunUntil([] { return false; }, milliseconds(50)); // the last messages
    ping.Stop();
    for (int target = 0; target < 2; ++target) {
        const EchoStatistics s = ping.GetStatistics(target);
        EXPECT_EQ(s.Sent, 3u) << target;
        EXPECT_EQ(s.Received + s.Lost, 3u) << target;
        EXPECT_EQ(ping.GetRecordCount(target), 3) << target;
        EXPECT_EQ(records.With(channel::WM_ECHO_RECORDS, target).size(), 3u) << target;
    }
}

TEST_F(PingLoopback, RingWithLimitThreeHoldsResultsFourFiveThree)
{
    // Each request gets its own size (n for request n), so each stored result
    // tells which request it was.
    CPing ping(true, {"127.0.0.4"}, Settings(200, 500, 1, 64, 3));
    ping.SetRecordsWindow(records.Handle());
    std::vector<std::vector<std::uint32_t>> seen; // sizes in storage order after each store
    records.onMessage = [&](const CMessageLog::Message&) {
        std::vector<std::uint32_t> sizes;
        for (const auto& r : Records(ping, 0))
            sizes.push_back(r.Size);
        seen.push_back(sizes);
        EchoSettings next = ping.Settings();
        next.Size = static_cast<std::uint16_t>(seen.size() + 1);
        ping.ApplySettings(next);
    };
    ping.Start();
    ASSERT_TRUE(diagtest::RunUntil([&] { return seen.size() >= 6; }, milliseconds(8000)));
    ping.Stop();
    using V = std::vector<std::uint32_t>;
    EXPECT_EQ(seen[2], (V{1, 2, 3}));
    EXPECT_EQ(seen[3], (V{4, 2, 3}));
    EXPECT_EQ(seen[4], (V{4, 5, 3}));
    EXPECT_EQ(seen[5], (V{4, 5, 6})); // the ring position was 2
    EXPECT_EQ(records.messages[4].lParam, 3);
}

// Once the list had become a ring, results used to be served in storage order
// only, so a view showed them out of order; a raised limit then appended after
// the oldest. Now every reading in time order is the newest results, oldest
// first, whatever the limit did.
TEST_F(PingLoopback, RingIsServedInTimeOrderThroughRaisedAndLoweredLimits)
{
    CPing ping(true, {"127.0.0.6"}, Settings(200, 500, 8, 64, 3));
    ping.SetRecordsWindow(records.Handle());
    std::vector<std::vector<std::uint32_t>> seen; // sequences in time order, per message
    records.onMessage = [&](const CMessageLog::Message& m) {
        std::vector<std::uint32_t> order;
        for (int i = 0; i < ping.GetRecordCount(0); ++i)
            if (const EchoRecord* r = ping.GetRecordInOrder(0, i))
                order.push_back(r->Sequence);
        seen.push_back(order);
        EchoSettings next = ping.Settings();
        if (m.lParam == 3 && seen.size() >= 5 && next.RecordLimit == 3)
            next.RecordLimit = 5; // raised after the ring has turned
        else if (m.lParam == 5 && next.RecordLimit == 5)
            next.RecordLimit = 2;
        ping.ApplySettings(next);
    };
    ping.Start();
    ASSERT_TRUE(diagtest::RunUntil(
        [&] { return !seen.empty() && seen.back().size() == 2 && seen.size() >= 12; },
        milliseconds(10000)));
    ping.Stop();
    EXPECT_EQ(ping.GetRecordInOrder(0, 2), nullptr);
    std::size_t widest = 0;
    for (const auto& order : seen) {
        ASSERT_FALSE(order.empty());
        widest = std::max(widest, order.size());
        // Consecutive requests, oldest first: a time-ordered window.
        for (std::size_t i = 1; i < order.size(); ++i)
            EXPECT_EQ(order[i], order[i - 1] + 1) << ::testing::PrintToString(order);
    }
    EXPECT_EQ(widest, 5u);
    // After five results with limit 3 (storage order 4, 5, 3):
    EXPECT_EQ(seen[4], (std::vector<std::uint32_t>{3, 4, 5}));
}

TEST_F(PingLoopback, LoweredLimitCutsTheListAtTheNextStore)
{
    CPing ping(true, {"127.0.0.5"}, Settings(200, 500, 16, 64, 10));
    ping.SetRecordsWindow(records.Handle());
    bool lowered = false;
    records.onMessage = [&](const CMessageLog::Message& m) {
        if (m.lParam == 7 && !lowered) {
            EchoSettings next = ping.Settings();
            next.RecordLimit = 2;
            ping.ApplySettings(next);
            lowered = true;
        }
    };
    ping.Start();
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return records.messages.size() >= 10; }, milliseconds(8000)));
    ping.Stop();
    EXPECT_EQ(records.messages[6].lParam, 7);
    EXPECT_EQ(records.messages[7].lParam, 2);
    EXPECT_EQ(records.messages[9].lParam, 2);
    EXPECT_EQ(ping.GetRecordCount(0), 2);
}

TEST_F(PingLoopback, SizeAndTtlChangesReachTheWireBeforeTheNextRequest)
{
    // Our own raw socket sees the requests on loopback as they are sent; the
    // target address is used by no other test, so parallel runs stay out of it.
    const int sniffer = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(sniffer, 0);
    int big = 4 << 20;
    ::setsockopt(sniffer, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);

    CPing ping(true, {"127.42.6.6"}, Settings(200, 500, 32, 64));
    ping.SetRecordsWindow(records.Handle());
    records.onMessage = [&](const CMessageLog::Message& m) {
        if (m.lParam == 2) {
            EchoSettings next = ping.Settings();
            next.Size = 1000;
            next.Ttl = 33;
            ping.ApplySettings(next);
        }
    };
    ping.Start();
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return records.messages.size() >= 4; }, milliseconds(5000)));
    ping.Stop();

    std::vector<std::pair<std::size_t, int>> requests; // (data length, TTL) on the wire
    std::vector<std::uint8_t> packet(70000);
    for (;;) {
        const ssize_t n = ::recv(sniffer, packet.data(), packet.size(), 0);
        if (n <= 0)
            break;
        const std::size_t header = (packet[0] & 0x0F) * 4u;
        in_addr destination;
        std::memcpy(&destination, packet.data() + 16, 4);
        if (packet[header] == ICMP_ECHO && destination.s_addr == Addr("127.42.6.6"))
            requests.emplace_back(static_cast<std::size_t>(n) - header - 8, packet[8]);
    }
    ::close(sniffer);
    const auto stored = Records(ping, 0);
    ASSERT_GE(stored.size(), 4u);
    ASSERT_EQ(requests.size(), stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const std::size_t size = i < 2 ? 32 : 1000;
        const int ttl = i < 2 ? 64 : 33;
        EXPECT_EQ(requests[i].first, size) << i;
        EXPECT_EQ(requests[i].second, ttl) << i;
        EXPECT_EQ(stored[i].Size, size) << i;
        EXPECT_EQ(stored[i].Ttl, ttl) << i;
        EXPECT_EQ(stored[i].Status, 0u) << i; // the rebuilt reply buffer holds 1000 bytes
    }
}

TEST_F(PingLoopback, DuplicatedTargetsAreBothProbed)
{
    CPing ping(true, {"127.0.0.7", "127.0.0.8", "127.0.0.7"}, Settings());
    ping.SetRecordsWindow(records.Handle());
    ping.Start();
    ASSERT_TRUE(diagtest::RunUntil(
        [&] {
            return !records.With(channel::WM_ECHO_RECORDS, 0).empty() &&
                   !records.With(channel::WM_ECHO_RECORDS, 2).empty();
        },
        milliseconds(5000)));
    ping.Stop();
    EXPECT_GE(ping.GetStatistics(0).Received, 1u);
    EXPECT_GE(ping.GetStatistics(2).Received, 1u);
    EXPECT_EQ(ping.IndexOf("127.0.0.7"), 0);
    EXPECT_NE(ping.GetRecordByAddress("127.0.0.7", 0), nullptr);
}

TEST_F(PingLoopback, StopEndsALongSleepAtOnceAndNothingFollowsIt)
{
    CPing ping(true, {"127.0.0.9", "127.0.0.10"}, Settings(60000, 500));
    ping.SetRecordsWindow(records.Handle());
    ping.Start();
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return records.messages.size() >= 2; }, milliseconds(5000)));
    const auto started = std::chrono::steady_clock::now();
    ping.Stop();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, milliseconds(2000)); // not the 60 s interval
    EXPECT_FALSE(ping.IsRunning());
    const std::size_t count = records.messages.size();
    diagtest::RunUntil([] { return false; }, milliseconds(300));
    EXPECT_EQ(records.messages.size(), count);
    // The results stay readable after the stop.
    EXPECT_EQ(ping.GetRecordCount(0), 1);
}

// More targets than the pool's default limit of 50: every target is probed, and
// the pool still has workers for everybody else while they run.
TEST_F(PingLoopback, SixtyTargetsAreAllProbedAndThePoolKeepsItsWorkers)
{
    auto pool = GetSystemThreadPool().cast<TThreadPool>();
    ASSERT_TRUE(pool);
    const int limitBefore = pool->MaxTotalThreads();
    {
        CPing ping(true, LoopbackTargets(1, 60), Settings(200, 500, 32, 64));
        ping.Start();
        EXPECT_EQ(pool->MaxTotalThreads(), limitBefore + 60);
        ASSERT_TRUE(diagtest::RunUntil(
            [&] {
                for (int i = 0; i < 60; ++i)
                    if (ping.GetStatistics(i).Sent < 3)
                        return false;
                return true;
            },
            milliseconds(10000)))
            << [&] {
                   std::string sent;
                   for (int i = 0; i < 60; ++i)
                       sent += std::to_string(ping.GetStatistics(i).Sent) + " ";
                   return "sent per target: " + sent + "; " + pool->GetDescription();
               }();

        // Something else of the program (the channel check) gets a worker at once.
        struct CProbe
        {
            void Run() {}
        } probe;
        SmartPtr<TThreadTask> other = MakeMemberTask(&probe, &CProbe::Run);
        GetSystemThreadPool()->AddTask(other);
        EXPECT_TRUE(other->WaitForFinish(2000));
        ping.Stop();
        for (int i = 0; i < 60; ++i) {
            const EchoStatistics s = ping.GetStatistics(i);
            EXPECT_EQ(s.Received, s.Sent) << i;
            for (const EchoRecord& r : Records(ping, i))
                EXPECT_EQ(r.Status, 0u) << i;
        }
    }
    EXPECT_EQ(pool->MaxTotalThreads(), limitBefore);
}

// ---------------------------------------------------------------------------
// The routed network

class PingRouted : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KANALIKO_SKIP_UNLESS_NAMESPACES();
        network = std::make_unique<echotest::CRoutedNetwork>(10);
    }

    // An engine whose echo handles live in host A.
    std::unique_ptr<CPing> PingFromA(const std::vector<std::string>& targets,
                                     const EchoSettings& settings)
    {
        testsupport::ScopedNetns in(network->a);
        return std::make_unique<CPing>(true, targets, settings);
    }

    std::unique_ptr<echotest::CRoutedNetwork> network;
    CMessageLog records;
};

TEST_F(PingRouted, FarHostAnswersAndBlackholedAddressIsLostWithTimeOut)
{
    auto ping = PingFromA({echotest::kHostB, echotest::kBlackholed}, Settings(200, 300));
    ping->SetRecordsWindow(records.Handle());
    ping->Start();
    ASSERT_TRUE(diagtest::RunUntil(
        [&] { return records.With(channel::WM_ECHO_RECORDS, 1).size() >= 4; }, milliseconds(8000)));
    ping->Stop();

    const EchoStatistics far = ping->GetStatistics(0);
    EXPECT_GE(far.Sent, 4u);
    EXPECT_EQ(far.Received, far.Sent);
    EXPECT_LE(far.Minimum, far.Maximum);
    EXPECT_LT(far.Maximum, 300u);
    for (const EchoRecord& r : Records(*ping, 0))
        EXPECT_EQ(r.Status, 0u);

    const EchoStatistics lost = ping->GetStatistics(1);
    EXPECT_GE(lost.Sent, 4u);
    EXPECT_EQ(lost.Received, 0u);
    EXPECT_EQ(lost.Lost, lost.Sent);
    EXPECT_EQ(lost.Minimum, 0u); // lost requests enter with round-trip time 0
    EXPECT_EQ(lost.Maximum, 0u);
    EXPECT_EQ(lost.Average, 0u);
    for (const EchoRecord& r : Records(*ping, 1)) {
        EXPECT_EQ(r.Status, 11010u);
        EXPECT_EQ(r.RoundTripTime, 0u);
    }
}

TEST_F(PingRouted, RoutersAnswerCountsAsLostAndKeepsItsStatus)
{
    auto ping = PingFromA({echotest::kNoRoute}, Settings(200, 500));
    ping->SetRecordsWindow(records.Handle());
    ping->Start();
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return records.messages.size() >= 3; }, milliseconds(5000)));
    ping->Stop();
    const EchoStatistics s = ping->GetStatistics(0);
    EXPECT_EQ(s.Received, 0u);
    EXPECT_EQ(s.Lost, s.Sent);
    for (const EchoRecord& r : Records(*ping, 0)) {
        EXPECT_EQ(r.Status, 11002u);
        EXPECT_NE(
            CPing::FormatEchoLine(r, false).find(L"ответ не получен: Заданная сеть недоступна"),
            std::wstring::npos);
    }
}

TEST_F(PingRouted, OneLostRequestAfterAnswersMakesTheMinimumZero)
{
    // 198.18.9.20 answers while it is an address of B; then it is taken away and
    // falls into B's blackhole.
    ASSERT_EQ(network->net.Exec(network->b, "ip addr add 198.18.9.20/32 dev lo"), 0);
    auto ping = PingFromA({"198.18.9.20"}, Settings(200, 300));
    ping->SetRecordsWindow(records.Handle());
    ping->Start();
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return records.messages.size() >= 3; }, milliseconds(5000)));
    const EchoStatistics answered = ping->GetStatistics(0);
    EXPECT_EQ(answered.Lost, 0u);
    ASSERT_EQ(network->net.Exec(network->b, "ip addr del 198.18.9.20/32 dev lo"), 0);
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return ping->GetStatistics(0).Lost >= 1; }, milliseconds(5000)));
    ping->Stop();
    const EchoStatistics s = ping->GetStatistics(0);
    EXPECT_GE(s.Received, 3u);
    EXPECT_GE(s.Lost, 1u);
    EXPECT_EQ(s.Minimum, 0u);
    EXPECT_EQ(s.Average, CeilingHalf(0, s.Maximum));
}

TEST_F(PingRouted, LostRequestWaitsOnlyTheRestOfTheInterval)
{
    // Interval 1000, time-out 500: a lost request's time counts as 0, so the next
    // one follows about 1500 ms after the previous one.
    auto ping = PingFromA({echotest::kBlackholed}, Settings(1000, 500));
    ping->SetRecordsWindow(records.Handle());
    ping->Start();
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return records.messages.size() >= 3; }, milliseconds(8000)));
    ping->Stop();
    for (std::size_t i = 1; i < 3; ++i) {
        const auto gap = records.messages[i].at - records.messages[i - 1].at;
        // Not 1000 ms (the time-out counted as the round trip); the upper bound
        // only keeps 3x slack over 1500 ms, since a busy machine sleeps long.
        EXPECT_GE(gap, milliseconds(1400)) << i;
        EXPECT_LE(gap, milliseconds(4500)) << i;
    }
}

// 20 targets at once: half answer (addresses of B), half never do (blackholed).
// No answer may ever be counted for a target that did not give it.
TEST_F(PingRouted, TwentyTargetsAtOnceKeepTheirOwnAnswers)
{
    std::vector<std::string> targets;
    for (int i = 0; i < 10; ++i) {
        targets.push_back(echotest::ExtraAddressOfB(i));
        targets.push_back("198.18.9." + std::to_string(1 + i));
    }
    auto ping = PingFromA(targets, Settings(200, 300));
    ping->SetRecordsWindow(records.Handle());
    ping->Start();
    ASSERT_TRUE(diagtest::RunUntil(
        [&] {
            for (int i = 0; i < 20; ++i)
                if (ping->GetStatistics(i).Sent < 6)
                    return false;
            return true;
        },
        milliseconds(15000)));
    ping->Stop();
    for (int i = 0; i < 20; ++i) {
        const EchoStatistics s = ping->GetStatistics(i);
        const auto stored = Records(*ping, i);
        ASSERT_EQ(stored.size(), s.Sent) << targets[i];
        if (i % 2 == 0) {
            EXPECT_EQ(s.Received, s.Sent) << targets[i];
            for (const EchoRecord& r : stored)
                EXPECT_EQ(r.Status, 0u) << targets[i];
        } else {
            EXPECT_EQ(s.Received, 0u) << targets[i];
            for (const EchoRecord& r : stored)
                EXPECT_EQ(r.Status, 11010u) << targets[i];
        }
    }
}

TEST_F(PingRouted, SourceAddressOfTheSettingsIsUsed)
{
    // A's own address works; an address A does not have fails every request.
    EchoSettings settings = Settings(200, 300);
    settings.Source = echotest::kHostA;
    auto ping = PingFromA({echotest::kHostB}, settings);
    ping->SetRecordsWindow(records.Handle());
    ping->Start();
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return records.messages.size() >= 2; }, milliseconds(5000)));
    settings.Source = "198.18.3.99";
    ping->ApplySettings(settings);
    ASSERT_TRUE(
        diagtest::RunUntil([&] { return records.messages.size() >= 5; }, milliseconds(5000)));
    ping->Stop();
    const auto stored = Records(*ping, 0);
    EXPECT_EQ(stored[0].Status, 0u);
    EXPECT_EQ(stored[1].Status, 0u);
    EXPECT_NE(stored.back().Status, 0u);
}
