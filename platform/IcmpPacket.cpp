#include "platform/IcmpPacket.h"
#include "platform/ControlRecords.h"

#include <algorithm>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

namespace {

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

IPAddr ReadAddress(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    IPAddr address; // already in network order on the wire
    std::memcpy(&address, bytes.data() + offset, sizeof address);
    return address;
}

// The IPv4 header at the start of bytes: its length, when the bytes hold a whole
// header of version 4 with a sane length field.
std::optional<std::size_t> Ipv4HeaderLength(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kIpv4MinHeaderSize || (bytes[0] >> 4) != 4)
        return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
    if (length < kIpv4MinHeaderSize || length > bytes.size())
        return std::nullopt;
    return length;
}

// Whether an echo request header (type 8) carries the key's identifier and
// sequence. identifier 0 in the key: the kernel chose it, any value matches.
bool QuotesRequest(std::span<const std::uint8_t> icmp, const EchoRequestKey& key)
{
    if (icmp.size() < kIcmpHeaderSize || icmp[0] != kIcmpEchoRequest || icmp[1] != 0)
        return false;
    if (key.identifier != 0 && Read16(icmp, 4) != key.identifier)
        return false;
    return Read16(icmp, 6) == key.sequence;
}

bool IsErrorType(std::uint8_t type)
{
    return type == kIcmpDestinationUnreachable || type == kIcmpTimeExceeded ||
           type == kIcmpParameterProblem;
}

} // namespace

ULONG IcmpStatusFromTypeCode(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case kIcmpEchoReply: return IP_SUCCESS;
    case kIcmpDestinationUnreachable:
        switch (code) {
        case 0:  // network
        case 6:  // network unknown
        case 9:  // network administratively prohibited
        case 11: // network for this service
            return IP_DEST_NET_UNREACHABLE;
        case 2: return IP_DEST_PROT_UNREACHABLE;
        case 3: return IP_DEST_PORT_UNREACHABLE;
        case 4: // fragmentation needed and DF set
            return IP_PACKET_TOO_BIG;
        case 5: // source route failed
            return IP_BAD_ROUTE;
        default: // host, host unknown, isolated, prohibited, filtered, precedence
            return IP_DEST_HOST_UNREACHABLE;
        }
    case kIcmpTimeExceeded: return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case kIcmpParameterProblem: return IP_PARAM_PROBLEM;
    default: return IP_GENERAL_FAILURE;
    }
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += static_cast<std::uint32_t>((bytes[i] << 8) | bytes[i + 1]);
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::size_t BuildEchoRequest(std::span<std::uint8_t> out, std::uint16_t identifier,
                             std::uint16_t sequence, std::span<const std::uint8_t> data)
{
    const std::size_t total = kIcmpHeaderSize + data.size();
    if (out.size() < total)
        return 0;
    out[0] = kIcmpEchoRequest;
    out[1] = 0;
    out[2] = out[3] = 0;
    out[4] = static_cast<std::uint8_t>(identifier >> 8);
    out[5] = static_cast<std::uint8_t>(identifier);
    out[6] = static_cast<std::uint8_t>(sequence >> 8);
    out[7] = static_cast<std::uint8_t>(sequence);
    if (!data.empty())
        std::memcpy(out.data() + kIcmpHeaderSize, data.data(), data.size());
    const std::uint16_t checksum = InternetChecksum(out.first(total));
    out[2] = static_cast<std::uint8_t>(checksum >> 8);
    out[3] = static_cast<std::uint8_t>(checksum);
    return total;
}

std::optional<EchoAnswer> ParseRawIcmpAnswer(std::span<const std::uint8_t> packet,
                                             const EchoRequestKey& key)
{
    const auto headerLength = Ipv4HeaderLength(packet);
    if (!headerLength || packet[9] != IPPROTO_ICMP)
        return std::nullopt;
    const std::size_t totalLength = Read16(packet, 2);
    // A packet cut by a short read cannot be checked: never an answer.
    if (totalLength < *headerLength + kIcmpHeaderSize || totalLength > packet.size())
        return std::nullopt;
    const auto icmp = packet.subspan(*headerLength, totalLength - *headerLength);
    if (InternetChecksum(icmp) != 0)
        return std::nullopt;

    EchoAnswer answer;
    answer.address = ReadAddress(packet, 12);
    answer.ttl = packet[8];
    answer.tos = packet[1];
    const std::uint8_t type = icmp[0];
    if (type == kIcmpEchoReply) {
        if (icmp[1] != 0 || answer.address != key.destination ||
            Read16(icmp, 4) != key.identifier || Read16(icmp, 6) != key.sequence)
            return std::nullopt;
        answer.status = IP_SUCCESS;
        answer.dataOffset = *headerLength + kIcmpHeaderSize;
        answer.dataLength = icmp.size() - kIcmpHeaderSize;
        return answer;
    }
    if (!IsErrorType(type))
        return std::nullopt;
    // The router quotes our request: its IP header and at least 8 bytes of ICMP.
    const auto quoted = icmp.subspan(kIcmpHeaderSize);
    const auto quotedHeaderLength = Ipv4HeaderLength(quoted);
    if (!quotedHeaderLength || quoted[9] != IPPROTO_ICMP ||
        ReadAddress(quoted, 16) != key.destination ||
        !QuotesRequest(quoted.subspan(*quotedHeaderLength), key))
        return std::nullopt;
    answer.status = IcmpStatusFromTypeCode(type, icmp[1]);
    return answer;
}

std::optional<EchoAnswer> ParsePingSocketReply(std::span<const std::uint8_t> message, IPAddr from,
                                               std::uint8_t ttl, std::uint8_t tos,
                                               const EchoRequestKey& key)
{
    if (message.size() < kIcmpHeaderSize || message[0] != kIcmpEchoReply || message[1] != 0 ||
        from != key.destination || InternetChecksum(message) != 0)
        return std::nullopt;
    if (key.identifier != 0 && Read16(message, 4) != key.identifier)
        return std::nullopt;
    if (Read16(message, 6) != key.sequence)
        return std::nullopt;
    EchoAnswer answer;
    answer.address = from;
    answer.status = IP_SUCCESS;
    answer.ttl = ttl;
    answer.tos = tos;
    answer.dataOffset = kIcmpHeaderSize;
    answer.dataLength = message.size() - kIcmpHeaderSize;
    return answer;
}

std::optional<EchoAnswer> ParsePingSocketError(const QueuedIcmpError& error,
                                               std::span<const std::uint8_t> quotedRequest,
                                               IPAddr quotedDestination, const EchoRequestKey& key)
{
    if (error.origin != SO_EE_ORIGIN_ICMP || !IsErrorType(error.type) ||
        quotedDestination != key.destination || !QuotesRequest(quotedRequest, key))
        return std::nullopt;
    EchoAnswer answer;
    answer.address = error.offender != 0 ? error.offender : quotedDestination;
    answer.status = IcmpStatusFromTypeCode(error.type, error.code);
    return answer;
}

ReceiveControl ParseReceiveControl(std::span<const std::uint8_t> control)
{
    ReceiveControl result;
    ForEachControlRecord(
        control.data(), control.size(),
        [&](int level, int type, const unsigned char* data, std::size_t dataLength) {
            if (level == SOL_SOCKET &&
                (type == SO_TIMESTAMPNS
#ifdef SO_TIMESTAMPNS_NEW
                 || type == SO_TIMESTAMPNS_NEW
#endif
                 ) &&
                dataLength >= 2 * sizeof(std::int64_t)) {
                // struct timespec and __kernel_timespec agree on 64-bit platforms.
                std::int64_t values[2];
                std::memcpy(values, data, sizeof values);
                result.hasTimestamp = true;
                result.seconds = values[0];
                result.nanoseconds = values[1];
            } else if (level == SOL_IP && type == IP_TTL && dataLength >= sizeof(int)) {
                int ttl;
                std::memcpy(&ttl, data, sizeof ttl);
                result.hasTtl = true;
                result.ttl = static_cast<std::uint8_t>(ttl);
            } else if (level == SOL_IP && type == IP_TOS && dataLength >= 1) {
                result.hasTos = true;
                result.tos = data[0];
            } else if (level == SOL_IP && type == IP_RECVERR &&
                       dataLength >= sizeof(sock_extended_err)) {
                sock_extended_err extended;
                std::memcpy(&extended, data, sizeof extended);
                result.hasError = true;
                result.errorNumber = extended.ee_errno;
                result.error.origin = extended.ee_origin;
                result.error.type = extended.ee_type;
                result.error.code = extended.ee_code;
                // SO_EE_OFFENDER: the sockaddr right after the extended error.
                if (dataLength >= sizeof extended + sizeof(sockaddr_in)) {
                    sockaddr_in offender;
                    std::memcpy(&offender, data + sizeof extended, sizeof offender);
                    if (offender.sin_family == AF_INET)
                        result.error.offender = offender.sin_addr.s_addr;
                }
            }
            return false;
        });
    return result;
}

void WriteEchoReply(const EchoAnswer& answer, ULONG roundTripMs,
                    std::span<const std::uint8_t> bytes, void* replyBuffer, DWORD replySize)
{
    ICMP_ECHO_REPLY record;
    record.Address = answer.address;
    record.Status = answer.status;
    record.RoundTripTime = roundTripMs;
    record.DataOffset = sizeof(ICMP_ECHO_REPLY);
    record.Options.Ttl = answer.ttl;
    record.Options.Tos = answer.tos;
    record.Options.OptionsOffset = sizeof(ICMP_ECHO_REPLY);
    std::size_t room = replySize - sizeof(ICMP_ECHO_REPLY);
    std::size_t dataLength = 0;
    if (answer.dataOffset <= bytes.size())
        dataLength = std::min(
            {answer.dataLength, bytes.size() - answer.dataOffset, room, std::size_t{0xFFFF}});
    record.DataSize = static_cast<USHORT>(dataLength);
    auto* out = static_cast<unsigned char*>(replyBuffer);
    std::memcpy(out, &record, sizeof record);
    if (dataLength != 0)
        std::memcpy(out + sizeof record, bytes.data() + answer.dataOffset, dataLength);
}

void WriteEchoFailure(ULONG status, void* replyBuffer, DWORD replySize)
{
    if (!replyBuffer || replySize < sizeof(ICMP_ECHO_REPLY))
        return;
    ICMP_ECHO_REPLY record;
    record.Status = status;
    record.DataOffset = sizeof(ICMP_ECHO_REPLY);
    record.Options.OptionsOffset = sizeof(ICMP_ECHO_REPLY);
    std::memcpy(replyBuffer, &record, sizeof record);
}

} // namespace platform
