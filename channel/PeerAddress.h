#pragma once

#include <cstdint>

namespace channel {

// An IPv4 address as the engine and the logic pass it around (by value).
struct PeerAddress
{
    // IPv4, network byte order: the first number of the dotted text is the
    // lowest-addressed byte.
    std::uint32_t address = 0;
    char text[16] = {}; // dotted text, zero-terminated
};

// Two records name the same peer when their addresses are equal; the text is
// only its spelling.
inline bool operator==(const PeerAddress& a, const PeerAddress& b)
{
    return a.address == b.address;
}

// The index-th number (0..3) of the dotted form: 10 for index 0 of 10.1.2.3.
inline std::uint8_t AddressNumber(const PeerAddress& peer, int index)
{
    return reinterpret_cast<const std::uint8_t*>(&peer.address)[index & 3];
}

// Turns dotted text into the record. The text must be four decimal numbers
// separated by dots and at most 15 characters long; each number gives its low
// 8 bits, so 300.1.1.1 is 44.1.1.1 (true). Anything else (fewer or more than
// four parts, an empty part, a sign, a blank or any other character, a null
// pointer) sets 0.0.0.0 with empty text and gives false. On success the text is
// stored as given.
bool ParseAddress(PeerAddress& record, const char* text);

} // namespace channel
