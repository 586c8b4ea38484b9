// The echo layer with real packets: loopback, and the routed test network of
// diag/support/EchoTestKit.h (A - R1 - R2 - B) built in network namespaces.

#include "platform/IcmpEcho.h"
#include "platform/SocketErrors.h"

#include "diag/support/EchoTestKit.h"
#include "support/NetNamespaces.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace platform;
using echotest::Addr;
using echotest::Dotted;

namespace {

constexpr DWORD kTimeout = 1000;

// One call with its outcome.
struct Echo
{
    DWORD count = 0;
    ICMP_ECHO_REPLY reply{};
    std::vector<std::uint8_t> data;
    int lastError = 0;
};

Echo SendEcho(HANDLE handle, std::uint32_t destination, const std::vector<std::uint8_t>& request,
              UCHAR ttl = 64, DWORD timeout = kTimeout, DWORD replyRoom = 0, IPAddr source = 0,
              UCHAR flags = 0)
{
    std::vector<std::uint8_t> buffer(sizeof(ICMP_ECHO_REPLY) +
                                     (replyRoom ? replyRoom : request.size() + 8));
    IP_OPTION_INFORMATION options;
    options.Ttl = ttl;
    options.Flags = flags;
    Echo echo;
    WSASetLastError(0);
    echo.count = IcmpSendEcho2Ex(handle, nullptr, nullptr, nullptr, source, destination,
                                 request.data(), static_cast<WORD>(request.size()), &options,
                                 buffer.data(), static_cast<DWORD>(buffer.size()), timeout);
    echo.lastError = WSAGetLastError();
    std::memcpy(&echo.reply, buffer.data(), sizeof echo.reply);
    const auto* data = static_cast<const std::uint8_t*>(
        IcmpReplyData(reinterpret_cast<const ICMP_ECHO_REPLY*>(buffer.data())));
    if (echo.reply.DataOffset + echo.reply.DataSize <= buffer.size())
        echo.data.assign(data, data + echo.reply.DataSize);
    return echo;
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

// Closes the handle at the end of a scope.
struct HandleGuard
{
    HANDLE handle;
    ~HandleGuard()
    {
        if (handle != INVALID_HANDLE_VALUE)
            IcmpCloseHandle(handle);
    }
};

// Router answers may be rate limited or lost: a few tries.
template <class F>
Echo FirstAnswer(F send, int tries = 3)
{
    Echo echo;
    for (int i = 0; i < tries; ++i) {
        echo = send();
        if (echo.count == 1)
            break;
    }
    return echo;
}

} // namespace

// ---------------------------------------------------------------------------
// Loopback

TEST(EchoLoopback, ReplyCarriesTargetSuccessAndTheEchoedData)
{
    KANALIKO_SKIP_UNLESS_RAW();
    HandleGuard guard{IcmpCreateFile()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    EXPECT_NE(IcmpGetSocketKind(guard.handle), EchoSocketKind::None);

    const auto request = Pattern(32, 3);
    const Echo echo = SendEcho(guard.handle, Addr("127.0.0.1"), request);
    ASSERT_EQ(echo.count, 1u);
    EXPECT_EQ(echo.reply.Status, IP_SUCCESS);
    EXPECT_EQ(Dotted(echo.reply.Address), "127.0.0.1");
    // Whole milliseconds, well below the time-out: loopback answers within one,
    // and a busy machine delays the reading by far less than half a second.
    EXPECT_LT(echo.reply.RoundTripTime, kTimeout / 2);
    EXPECT_EQ(echo.reply.DataOffset, sizeof(ICMP_ECHO_REPLY));
    EXPECT_EQ(echo.data, request);
    EXPECT_GT(echo.reply.Options.Ttl, 0);
}

TEST(EchoLoopback, EveryLoopbackAddressAnswersForItself)
{
    KANALIKO_SKIP_UNLESS_RAW();
    HandleGuard guard{IcmpCreateFile()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    for (const char* target : {"127.0.0.2", "127.0.0.77", "127.1.2.3"}) {
        const Echo echo = SendEcho(guard.handle, Addr(target), Pattern(8, 1));
        ASSERT_EQ(echo.count, 1u) << target;
        EXPECT_EQ(Dotted(echo.reply.Address), target);
    }
}

TEST(EchoLoopback, ShortReplyBufferKeepsTheDataThatFitsAndTooShortOneFails)
{
    KANALIKO_SKIP_UNLESS_RAW();
    HandleGuard guard{IcmpCreateFile()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    const auto request = Pattern(100, 9);
    const Echo cut = SendEcho(guard.handle, Addr("127.0.0.1"), request, 64, kTimeout, 10);
    ASSERT_EQ(cut.count, 1u);
    EXPECT_EQ(cut.reply.DataSize, 10u);
    EXPECT_TRUE(std::equal(cut.data.begin(), cut.data.end(), request.begin()));

    // The engines size reply buffers as data + 28: the whole echo must fit.
    const Echo exact = SendEcho(guard.handle, Addr("127.0.0.1"), request, 64, kTimeout, 100);
    ASSERT_EQ(exact.count, 1u);
    EXPECT_EQ(exact.data, request);

    std::uint8_t small[sizeof(ICMP_ECHO_REPLY) - 1];
    EXPECT_EQ(IcmpSendEcho(guard.handle, Addr("127.0.0.1"), request.data(), 100, nullptr, small,
                           sizeof small, kTimeout),
              0u);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(IP_BUF_TOO_SMALL));
}

TEST(EchoLoopback, LargestRequestOfTheSettingsRangeComesBackWhole)
{
    KANALIKO_SKIP_UNLESS_RAW();
    HandleGuard guard{IcmpCreateFile()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    const auto request = Pattern(65500, 5);
    const Echo echo = SendEcho(guard.handle, Addr("127.0.0.1"), request);
    ASSERT_EQ(echo.count, 1u);
    EXPECT_EQ(echo.reply.Status, IP_SUCCESS);
    EXPECT_EQ(echo.data, request);
}

TEST(EchoLoopback, SourceAddressIsUsedAndAForeignOneFails)
{
    KANALIKO_SKIP_UNLESS_RAW();
    HandleGuard guard{IcmpCreateFile()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    const Echo local = SendEcho(guard.handle, Addr("127.0.0.1"), Pattern(16, 2), 64, kTimeout, 0,
                                Addr("127.0.0.9"));
    ASSERT_EQ(local.count, 1u);
    EXPECT_EQ(local.reply.Status, IP_SUCCESS);

    // Not an address of this host: the system finds no route from it.
    const Echo foreign = SendEcho(guard.handle, Addr("127.0.0.1"), Pattern(16, 2), 64, kTimeout, 0,
                                  Addr("198.18.250.1"));
    EXPECT_EQ(foreign.count, 0u);
    EXPECT_EQ(foreign.reply.Status, IP_DEST_NET_UNREACHABLE);
    EXPECT_EQ(foreign.lastError, static_cast<int>(IP_DEST_NET_UNREACHABLE));
}

TEST(EchoHandles, StaleAndForeignHandlesAndAsynchronousFormsFailCleanly)
{
    std::uint8_t buffer[64] = {};
    std::uint8_t data[4] = {};
    EXPECT_EQ(IcmpSendEcho(INVALID_HANDLE_VALUE, Addr("127.0.0.1"), data, 4, nullptr, buffer,
                           sizeof buffer, 100),
              0u);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(
        IcmpSendEcho(nullptr, Addr("127.0.0.1"), data, 4, nullptr, buffer, sizeof buffer, 100), 0u);
    EXPECT_EQ(IcmpCloseHandle(INVALID_HANDLE_VALUE), 0);
    EXPECT_EQ(IcmpGetSocketKind(INVALID_HANDLE_VALUE), EchoSocketKind::None);

    HANDLE handle = IcmpCreateFile();
    if (handle == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "neither ping sockets nor raw sockets are allowed here";
    int marker = 0;
    EXPECT_EQ(IcmpSendEcho2Ex(handle, &marker, nullptr, nullptr, 0, Addr("127.0.0.1"), data, 4,
                              nullptr, buffer, sizeof buffer, 100),
              0u);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(IcmpCloseHandle(handle), 1);
    // Closed: the number is never handed out again, so it stays unknown.
    EXPECT_EQ(IcmpCloseHandle(handle), 0);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(IcmpSendEcho(handle, Addr("127.0.0.1"), data, 4, nullptr, buffer, sizeof buffer, 100),
              0u);
}

// Many handles and threads at once: every reply belongs to its own request.
TEST(EchoConcurrency, ParallelHandlesNeverTakeEachOthersReplies)
{
    KANALIKO_SKIP_UNLESS_RAW();
    constexpr int kThreads = 8;
    constexpr int kRequests = 40;
    std::atomic<int> wrong{0}, answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            HandleGuard guard{IcmpCreateFile()};
            if (guard.handle == INVALID_HANDLE_VALUE) {
                ++wrong;
                return;
            }
            const std::string target = "127.0.0." + std::to_string(10 + t);
            for (int i = 0; i < kRequests; ++i) {
                const auto request = Pattern(24 + t, static_cast<std::uint8_t>(t * 31 + i));
                const Echo echo = SendEcho(guard.handle, Addr(target.c_str()), request);
                if (echo.count != 1)
                    continue;
                ++answered;
                if (Dotted(echo.reply.Address) != target || echo.data != request)
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(answered.load(), kThreads * kRequests);
}

TEST(EchoConcurrency, OneHandleSharedByThreadsServesEveryCall)
{
    KANALIKO_SKIP_UNLESS_RAW();
    HandleGuard guard{IcmpCreateFile()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    constexpr int kThreads = 4;
    constexpr int kRequests = 40;
    std::atomic<int> wrong{0}, answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string target = "127.0.1." + std::to_string(1 + t);
            for (int i = 0; i < kRequests; ++i) {
                const auto request = Pattern(40, static_cast<std::uint8_t>(t * 50 + i));
                const Echo echo = SendEcho(guard.handle, Addr(target.c_str()), request);
                if (echo.count != 1)
                    continue;
                ++answered;
                if (Dotted(echo.reply.Address) != target || echo.data != request)
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(answered.load(), kThreads * kRequests);
}

// ---------------------------------------------------------------------------
// The routed network

class EchoRouted : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KANALIKO_SKIP_UNLESS_NAMESPACES();
        network = std::make_unique<echotest::CRoutedNetwork>();
    }

    // A handle whose socket lives in host A.
    HANDLE HandleInA()
    {
        testsupport::ScopedNetns in(network->a);
        return IcmpCreateFile();
    }

    std::unique_ptr<echotest::CRoutedNetwork> network;
};

TEST_F(EchoRouted, HostTwoRoutersAwayAnswersWithItsAddressAndReducedTtl)
{
    HandleGuard guard{HandleInA()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(IcmpGetSocketKind(guard.handle), EchoSocketKind::Raw); // Debian's "1 0"
    const auto request = Pattern(56, 4);
    const Echo echo =
        FirstAnswer([&] { return SendEcho(guard.handle, Addr(echotest::kHostB), request); });
    ASSERT_EQ(echo.count, 1u);
    EXPECT_EQ(echo.reply.Status, IP_SUCCESS);
    EXPECT_EQ(Dotted(echo.reply.Address), echotest::kHostB);
    EXPECT_EQ(echo.data, request);
    EXPECT_EQ(echo.reply.Options.Ttl, 62); // B answers with 64, two routers on the way back
    EXPECT_LT(echo.reply.RoundTripTime, 500u);
}

TEST_F(EchoRouted, RoutersAnswerTimeExceededWithTheirOwnAddress)
{
    HandleGuard guard{HandleInA()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    const Echo first = FirstAnswer(
        [&] { return SendEcho(guard.handle, Addr(echotest::kHostB), Pattern(32, 1), 1); });
    ASSERT_EQ(first.count, 1u);
    EXPECT_EQ(first.reply.Status, IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(Dotted(first.reply.Address), echotest::kRouter1);
    EXPECT_EQ(first.reply.DataSize, 0u);
    EXPECT_EQ(first.lastError, static_cast<int>(IP_TTL_EXPIRED_TRANSIT));

    const Echo second = FirstAnswer(
        [&] { return SendEcho(guard.handle, Addr(echotest::kHostB), Pattern(32, 1), 2); });
    ASSERT_EQ(second.count, 1u);
    EXPECT_EQ(second.reply.Status, IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(Dotted(second.reply.Address), echotest::kRouter2);
}

TEST_F(EchoRouted, RouterWithoutRouteAnswersNetworkUnreachable)
{
    HandleGuard guard{HandleInA()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    const Echo echo = FirstAnswer(
        [&] { return SendEcho(guard.handle, Addr(echotest::kNoRoute), Pattern(32, 1)); });
    ASSERT_EQ(echo.count, 1u);
    EXPECT_EQ(echo.reply.Status, IP_DEST_NET_UNREACHABLE);
    EXPECT_EQ(Dotted(echo.reply.Address), echotest::kRouter1);
}

TEST_F(EchoRouted, BlackholedAddressTimesOutWithStatus11010)
{
    HandleGuard guard{HandleInA()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    const auto started = std::chrono::steady_clock::now();
    const Echo echo = SendEcho(guard.handle, Addr(echotest::kBlackholed), Pattern(32, 1), 64, 300);
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(echo.count, 0u);
    EXPECT_EQ(echo.reply.Status, IP_REQ_TIMED_OUT);
    EXPECT_EQ(echo.lastError, static_cast<int>(IP_REQ_TIMED_OUT));
    EXPECT_GE(waited, std::chrono::milliseconds(290));
}

TEST_F(EchoRouted, NoRouteAtTheSenderFailsAtOnce)
{
    HandleGuard guard{HandleInA()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    // A only knows 198.18.0.0/15.
    const Echo echo = SendEcho(guard.handle, Addr("192.0.2.1"), Pattern(32, 1), 64, 300);
    EXPECT_EQ(echo.count, 0u);
    EXPECT_EQ(echo.reply.Status, IP_DEST_NET_UNREACHABLE);
}

TEST_F(EchoRouted, DontFragmentOverASmallerLinkGetsPacketTooBigFromTheRouter)
{
    network->LimitMiddleMtu(1280);
    HandleGuard guard{HandleInA()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    const Echo tooBig = FirstAnswer([&] {
        return SendEcho(guard.handle, Addr(echotest::kHostB), Pattern(1400, 1), 64, kTimeout, 0, 0,
                        IP_FLAG_DF);
    });
    ASSERT_EQ(tooBig.count, 1u);
    EXPECT_EQ(tooBig.reply.Status, IP_PACKET_TOO_BIG);
    EXPECT_EQ(Dotted(tooBig.reply.Address), echotest::kRouter1);

    // Without DF the request is fragmented and answered.
    const Echo fragmented = FirstAnswer(
        [&] { return SendEcho(guard.handle, Addr(echotest::kHostB), Pattern(1400, 1)); });
    ASSERT_EQ(fragmented.count, 1u);
    EXPECT_EQ(fragmented.reply.Status, IP_SUCCESS);
    EXPECT_EQ(fragmented.data, Pattern(1400, 1));
}

TEST_F(EchoRouted, PingSocketsWhereAllowedGiveTheSameAnswers)
{
    network->AllowPingSockets(network->a, true);
    HandleGuard guard{HandleInA()};
    ASSERT_NE(guard.handle, INVALID_HANDLE_VALUE);
    ASSERT_EQ(IcmpGetSocketKind(guard.handle), EchoSocketKind::Ping);

    const auto request = Pattern(48, 6);
    const Echo reply =
        FirstAnswer([&] { return SendEcho(guard.handle, Addr(echotest::kHostB), request); });
    ASSERT_EQ(reply.count, 1u);
    EXPECT_EQ(reply.reply.Status, IP_SUCCESS);
    EXPECT_EQ(Dotted(reply.reply.Address), echotest::kHostB);
    EXPECT_EQ(reply.data, request);
    EXPECT_EQ(reply.reply.Options.Ttl, 62);

    // Router answers come through the socket's error queue.
    const Echo expired =
        FirstAnswer([&] { return SendEcho(guard.handle, Addr(echotest::kHostB), request, 2); });
    ASSERT_EQ(expired.count, 1u);
    EXPECT_EQ(expired.reply.Status, IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(Dotted(expired.reply.Address), echotest::kRouter2);

    const Echo unreachable =
        FirstAnswer([&] { return SendEcho(guard.handle, Addr(echotest::kNoRoute), request); });
    ASSERT_EQ(unreachable.count, 1u);
    EXPECT_EQ(unreachable.reply.Status, IP_DEST_NET_UNREACHABLE);
    EXPECT_EQ(Dotted(unreachable.reply.Address), echotest::kRouter1);

    const Echo lost = SendEcho(guard.handle, Addr(echotest::kBlackholed), request, 64, 300);
    EXPECT_EQ(lost.count, 0u);
    EXPECT_EQ(lost.reply.Status, IP_REQ_TIMED_OUT);

    // Other answers queued meanwhile never leak into the next call.
    const Echo again =
        FirstAnswer([&] { return SendEcho(guard.handle, Addr(echotest::kHostB), request); });
    ASSERT_EQ(again.count, 1u);
    EXPECT_EQ(again.reply.Status, IP_SUCCESS);
}

// ---------------------------------------------------------------------------
// Without rights: a child process as user nobody without capabilities.

KANALIKO_ECHO_HELPER_MODE(echo_without_rights)
{
    WSASetLastError(0);
    HANDLE handle = IcmpCreateFile();
    std::printf("create=%s\n", handle == INVALID_HANDLE_VALUE ? "failed" : "ok");
    std::printf("create_error=%d\n", WSAGetLastError());
    std::printf("kind=%d\n", static_cast<int>(IcmpGetSocketKind(handle)));
    std::uint8_t data[32] = {};
    std::vector<std::uint8_t> reply(sizeof(ICMP_ECHO_REPLY) + sizeof data);
    const DWORD count = IcmpSendEcho(handle, Addr(echotest::kHostB), data, sizeof data, nullptr,
                                     reply.data(), static_cast<DWORD>(reply.size()), 500);
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, reply.data(), sizeof record);
    std::printf("count=%u\nstatus=%u\naddress=%s\n", count, record.Status,
                Dotted(record.Address).c_str());
    if (handle != INVALID_HANDLE_VALUE)
        IcmpCloseHandle(handle);
    return 0;
}

TEST_F(EchoRouted, WithoutRightsCreationFailsAndCallsFailWithoutHarm)
{
    network->AllowPingSockets(network->a, false);
    const auto child =
        echotest::RunHelper(echotest::UnprivilegedPrefix(network->a), "echo_without_rights");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.Value("create"), "failed") << child.output;
    EXPECT_EQ(child.Value("create_error"), "10013");
    EXPECT_EQ(child.Value("count"), "0");
    EXPECT_EQ(child.Value("status"), "0"); // a bad handle leaves the buffer alone
}

TEST_F(EchoRouted, UnprivilegedUserPingsThroughPingSocketsWhenAllowed)
{
    network->AllowPingSockets(network->a, true);
    const auto child =
        echotest::RunHelper(echotest::UnprivilegedPrefix(network->a), "echo_without_rights");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.Value("create"), "ok") << child.output;
    EXPECT_EQ(child.Value("kind"), std::to_string(static_cast<int>(EchoSocketKind::Ping)));
    EXPECT_EQ(child.Value("count"), "1");
    EXPECT_EQ(child.Value("status"), "0");
    EXPECT_EQ(child.Value("address"), echotest::kHostB);
}
