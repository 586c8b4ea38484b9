// The echo layer's byte handling: recorded and crafted packets in, answers out,
// and a bounded fuzz loop over every parser.

#include "platform/IcmpPacket.h"

#include <arpa/inet.h>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <vector>

#include <gtest/gtest.h>

using namespace platform;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex)
{
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

IPAddr Addr(const char* dotted)
{
    return ::inet_addr(dotted);
}

// Recorded in the routed test network: host A (198.18.1.2) sent raw echo
// requests with identifier 0x4b4e, sequence = TTL, data "kanaliko-echo-16"
// towards B (198.18.3.2) with TTL 1, 2 and 64.
const Bytes kTimeExceededFromR1 = FromHex(
    "45c0004859a4000040019229c6120101c61201020b00f4ff000000004500002ca61e40000101438ac6120102c612"
    "03020800c9e34b4e00016b616e616c696b6f2d6563686f2d3136");
const Bytes kTimeExceededFromR2 = FromHex(
    "45c00048917500003f015a57c6120202c61201020b00f4ff000000004500002ca61f400001014389c6120102c612"
    "03020800c9e24b4e00026b616e616c696b6f2d6563686f2d3136");
const Bytes kEchoReplyFromB = FromHex(
    "4500002c761e00003e01768ac6120302c61201020000d1a44b4e00406b616e616c696b6f2d6563686f2d3136");
const std::string kData = "kanaliko-echo-16";

EchoRequestKey Key(std::uint16_t sequence, const char* destination = "198.18.3.2",
                   std::uint16_t identifier = 0x4b4e)
{
    return EchoRequestKey{Addr(destination), identifier, sequence};
}

void FixIcmpChecksum(Bytes& packet, std::size_t icmpOffset)
{
    packet[icmpOffset + 2] = packet[icmpOffset + 3] = 0;
    const std::uint16_t sum =
        InternetChecksum(std::span<const std::uint8_t>(packet).subspan(icmpOffset));
    packet[icmpOffset + 2] = static_cast<std::uint8_t>(sum >> 8);
    packet[icmpOffset + 3] = static_cast<std::uint8_t>(sum);
}

// A router's answer of the given type and code quoting the recorded request
// (sequence 1), as the recorded time-exceeded packet from R1 but retyped.
Bytes RouterAnswer(std::uint8_t type, std::uint8_t code)
{
    Bytes packet = kTimeExceededFromR1;
    packet[20] = type;
    packet[21] = code;
    FixIcmpChecksum(packet, 20);
    return packet;
}

} // namespace

TEST(EchoPackets, RecordedEchoReplyIsTheAnswerOfItsRequestOnly)
{
    const auto answer = ParseRawIcmpAnswer(kEchoReplyFromB, Key(64));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, IP_SUCCESS);
    EXPECT_EQ(answer->address, Addr("198.18.3.2"));
    EXPECT_EQ(answer->ttl, 62);
    ASSERT_EQ(answer->dataLength, kData.size());
    EXPECT_EQ(std::string(kEchoReplyFromB.begin() + answer->dataOffset,
                          kEchoReplyFromB.begin() + answer->dataOffset + answer->dataLength),
              kData);

    EXPECT_FALSE(ParseRawIcmpAnswer(kEchoReplyFromB, Key(63)));                  // sequence
    EXPECT_FALSE(ParseRawIcmpAnswer(kEchoReplyFromB, Key(64, "198.18.3.2", 7))); // identifier
    EXPECT_FALSE(ParseRawIcmpAnswer(kEchoReplyFromB, Key(64, "198.18.3.3")));    // sender
}

TEST(EchoPackets, RecordedTimeExceededNamesTheRouterAndQuotesItsRequest)
{
    const auto first = ParseRawIcmpAnswer(kTimeExceededFromR1, Key(1));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status, IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(first->address, Addr("198.18.1.1"));
    EXPECT_EQ(first->dataLength, 0u);

    const auto second = ParseRawIcmpAnswer(kTimeExceededFromR2, Key(2));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->address, Addr("198.18.2.2"));

    // The quoted request decides whose answer it is.
    EXPECT_FALSE(ParseRawIcmpAnswer(kTimeExceededFromR1, Key(2)));
    EXPECT_FALSE(ParseRawIcmpAnswer(kTimeExceededFromR1, Key(1, "198.18.3.2", 0x4b4f)));
    EXPECT_FALSE(ParseRawIcmpAnswer(kTimeExceededFromR1, Key(1, "198.18.3.9")));
}

TEST(EchoPackets, RouterAnswersMapToIpHelperStatuses)
{
    struct Case
    {
        std::uint8_t type, code;
        ULONG status;
    } cases[] = {
        {3, 0, IP_DEST_NET_UNREACHABLE},  {3, 1, IP_DEST_HOST_UNREACHABLE},
        {3, 2, IP_DEST_PROT_UNREACHABLE}, {3, 3, IP_DEST_PORT_UNREACHABLE},
        {3, 4, IP_PACKET_TOO_BIG},        {3, 13, IP_DEST_HOST_UNREACHABLE},
        {11, 0, IP_TTL_EXPIRED_TRANSIT},  {11, 1, IP_TTL_EXPIRED_REASSEM},
        {12, 0, IP_PARAM_PROBLEM},
    };
    for (const auto& c : cases) {
        const auto answer = ParseRawIcmpAnswer(RouterAnswer(c.type, c.code), Key(1));
        ASSERT_TRUE(answer) << int(c.type) << "/" << int(c.code);
        EXPECT_EQ(answer->status, c.status) << int(c.type) << "/" << int(c.code);
        EXPECT_EQ(answer->address, Addr("198.18.1.1"));
    }
    // Redirects, source quench, echo requests and the like answer nothing.
    for (std::uint8_t type : {4, 5, 8, 13, 40})
        EXPECT_FALSE(ParseRawIcmpAnswer(RouterAnswer(type, 0), Key(1))) << int(type);
}

TEST(EchoPackets, DamagedPacketsAreNeverAnswers)
{
    Bytes flipped = kEchoReplyFromB;
    flipped.back() ^= 0x01; // the ICMP checksum no longer holds
    EXPECT_FALSE(ParseRawIcmpAnswer(flipped, Key(64)));

    for (std::size_t length = 0; length < kEchoReplyFromB.size(); ++length)
        EXPECT_FALSE(ParseRawIcmpAnswer(std::span(kEchoReplyFromB).first(length), Key(64)))
            << length;
    for (std::size_t length = 0; length < kTimeExceededFromR1.size(); ++length)
        EXPECT_FALSE(ParseRawIcmpAnswer(std::span(kTimeExceededFromR1).first(length), Key(1)))
            << length;

    Bytes longHeader = kEchoReplyFromB;
    longHeader[0] = 0x4F; // 60-byte header claimed inside a 44-byte packet
    EXPECT_FALSE(ParseRawIcmpAnswer(longHeader, Key(64)));
    Bytes ipv6 = kEchoReplyFromB;
    ipv6[0] = 0x65;
    EXPECT_FALSE(ParseRawIcmpAnswer(ipv6, Key(64)));
    Bytes udp = kEchoReplyFromB;
    udp[9] = IPPROTO_UDP;
    EXPECT_FALSE(ParseRawIcmpAnswer(udp, Key(64)));
}

TEST(EchoPackets, BuiltRequestIsByteForByteWhatWasRecordedOnTheWire)
{
    Bytes request(kIcmpHeaderSize + kData.size());
    const Bytes data(kData.begin(), kData.end());
    ASSERT_EQ(BuildEchoRequest(request, 0x4b4e, 1, data), request.size());
    // The router quoted the request after its own 8 bytes and the 20-byte header.
    const Bytes quoted(kTimeExceededFromR1.begin() + 48, kTimeExceededFromR1.end());
    EXPECT_EQ(request, quoted);
    EXPECT_EQ(InternetChecksum(request), 0);

    Bytes tooSmall(kIcmpHeaderSize + kData.size() - 1);
    EXPECT_EQ(BuildEchoRequest(tooSmall, 1, 1, data), 0u);

    Bytes odd(kIcmpHeaderSize + 3); // odd lengths are padded with a zero byte for the sum
    ASSERT_EQ(BuildEchoRequest(odd, 0xFFFF, 0xFFFF, Bytes{1, 2, 3}), odd.size());
    EXPECT_EQ(InternetChecksum(odd), 0);
}

TEST(EchoPackets, PingSocketRepliesAndErrorsMatchBySequence)
{
    // A ping socket reads the ICMP message alone; the kernel owns the identifier.
    const Bytes message(kEchoReplyFromB.begin() + 20, kEchoReplyFromB.end());
    const auto reply =
        ParsePingSocketReply(message, Addr("198.18.3.2"), 62, 0, Key(64, "198.18.3.2", 0));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, IP_SUCCESS);
    EXPECT_EQ(reply->ttl, 62);
    EXPECT_EQ(reply->dataOffset, kIcmpHeaderSize);
    EXPECT_EQ(reply->dataLength, kData.size());
    EXPECT_FALSE(
        ParsePingSocketReply(message, Addr("198.18.3.2"), 62, 0, Key(65, "198.18.3.2", 0)));
    EXPECT_FALSE(
        ParsePingSocketReply(message, Addr("198.18.3.7"), 62, 0, Key(64, "198.18.3.2", 0)));

    // The error queue gives back the request that the router quoted.
    const Bytes quoted(kTimeExceededFromR1.begin() + 48, kTimeExceededFromR1.end());
    QueuedIcmpError error{SO_EE_ORIGIN_ICMP, 11, 0, Addr("198.18.1.1")};
    const auto expired =
        ParsePingSocketError(error, quoted, Addr("198.18.3.2"), Key(1, "198.18.3.2", 0));
    ASSERT_TRUE(expired);
    EXPECT_EQ(expired->status, IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(expired->address, Addr("198.18.1.1"));
    EXPECT_FALSE(ParsePingSocketError(error, quoted, Addr("198.18.3.2"), Key(2, "198.18.3.2", 0)));
    EXPECT_FALSE(ParsePingSocketError(error, quoted, Addr("198.18.3.4"), Key(1, "198.18.3.2", 0)));
    QueuedIcmpError local{SO_EE_ORIGIN_LOCAL, 0, 0, 0};
    EXPECT_FALSE(ParsePingSocketError(local, quoted, Addr("198.18.3.2"), Key(1, "198.18.3.2", 0)));
    EXPECT_FALSE(ParsePingSocketError(error, std::span(quoted).first(7), Addr("198.18.3.2"),
                                      Key(1, "198.18.3.2", 0)));
}

TEST(EchoPackets, ControlDataGivesStampTtlTosAndTheRouter)
{
    alignas(cmsghdr) std::uint8_t buffer[512] = {};
    std::size_t used = 0;
    auto add = [&](int level, int type, const void* value, std::size_t length) {
        auto* header = reinterpret_cast<cmsghdr*>(buffer + used);
        header->cmsg_level = level;
        header->cmsg_type = type;
        header->cmsg_len = CMSG_LEN(length);
        std::memcpy(CMSG_DATA(header), value, length);
        used += CMSG_SPACE(length);
    };
    const timespec stamp{1700000000, 123456789};
    add(SOL_SOCKET, SO_TIMESTAMPNS, &stamp, sizeof stamp);
    const int ttl = 61;
    add(SOL_IP, IP_TTL, &ttl, sizeof ttl);
    const std::uint8_t tos = 0xB8;
    add(SOL_IP, IP_TOS, &tos, 1);
    struct
    {
        sock_extended_err error;
        sockaddr_in offender;
    } queued{};
    queued.error.ee_errno = EHOSTUNREACH;
    queued.error.ee_origin = SO_EE_ORIGIN_ICMP;
    queued.error.ee_type = 3;
    queued.error.ee_code = 0;
    queued.offender.sin_family = AF_INET;
    queued.offender.sin_addr.s_addr = Addr("198.18.1.1");
    add(SOL_IP, IP_RECVERR, &queued, sizeof queued);

    const auto control = ParseReceiveControl(std::span<const std::uint8_t>(buffer, used));
    EXPECT_TRUE(control.hasTimestamp);
    EXPECT_EQ(control.seconds, 1700000000);
    EXPECT_EQ(control.nanoseconds, 123456789);
    EXPECT_TRUE(control.hasTtl);
    EXPECT_EQ(control.ttl, 61);
    EXPECT_TRUE(control.hasTos);
    EXPECT_EQ(control.tos, 0xB8);
    ASSERT_TRUE(control.hasError);
    EXPECT_EQ(control.error.origin, SO_EE_ORIGIN_ICMP);
    EXPECT_EQ(control.error.type, 3);
    EXPECT_EQ(control.error.offender, Addr("198.18.1.1"));

    // Any cut of the control data is read safely, keeping the complete records.
    for (std::size_t length = 0; length < used; ++length)
        (void)ParseReceiveControl(std::span<const std::uint8_t>(buffer, length));
    const auto firstOnly =
        ParseReceiveControl(std::span<const std::uint8_t>(buffer, CMSG_SPACE(sizeof stamp) + 4));
    EXPECT_TRUE(firstOnly.hasTimestamp);
    EXPECT_FALSE(firstOnly.hasTtl);
}

TEST(EchoPackets, ReplyRecordHoldsWhatFitsInAnyBuffer)
{
    const auto answer = ParseRawIcmpAnswer(kEchoReplyFromB, Key(64));
    ASSERT_TRUE(answer);
    // An odd start: the record is written byte-wise, whatever the alignment.
    std::vector<std::uint8_t> storage(1 + sizeof(ICMP_ECHO_REPLY) + 10, 0xEE);
    WriteEchoReply(*answer, 7, kEchoReplyFromB, storage.data() + 1,
                   static_cast<DWORD>(storage.size() - 1));
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, storage.data() + 1, sizeof record);
    EXPECT_EQ(record.Status, IP_SUCCESS);
    EXPECT_EQ(record.Address, Addr("198.18.3.2"));
    EXPECT_EQ(record.RoundTripTime, 7u);
    EXPECT_EQ(record.DataSize, 10u);
    EXPECT_EQ(record.DataOffset, sizeof(ICMP_ECHO_REPLY));
    EXPECT_EQ(record.Options.Ttl, 62);
    EXPECT_EQ(std::string(storage.begin() + 1 + sizeof record, storage.end()), kData.substr(0, 10));

    std::uint8_t failure[sizeof(ICMP_ECHO_REPLY)];
    std::memset(failure, 0xEE, sizeof failure);
    WriteEchoFailure(IP_REQ_TIMED_OUT, failure, sizeof failure);
    std::memcpy(&record, failure, sizeof record);
    EXPECT_EQ(record.Status, IP_REQ_TIMED_OUT);
    EXPECT_EQ(record.Address, 0u);
    EXPECT_EQ(record.DataSize, 0u);
}

// Mutated recorded packets and random bytes through every parser: nothing may
// read outside its input, and whatever is taken for an answer stays inside it.
TEST(EchoPackets, FuzzedBytesNeverBreakTheParsers)
{
    std::mt19937 random(20240607);
    const Bytes seeds[] = {kEchoReplyFromB, kTimeExceededFromR1, kTimeExceededFromR2,
                           RouterAnswer(3, 4)};
    int answers = 0;
    for (int round = 0; round < 40000; ++round) {
        Bytes bytes = seeds[round % 4];
        const int mutations = 1 + static_cast<int>(random() % 4);
        for (int m = 0; m < mutations; ++m) {
            switch (random() % 4) {
            case 0:
                bytes[random() % bytes.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
                break;
            case 1: bytes.resize(random() % (bytes.size() + 1)); break;
            case 2: bytes.push_back(static_cast<std::uint8_t>(random())); break;
            default:
                if (!bytes.empty())
                    bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
            }
            if (bytes.empty())
                bytes.push_back(0x45);
        }
        if (round % 16 == 0) { // now and then plain noise
            bytes.resize(random() % 120);
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(random());
        }
        for (std::uint16_t sequence : {1, 2, 64}) {
            const auto key = Key(sequence);
            if (const auto answer = ParseRawIcmpAnswer(bytes, key)) {
                ++answers;
                ASSERT_LE(answer->dataOffset + answer->dataLength, bytes.size());
            }
            if (const auto answer = ParsePingSocketReply(bytes, key.destination, 1, 0, key)) {
                ASSERT_LE(answer->dataOffset + answer->dataLength, bytes.size());
            }
            QueuedIcmpError error{SO_EE_ORIGIN_ICMP, static_cast<std::uint8_t>(round % 16), 0, 0};
            (void)ParsePingSocketError(error, bytes, key.destination, key);
        }
        (void)ParseReceiveControl(bytes);
        std::uint8_t reply[sizeof(ICMP_ECHO_REPLY) + 16];
        EchoAnswer wild;
        wild.dataOffset = random() % 200;
        wild.dataLength = random() % 200;
        WriteEchoReply(wild, 0, bytes, reply, sizeof reply);
    }
    // Single flips inside the checksummed part are caught by the checksum, so
    // only the untouched-looking survivors parse.
    EXPECT_LT(answers, 40000);
}
