#pragma once

#include <cstdint>
#include <string>

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

// The one reading of an address text in the whole program: four DECIMAL
// numbers separated by dots (never octal or hex, as inet_addr and inet_aton
// would read "010" or "0x10"). Every place that turns text into an address
// goes through ParseAddress, directly or through ReadPlainAddress.

// Turns dotted text into the record. The text must be four decimal numbers
// separated by dots and at most 15 characters long; each number gives its low
// 8 bits, so 300.1.1.1 is 44.1.1.1 (true). Anything else (fewer or more than
// four parts, an empty part, a sign, a blank or any other character, a null
// pointer) sets 0.0.0.0 with empty text and gives false. On success the text is
// stored as given.
bool ParseAddress(PeerAddress& record, const char* text);

// True when the text is an address spelt plainly: four numbers of 0..255
// without leading zeros ("0" itself is fine), so that no reading of it could
// differ from ParseAddress's; the address (network order) goes to `address`.
// "127.0.0.010", "300.1.1.1" and "1.2.3.4 " are not plain.
bool ReadPlainAddress(const std::string& text, std::uint32_t& address);

} // namespace channel
