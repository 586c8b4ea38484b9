// The helper's request and answer formats, as pure functions of their bytes.

#include "rawsock/RawSockProtocol.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

std::vector<std::uint8_t> Request(int protocol)
{
    std::uint8_t bytes[rawsock::kRequestSize];
    rawsock::EncodeRequest(protocol, bytes);
    return {bytes, bytes + sizeof bytes};
}

TEST(RawSockRequest, EveryProtocolNumberGetsTheVerdictOfThePolicy)
{
    int accepted = 0;
    for (int protocol = 0; protocol <= 0xFFFF; ++protocol) {
        const auto bytes = Request(protocol);
        const auto verdict = rawsock::ParseRequest(bytes.data(), bytes.size());
        if (protocol < 1 || protocol > 254) {
            EXPECT_EQ(verdict.error, EPROTONOSUPPORT) << protocol;
        } else if (protocol == 6 || protocol == 17 || protocol == 33 || protocol == 132 ||
                   protocol == 136) {
            EXPECT_EQ(verdict.error, EPERM) << protocol;
            EXPECT_FALSE(rawsock::ProtocolAllowed(protocol));
        } else {
            EXPECT_EQ(verdict.error, 0) << protocol;
            EXPECT_EQ(verdict.protocol, protocol);
            EXPECT_TRUE(rawsock::ProtocolAllowed(protocol));
            ++accepted;
        }
    }
    EXPECT_EQ(accepted, 254 - 5) << "1..254 less TCP, UDP, DCCP, SCTP and UDP-Lite";
    EXPECT_TRUE(rawsock::ProtocolAllowed(1)) << "the echo and route engines' ICMP socket";
    EXPECT_FALSE(rawsock::ProtocolAllowed(0));
    EXPECT_FALSE(rawsock::ProtocolAllowed(-1));
    EXPECT_FALSE(rawsock::ProtocolAllowed(255));
}

TEST(RawSockRequest, MalformedMessagesAreRefusedWhateverTheyHold)
{
    const auto valid = Request(253);
    for (std::size_t length = 0; length < rawsock::kRequestSize; ++length)
        EXPECT_EQ(rawsock::ParseRequest(valid.data(), length).error, EINVAL) << length;
    auto longer = valid;
    longer.push_back(0);
    EXPECT_EQ(rawsock::ParseRequest(longer.data(), longer.size()).error, EMSGSIZE);
    // The helper reads at most one byte more than a request; the full length of a
    // longer message is what decides.
    EXPECT_EQ(rawsock::ParseRequest(longer.data(), 1u << 20).error, EMSGSIZE);
    EXPECT_EQ(rawsock::ParseRequest(nullptr, rawsock::kRequestSize).error, EINVAL);
    // Every single-byte change of the magic or the version is refused.
    for (std::size_t at = 0; at < 6; ++at) {
        auto changed = valid;
        changed[at] ^= 0x01;
        EXPECT_EQ(rawsock::ParseRequest(changed.data(), changed.size()).error, EINVAL) << at;
    }
}

TEST(RawSockAnswer, OnlyAnExactAnswerWithANonNegativeErrnoIsAccepted)
{
    std::uint8_t bytes[rawsock::kAnswerSize];
    for (int error : {0, EPERM, EPROTONOSUPPORT}) {
        rawsock::EncodeAnswer(error, bytes);
        int read = -1;
        EXPECT_TRUE(rawsock::ParseAnswer(bytes, sizeof bytes, &read));
        EXPECT_EQ(read, error);
        EXPECT_FALSE(rawsock::ParseAnswer(bytes, sizeof bytes - 1, &read));
        EXPECT_FALSE(rawsock::ParseAnswer(bytes, sizeof bytes + 1, &read));
    }
    rawsock::EncodeAnswer(-1, bytes);
    EXPECT_FALSE(rawsock::ParseAnswer(bytes, sizeof bytes, nullptr));
    rawsock::EncodeAnswer(0, bytes);
    bytes[0] ^= 0xFF;
    EXPECT_FALSE(rawsock::ParseAnswer(bytes, sizeof bytes, nullptr));
    // A request is not an answer.
    const auto request = Request(1);
    EXPECT_FALSE(rawsock::ParseAnswer(request.data(), request.size(), nullptr));
}

} // namespace
