#pragma once

// The bytes of the echo layer: building echo requests and reading what comes back,
// as pure functions (bytes in, answer out), so that they can be tested and fuzzed
// without a network. Nothing here touches a socket, a clock or global state.
//
// Three shapes of input reach the layer:
// - a raw ICMP socket reads whole IPv4 packets (header, ICMP message);
// - a ping socket reads the ICMP message alone; the sender comes from the
//   address of the read and the time-to-live from its control data;
// - a ping socket's error queue gives a router's answer as control data
//   (sock_extended_err with the router as offender) plus the request that the
//   router quoted.
// Every function is safe for any bytes: lengths are checked before each read.
//
// Threads: any.

#include "platform/IcmpEcho.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace platform {

inline constexpr std::size_t kIcmpHeaderSize = 8;
inline constexpr std::size_t kIpv4MinHeaderSize = 20;
inline constexpr std::uint8_t kIcmpEchoReply = 0;
inline constexpr std::uint8_t kIcmpDestinationUnreachable = 3;
inline constexpr std::uint8_t kIcmpEchoRequest = 8;
inline constexpr std::uint8_t kIcmpTimeExceeded = 11;
inline constexpr std::uint8_t kIcmpParameterProblem = 12;

// What identifies one request on the wire.
struct EchoRequestKey
{
    IPAddr destination = 0;       // network order
    std::uint16_t identifier = 0; // host order
    std::uint16_t sequence = 0;   // host order
};

// One answer to a request, read from received bytes.
struct EchoAnswer
{
    IPAddr address = 0; // who answered (network order)
    ULONG status = IP_SUCCESS;
    std::uint8_t ttl = 0; // of the answer, 0 when unknown
    std::uint8_t tos = 0;
    // The echoed data inside the bytes that were parsed (empty for router answers).
    std::size_t dataOffset = 0;
    std::size_t dataLength = 0;
};

// IP Helper's status for an ICMP answer of that type and code; IP_GENERAL_FAILURE
// for anything that is not an answer to an echo request.
ULONG IcmpStatusFromTypeCode(std::uint8_t type, std::uint8_t code);

// The Internet checksum (RFC 1071) of the bytes, in network order as it sits in
// a header. A message whose checksum field is right sums to 0.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// Writes an echo request (header and data) into out, which must hold
// kIcmpHeaderSize + data.size() bytes; the checksum is filled in (a ping socket
// recomputes it, together with the identifier). Returns the bytes written, or 0
// when out is too small.
std::size_t BuildEchoRequest(std::span<std::uint8_t> out, std::uint16_t identifier,
                             std::uint16_t sequence, std::span<const std::uint8_t> data);

// A whole IPv4 packet as a raw ICMP socket reads it. Returns the answer when the
// packet is an echo reply from the key's destination with the key's identifier
// and sequence, or a router's error that quotes exactly that request. A damaged
// packet (bad lengths, bad ICMP checksum) is never an answer.
std::optional<EchoAnswer> ParseRawIcmpAnswer(std::span<const std::uint8_t> packet,
                                             const EchoRequestKey& key);

// An ICMP message as a ping socket reads it (no IP header): an echo reply from
// `from` with the key's sequence (and identifier, unless the key's identifier is
// 0: the kernel then owns it and delivers only this socket's replies).
std::optional<EchoAnswer> ParsePingSocketReply(std::span<const std::uint8_t> message, IPAddr from,
                                               std::uint8_t ttl, std::uint8_t tos,
                                               const EchoRequestKey& key);

// One error-queue entry of a ping socket, as its control data describes it.
struct QueuedIcmpError
{
    std::uint8_t origin = 0; // sock_extended_err::ee_origin
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    IPAddr offender = 0; // the router, from SO_EE_OFFENDER; 0 when absent
};

// A router's answer from a ping socket's error queue: the entry, the quoted
// request that came with it (ICMP header first) and the request's destination
// (the address of the error-queue read). Answers only ICMP-origin entries for the
// key's destination whose quoted request carries the key's sequence (and
// identifier, as above).
std::optional<EchoAnswer> ParsePingSocketError(const QueuedIcmpError& error,
                                               std::span<const std::uint8_t> quotedRequest,
                                               IPAddr quotedDestination, const EchoRequestKey& key);

// What the control data of one recvmsg told.
struct ReceiveControl
{
    bool hasTimestamp = false;
    std::int64_t seconds = 0; // SO_TIMESTAMPNS: wall-clock receive time
    std::int64_t nanoseconds = 0;
    bool hasTtl = false;
    std::uint8_t ttl = 0;
    bool hasTos = false;
    std::uint8_t tos = 0;
    bool hasError = false; // IP_RECVERR entry (error-queue reads)
    QueuedIcmpError error;
    std::uint32_t errorNumber = 0; // sock_extended_err::ee_errno
};

// Walks the cmsghdr records of msg_control (msg_controllen bytes); truncated or
// malformed records end the walk, so any bytes are safe.
ReceiveControl ParseReceiveControl(std::span<const std::uint8_t> control);

// Fills the reply buffer with one record for the answer: the status, the address,
// the round-trip time and as much of the echoed data (taken from `bytes`, where
// the answer was parsed) as fits after the record. The buffer must hold a record;
// it needs no particular alignment.
void WriteEchoReply(const EchoAnswer& answer, ULONG roundTripMs,
                    std::span<const std::uint8_t> bytes, void* replyBuffer, DWORD replySize);

// Writes a record that carries only a failure status (address 0, no data);
// nothing when the buffer cannot hold a record.
void WriteEchoFailure(ULONG status, void* replyBuffer, DWORD replySize);

} // namespace platform
