#pragma once

// The bytes of a probe. There is no framing, sequence number or checksum: a
// probe is a payload of fixed content and length, and a reply only proves that
// something came back on the same socket.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace channel {

// Each word goes on the wire followed by one zero byte: 10 bytes.
inline constexpr std::string_view ProbeWord = "tessarium";
inline constexpr std::string_view ReplyWord = "+essarium";
inline constexpr std::size_t WordBytes = 10;

// Every server reads at most this much per read; so do the UDP and IP clients.
inline constexpr std::size_t ReceiveBufferSize = 2048;

// The largest payload a probe may have: what fits one UDP datagram.
inline constexpr std::size_t MaxProbeSize = 65507;

// The payload size used for a SendDataSize option. UDP and IP probes carry the
// probe word and its zero byte, so they never go below 10 bytes: a smaller
// value (only a hand-edited options file can hold one) would send a cut word.
// A TCP probe needs at least one byte, or an empty echo would count as a reply.
// Larger values are bounded by what one datagram can carry.
std::size_t TcpProbeSize(int sendDataSize);
std::size_t DatagramProbeSize(int sendDataSize);

// The UDP and IP request: "tessarium", 0, then zeros up to `size` (>= 10).
std::vector<char> BuildRequest(std::size_t size);
// The IP server's answer: "+essarium" and its zero byte, always 10 bytes.
std::vector<char> BuildReply();

// Where the payload starts in what a raw socket read: after the IPv4 header,
// whose length the header states itself (options move the payload). Returns
// `length` when the bytes are not a plausible IPv4 header.
std::size_t Ipv4PayloadOffset(const unsigned char* datagram, std::size_t length);

// Whether the payload, read as text up to its first zero byte (or its end),
// contains the word.
bool PayloadHasWord(const char* payload, std::size_t length, std::string_view word);

// Whether what a raw socket read (IPv4 header, then payload) carries the word in
// its payload: the IP server looks for the probe word, the IP client for the
// reply word. A payload shorter than a word on the wire (the word and its zero
// byte) carries neither: the server's answer (its own header and 10 bytes) is
// thus never larger than the datagram it answers. Any bytes of any length are
// safe; null is false.
bool RawDatagramHasWord(const void* datagram, std::size_t length, std::string_view word);

} // namespace channel
