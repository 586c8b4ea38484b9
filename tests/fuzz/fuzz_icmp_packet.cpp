// The echo layer's readers of received bytes (platform/IcmpPacket.h) on
// arbitrary bytes, in each of the shapes they take: a whole IPv4 packet from a
// raw ICMP socket, an ICMP message from a ping socket, the quoted request of a
// ping socket's error-queue entry, and the control data of a receive. It checks:
// - an answer is only ever given for the request it names (destination,
//   identifier, sequence), and never for a key the bytes do not match;
// - an echo reply's data lies inside the bytes, and the record written from it
//   stays inside the reply buffer whatever its size;
// - statuses are IP Helper's, router answers carry no data;
// - a request we build reads back as its own reply, and a checksum written into
//   a message makes it sum to zero.

#include "platform/IcmpPacket.h"

#include "fuzz/support/FuzzCheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <linux/errqueue.h>
#include <optional>
#include <span>
#include <vector>

namespace {

using namespace platform;
using Bytes = std::span<const std::uint8_t>;

std::uint16_t Read16(Bytes bytes, std::size_t at)
{
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

IPAddr Read32(Bytes bytes, std::size_t at)
{
    IPAddr value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// The IPv4 header length the bytes state, when they hold that much.
std::optional<std::size_t> HeaderLength(Bytes bytes)
{
    if (bytes.size() < 20 || (bytes[0] >> 4) != 4)
        return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
    if (length < 20 || length > bytes.size())
        return std::nullopt;
    return length;
}

// The request key a packet answers, read the way a sender would have built it,
// so that the matching code is reached: an echo reply names its source and
// its identifier and sequence; a router's error names the quoted request.
EchoRequestKey KeyNamedBy(Bytes packet)
{
    EchoRequestKey key{0x010012C6, 0x1234, 1}; // 198.18.0.1
    const auto header = HeaderLength(packet);
    if (!header || packet.size() < *header + 8)
        return key;
    const Bytes icmp = packet.subspan(*header);
    if (icmp[0] == kIcmpEchoReply) {
        key.destination = Read32(packet, 12);
        key.identifier = Read16(icmp, 4);
        key.sequence = Read16(icmp, 6);
        return key;
    }
    const Bytes quoted = icmp.subspan(8);
    const auto quotedHeader = HeaderLength(quoted);
    if (!quotedHeader)
        return key;
    key.destination = Read32(quoted, 16);
    if (quoted.size() >= *quotedHeader + 8) {
        key.identifier = Read16(quoted, *quotedHeader + 4);
        key.sequence = Read16(quoted, *quotedHeader + 6);
    }
    return key;
}

bool KnownStatus(ULONG status)
{
    return status == IP_SUCCESS ||
           (status >= IP_DEST_NET_UNREACHABLE && status <= IP_PARAM_PROBLEM) ||
           status == IP_GENERAL_FAILURE;
}

// The record written for an answer stays inside buffers of every size that
// holds one, and carries exactly the answer's data, cut to the room there is.
void CheckRecord(const EchoAnswer& answer, Bytes bytes)
{
    for (std::size_t room : {std::size_t{0}, std::size_t{1}, std::size_t{8}, bytes.size()}) {
        std::vector<std::uint8_t> buffer(sizeof(ICMP_ECHO_REPLY) + room, 0xEE);
        WriteEchoReply(answer, 7, bytes, buffer.data(), static_cast<DWORD>(buffer.size()));
        ICMP_ECHO_REPLY record;
        std::memcpy(&record, buffer.data(), sizeof record);
        FUZZ_CHECK(record.Address == answer.address && record.Status == answer.status);
        FUZZ_CHECK(record.DataOffset == sizeof(ICMP_ECHO_REPLY));
        const std::size_t expected = std::min(answer.dataLength, room);
        FUZZ_CHECK(record.DataSize == expected);
        FUZZ_CHECK(expected == 0 || std::memcmp(buffer.data() + sizeof record,
                                                bytes.data() + answer.dataOffset, expected) == 0);
    }
}

void CheckRawPacket(Bytes packet)
{
    const EchoRequestKey key = KeyNamedBy(packet);
    const std::optional<EchoAnswer> answer = ParseRawIcmpAnswer(packet, key);
    if (answer) {
        FUZZ_CHECK(KnownStatus(answer->status));
        const auto header = HeaderLength(packet);
        FUZZ_CHECK(header.has_value() && packet[9] == 1); // ICMP
        FUZZ_CHECK(answer->ttl == packet[8] && answer->tos == packet[1]);
        FUZZ_CHECK(answer->dataOffset <= packet.size() &&
                   answer->dataLength <= packet.size() - answer->dataOffset);
        if (answer->status == IP_SUCCESS) {
            FUZZ_CHECK(answer->address == key.destination);
            FUZZ_CHECK(answer->dataOffset == *header + kIcmpHeaderSize);
            FUZZ_CHECK(InternetChecksum(packet.subspan(*header, answer->dataLength + 8)) == 0);
        } else {
            FUZZ_CHECK(answer->dataLength == 0);
        }
        CheckRecord(*answer, packet);
    }
    // Another request's key is never answered.
    EchoRequestKey otherDestination = key;
    otherDestination.destination ^= 0x01000000;
    FUZZ_CHECK(!ParseRawIcmpAnswer(packet, otherDestination));
    EchoRequestKey otherSequence = key;
    otherSequence.sequence ^= 0x8001;
    FUZZ_CHECK(!ParseRawIcmpAnswer(packet, otherSequence));
}

void CheckPingMessage(Bytes message)
{
    const IPAddr from = 0x020012C6; // 198.18.0.2
    EchoRequestKey key{from, 0, 0};
    if (message.size() >= 8) {
        key.identifier = Read16(message, 4);
        key.sequence = Read16(message, 6);
    }
    for (std::uint16_t identifier : {key.identifier, std::uint16_t{0}}) {
        EchoRequestKey k = key;
        k.identifier = identifier;
        const auto answer = ParsePingSocketReply(message, from, 64, 0, k);
        if (!answer)
            continue;
        FUZZ_CHECK(message[0] == kIcmpEchoReply && message[1] == 0);
        FUZZ_CHECK(InternetChecksum(message) == 0);
        FUZZ_CHECK(answer->status == IP_SUCCESS && answer->address == from);
        FUZZ_CHECK(answer->dataOffset == 8 && answer->dataLength == message.size() - 8);
        CheckRecord(*answer, message);
    }
    FUZZ_CHECK(!ParsePingSocketReply(message, from ^ 1, 64, 0, key));

    // The same bytes as the request a router quoted.
    const QueuedIcmpError errors[] = {
        {SO_EE_ORIGIN_ICMP, kIcmpTimeExceeded, 0, 0x030012C6},
        {SO_EE_ORIGIN_ICMP, kIcmpDestinationUnreachable, 3, 0},
        {SO_EE_ORIGIN_ICMP, kIcmpParameterProblem, 0, 0x040012C6},
        {SO_EE_ORIGIN_ICMP, 5, 1, 0x050012C6}, // a redirect is no answer
        {SO_EE_ORIGIN_LOCAL, kIcmpDestinationUnreachable, 3, 0},
    };
    for (const QueuedIcmpError& error : errors) {
        const auto answer = ParsePingSocketError(error, message, from, key);
        if (!answer)
            continue;
        FUZZ_CHECK(error.origin == SO_EE_ORIGIN_ICMP && error.type != 5);
        FUZZ_CHECK(answer->status == IcmpStatusFromTypeCode(error.type, error.code));
        FUZZ_CHECK(answer->status != IP_SUCCESS && KnownStatus(answer->status));
        FUZZ_CHECK(answer->address == (error.offender != 0 ? error.offender : from));
        FUZZ_CHECK(answer->dataLength == 0);
        FUZZ_CHECK(message[0] == kIcmpEchoRequest);
    }
}

// What we send reads back as its own reply once a peer turns it around.
void CheckOwnRequest(Bytes data)
{
    const Bytes payload = data.first(std::min<std::size_t>(data.size(), 512));
    const std::uint16_t identifier = data.size() >= 2 ? Read16(data, 0) : 7;
    const std::uint16_t sequence = static_cast<std::uint16_t>(data.size());
    std::vector<std::uint8_t> message(kIcmpHeaderSize + payload.size());
    FUZZ_CHECK(BuildEchoRequest(std::span<std::uint8_t>(message).first(message.size() - 1),
                                identifier, sequence, payload) == 0);
    FUZZ_CHECK(BuildEchoRequest(message, identifier, sequence, payload) == message.size());
    FUZZ_CHECK(InternetChecksum(message) == 0);
    message[0] = kIcmpEchoReply; // the peer's answer: type 0, checksum fixed
    message[2] = message[3] = 0;
    const std::uint16_t checksum = InternetChecksum(message);
    message[2] = static_cast<std::uint8_t>(checksum >> 8);
    message[3] = static_cast<std::uint8_t>(checksum);
    const IPAddr peer = 0x060012C6;
    const auto answer =
        ParsePingSocketReply(message, peer, 1, 2, EchoRequestKey{peer, identifier, sequence});
    FUZZ_CHECK(answer && answer->dataLength == payload.size());
    FUZZ_CHECK(std::equal(payload.begin(), payload.end(), message.begin() + 8));
}

void CheckControl(Bytes control)
{
    const ReceiveControl parsed = ParseReceiveControl(control);
    if (!parsed.hasError)
        FUZZ_CHECK(parsed.error.offender == 0 && parsed.errorNumber == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Bytes bytes(data, size);
    CheckRawPacket(bytes);
    const auto header = HeaderLength(bytes);
    CheckPingMessage(header ? bytes.subspan(*header) : bytes);
    CheckOwnRequest(bytes);
    CheckControl(bytes);
    return 0;
}
