// Address texts as the user types them into an address box or on the command
// line: the address-list parser and the peer parser must agree. Every piece the
// list accepts must parse as a peer, spell exactly the address it parses to
// (one reading: decimal, no leading zeros), read the same in the event record,
// never be 255.255.255.255, and contain no separator; every piece, accepted or
// refused, is a non-empty run of the text between separators, in order. In the
// other direction, a plainly spelt address other than 255.255.255.255 must be
// accepted. Any disagreement aborts.

#include "channel/EventCodes.h"
#include "channel/PeerAddress.h"
#include "core/AddressList.h"
#include "events/Event.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The non-empty runs between spaces and semicolons, in order.
std::vector<std::string> Pieces(const std::string& text)
{
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        if (c == ' ' || c == ';') {
            if (!piece.empty())
                pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty())
        pieces.push_back(piece);
    return pieces;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const core::AddressList list = core::ParseAddressList(text);

    const std::vector<std::string> pieces = Pieces(text);
    std::size_t accepted = 0;
    std::size_t refused = 0;
    for (const std::string& piece : pieces) {
        // Every piece lands in exactly one list, in order.
        if (accepted < list.addresses.size() && list.addresses[accepted] == piece) {
            ++accepted;
            Check(core::IsValidListAddress(piece));
            channel::PeerAddress peer;
            Check(channel::ParseAddress(peer, piece.c_str()));
            Check(peer.text == piece);
            Check(channel::AddressText(peer.address) == piece);
            Check(peer.address != 0xFFFFFFFFu);
            Check(piece.size() <= 15);
            Check(events::AddressOfText(piece.c_str()) == peer.address);
            std::uint32_t listed = 0;
            Check(core::IsValidListAddress(piece, listed) && listed == peer.address);
        } else {
            Check(refused < list.refused.size() && list.refused[refused] == piece);
            ++refused;
            Check(!core::IsValidListAddress(piece));
            // Refused although the peer parser reads it: then it is not spelt
            // plainly, or it is the one address the system refuses.
            channel::PeerAddress peer;
            if (piece.find('\0') == std::string::npos && channel::ParseAddress(peer, piece.c_str()))
                Check(channel::AddressText(peer.address) != piece || peer.address == 0xFFFFFFFFu);
        }
    }
    Check(accepted == list.addresses.size() && refused == list.refused.size());
    Check(list.Complete() == (!pieces.empty() && refused == 0));
    return 0;
}
