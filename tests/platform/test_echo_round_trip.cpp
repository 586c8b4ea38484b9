// The echo layer's round-trip time in microseconds, beside the record's whole
// milliseconds: per thread, from the call that just returned.

#include "platform/IcmpEcho.h"

#include "diag/support/EchoTestKit.h"
#include "support/NetNamespaces.h"

#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace platform;

namespace {

DWORD Ping(HANDLE handle, const char* target, ICMP_ECHO_REPLY& reply, DWORD timeout = 1000)
{
    std::vector<std::uint8_t> request(16, 7), buffer(sizeof(ICMP_ECHO_REPLY) + 32);
    const DWORD count =
        IcmpSendEcho(handle, echotest::Addr(target), request.data(),
                     static_cast<WORD>(request.size()), nullptr, buffer.data(),
                     static_cast<DWORD>(buffer.size()), timeout);
    std::memcpy(&reply, buffer.data(), sizeof reply);
    return count;
}

} // namespace

TEST(EchoRoundTrip, MicrosecondsMatchTheMillisecondsAndBelongToTheCallingThread)
{
    KANALIKO_SKIP_UNLESS_RAW();
    HANDLE handle = IcmpCreateFile();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ICMP_ECHO_REPLY reply{};
    ASSERT_EQ(Ping(handle, "127.0.0.1", reply), 1u);
    const std::uint32_t mine = IcmpGetLastRoundTripMicroseconds();
    EXPECT_GT(mine, 0u);
    EXPECT_EQ(mine / 1000, reply.RoundTripTime);

    // Another thread's failed call leaves this thread's value alone.
    std::uint32_t theirs = 1;
    std::thread other([&] {
        ICMP_ECHO_REPLY ignored{};
        Ping(reinterpret_cast<HANDLE>(0x10), "127.0.0.1", ignored); // not a handle
        theirs = IcmpGetLastRoundTripMicroseconds();
    });
    other.join();
    EXPECT_EQ(theirs, 0u);
    EXPECT_EQ(IcmpGetLastRoundTripMicroseconds(), mine);

    // A call that gets no answer leaves 0.
    ASSERT_EQ(Ping(handle, "127.0.0.1", reply, 1000), 1u);
    Ping(reinterpret_cast<HANDLE>(0x10), "127.0.0.1", reply);
    EXPECT_EQ(IcmpGetLastRoundTripMicroseconds(), 0u);
    IcmpCloseHandle(handle);
}
