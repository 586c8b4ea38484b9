#include "dialogs/ChannelEntry.h"

#include <map>
#include <utility>

namespace dialogs {

channel::PortPair PortPairOf(const ChannelEntry& entry)
{
    channel::PortPair pair;
    pair.serverPort = entry.receiverPort;
    pair.clientPort = entry.senderPort == entry.receiverPort ? 0 : entry.senderPort;
    return pair;
}

ChannelEntry ChannelEntryOf(const channel::SchemeGroup& group, channel::SchemeProtocol protocol,
                            const channel::PortPair& pair)
{
    ChannelEntry entry;
    entry.protocol = channel::SchemeProtocolName(protocol);
    entry.senderName = group.senderName;
    entry.receiverName = group.receiverName;
    entry.receiverPort = pair.serverPort;
    entry.senderPort = pair.clientPort != 0 ? pair.clientPort : pair.serverPort;
    return entry;
}

std::vector<ChannelEntry> ChannelEntriesOf(const std::vector<channel::SchemeGroup>& groups)
{
    std::vector<ChannelEntry> entries;
    for (const channel::SchemeGroup& group : groups)
        for (channel::SchemeProtocol protocol : channel::AllSchemeProtocols)
            for (const channel::PortPair& pair : group.Pairs(protocol))
                entries.push_back(ChannelEntryOf(group, protocol, pair));
    return entries;
}

std::vector<channel::SchemeGroup> GroupsOfChannels(const std::vector<ChannelEntry>& channels)
{
    // Keyed by the display text first, so the groups come out in its order; the
    // sender breaks the tie of two pairs whose texts coincide, and with it the
    // receiver is determined, so no two pairs ever share a group.
    using Key = std::pair<std::u16string, std::u16string>;
    std::map<Key, channel::SchemeGroup> groups;
    for (const ChannelEntry& entry : channels) {
        channel::SchemeProtocol protocol;
        if (!channel::SchemeProtocolFromName(entry.protocol, protocol))
            continue;
        const Key key{Utf16Of(entry.senderName + L" <-> " + entry.receiverName),
                      Utf16Of(entry.senderName)};
        auto [it, inserted] = groups.try_emplace(key);
        if (inserted) {
            it->second.senderName = entry.senderName;
            it->second.receiverName = entry.receiverName;
        }
        it->second.Pairs(protocol).push_back(PortPairOf(entry));
    }
    std::vector<channel::SchemeGroup> result;
    result.reserve(groups.size());
    for (auto& [key, group] : groups)
        result.push_back(std::move(group));
    return result;
}

std::u16string Utf16Of(const std::wstring& text)
{
    std::u16string units;
    units.reserve(text.size());
    for (wchar_t c : text) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code > 0x10FFFF) {
            units.push_back(u'\uFFFD');
        } else if (code > 0xFFFF) {
            const std::uint32_t v = code - 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
    }
    return units;
}

bool NameLess(const std::wstring& left, const std::wstring& right)
{
    return Utf16Of(left) < Utf16Of(right);
}

} // namespace dialogs
