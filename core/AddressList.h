#pragma once

// The address lists the user types: the peers of the client check and the
// targets of the echo request and the route trace, in the GUI's address boxes
// and on kanaliko-cli's command line alike.
//
// A list is split at spaces and semicolons; empty pieces are dropped. A piece
// is a valid address when it is spelt plainly (channel::ReadPlainAddress: four
// decimal numbers of 0..255, no leading zeros, at most 15 characters) and is
// not 255.255.255.255, which the system's address conversion refuses as "no
// address". Leading zeros are refused rather than read one way or the other:
// "127.0.0.010" is 127.0.0.8 to inet_addr and 127.0.0.10 to a decimal reading,
// and one address must not have two.
//
// Threads: any (pure functions).

#include <cstdint>
#include <string>
#include <vector>

namespace core {

struct AddressList
{
    std::vector<std::string> addresses; // the valid pieces, in order
    std::vector<std::string> refused;   // the invalid pieces, in order

    // At least one piece, and every piece valid.
    bool Complete() const { return !addresses.empty() && refused.empty(); }
};

AddressList ParseAddressList(const std::string& text);

// The rule for one piece; the address (network order) goes to `address`.
bool IsValidListAddress(const std::string& piece, std::uint32_t& address);
bool IsValidListAddress(const std::string& piece);

// "Адрес %s содержит ошибку" with the piece.
std::string AddressErrorText(const std::string& piece);

} // namespace core
