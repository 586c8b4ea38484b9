#pragma once

// What passes between Kanaliko and its raw-socket helper, kanaliko-rawsock, over
// an AF_UNIX SOCK_SEQPACKET socket pair (one message per request or answer, so a
// short or long message is seen as such). Both ends run on one machine, so the
// numbers travel in host byte order.
//
//   request (8 bytes): magic "KRSQ", version 1 (u16), IP protocol number (u16)
//   answer  (8 bytes): magic "KRSA", errno (i32); 0 = the socket is attached as
//                      the one descriptor of an SCM_RIGHTS control message
//
// Plain C++ without the program's libraries: the helper is a small privileged
// program and links nothing but the C and C++ runtimes.

#include <cstddef>
#include <cstdint>

namespace rawsock {

inline constexpr std::size_t kRequestSize = 8;
inline constexpr std::size_t kAnswerSize = 8;
inline constexpr std::uint32_t kRequestMagic = 0x5153524B; // "KRSQ" in memory order
inline constexpr std::uint32_t kAnswerMagic = 0x4153524B;  // "KRSA"
inline constexpr std::uint16_t kVersion = 1;

// Whether the helper opens a raw IPv4 socket of this protocol number: 1..254
// (what the socket layer accepts for an IP channel; ICMP, 1, is also the echo
// and route engines' socket), except the transport protocols whose raw sockets
// receive a copy of every other program's conversations on the host: TCP (6),
// UDP (17), DCCP (33), SCTP (132) and UDP-Lite (136). Those stay for root or a
// capable program.
bool ProtocolAllowed(int protocol);

// The helper's verdict on one received message: error 0 and the protocol to
// open, or the errno to answer with:
//   EINVAL           shorter than a request, or wrong magic or version
//   EMSGSIZE         longer than a request
//   EPROTONOSUPPORT  protocol number outside 1..254
//   EPERM            a protocol that ProtocolAllowed refuses
struct RequestVerdict
{
    int error = 0;
    int protocol = 0;
};

// A pure function of the bytes, so it can be unit-tested and fuzzed. length is
// the message's full length; data holds at least min(length, kRequestSize + 1)
// bytes (the helper reads no more than that).
RequestVerdict ParseRequest(const std::uint8_t* data, std::size_t length);

void EncodeRequest(int protocol, std::uint8_t (&out)[kRequestSize]);
void EncodeAnswer(int error, std::uint8_t (&out)[kAnswerSize]);
// False unless the message is exactly an answer; *error then holds its errno.
bool ParseAnswer(const std::uint8_t* data, std::size_t length, int* error);

} // namespace rawsock
