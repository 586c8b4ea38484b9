#pragma once

// One channel as the scheme editor and the channel dialog show it, and the
// conversions between that view and the scheme's groups.
//
// A channel is stored as a PortPair of one protocol of one group; on screen it
// is the sender's port and the receiver's port:
//   entry -> pair: server port = receiver port; client port = 0 when the two
//                  ports are equal, else the sender port;
//   pair -> entry: receiver port = server port; sender port = the client port,
//                  or the server port when the client port is 0.
// So a TCP channel 1000 -> 1000 is stored as (1000, 0) and shows 1000 twice, and
// a UDP channel 5001 -> 5000 is stored as (5000, 5001).

#include "channel/SchemeGroup.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dialogs {

struct ChannelEntry
{
    std::wstring protocol; // "TCP", "UDP" or "IP"; empty for a channel not entered yet
    std::wstring senderName;
    std::wstring receiverName;
    std::uint16_t senderPort = 0;
    std::uint16_t receiverPort = 0;

    bool operator==(const ChannelEntry&) const = default;
};

channel::PortPair PortPairOf(const ChannelEntry& entry);
// The entry of one pair of a group (protocol text from the protocol code).
ChannelEntry ChannelEntryOf(const channel::SchemeGroup& group, channel::SchemeProtocol protocol,
                            const channel::PortPair& pair);

// Every channel of the groups: group by group, TCP pairs, then UDP, then IP.
std::vector<ChannelEntry> ChannelEntriesOf(const std::vector<channel::SchemeGroup>& groups);

// The groups of a list of channels. A group per (sender, receiver), ordered by
// the text "sender <-> receiver" compared as UTF-16 code units (so by sender
// first); each protocol list keeps the order of the channels. A channel whose
// protocol text is not exactly "TCP", "UDP" or "IP" adds nothing. Two different
// pairs whose texts coincide (a name containing " <-> ") stay two groups.
std::vector<channel::SchemeGroup> GroupsOfChannels(const std::vector<ChannelEntry>& channels);

// Names compare as plain UTF-16 code units, whatever wchar_t is on the platform.
bool NameLess(const std::wstring& left, const std::wstring& right);
std::u16string Utf16Of(const std::wstring& text);

} // namespace dialogs
