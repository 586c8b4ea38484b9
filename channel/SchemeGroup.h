#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace channel {

// The protocol of a channel, with the codes the engine and the event record use.
// For Ip the "ports" are IP protocol numbers.
enum class SchemeProtocol : int
{
    Tcp = 1,
    Udp = 2,
    Ip = 3,
};

inline constexpr SchemeProtocol AllSchemeProtocols[] = {SchemeProtocol::Tcp, SchemeProtocol::Udp,
                                                        SchemeProtocol::Ip};

// "TCP", "UDP", "IP": the names in the scheme file and on screen.
inline const wchar_t* SchemeProtocolName(SchemeProtocol protocol)
{
    switch (protocol) {
    case SchemeProtocol::Tcp: return L"TCP";
    case SchemeProtocol::Udp: return L"UDP";
    case SchemeProtocol::Ip: return L"IP";
    }
    return L"";
}

// The protocol of an exact (case-sensitive) name; false for any other text.
inline bool SchemeProtocolFromName(const std::wstring& name, SchemeProtocol& protocol)
{
    for (SchemeProtocol p : AllSchemeProtocols) {
        if (name == SchemeProtocolName(p)) {
            protocol = p;
            return true;
        }
    }
    return false;
}

// One channel's ports.
struct PortPair
{
    std::uint16_t serverPort = 0; // the receiving node listens here (srvPort)
    std::uint16_t clientPort = 0; // the sending node sends from here; 0: none given (clPort)

    bool operator==(const PortPair&) const = default;
};

// One group of the scheme: a sender node, a receiver node and, per protocol,
// the channels' port pairs in file order. Copies are deep.
struct SchemeGroup
{
    std::wstring senderName;
    std::wstring receiverName;
    std::vector<PortPair> tcpPairs;
    std::vector<PortPair> udpPairs;
    std::vector<PortPair> ipPairs;

    std::vector<PortPair>& Pairs(SchemeProtocol protocol)
    {
        return protocol == SchemeProtocol::Tcp   ? tcpPairs
               : protocol == SchemeProtocol::Udp ? udpPairs
                                                 : ipPairs;
    }
    const std::vector<PortPair>& Pairs(SchemeProtocol protocol) const
    {
        return const_cast<SchemeGroup*>(this)->Pairs(protocol);
    }

    bool operator==(const SchemeGroup&) const = default;
};

// A protocol's ports as the settings derive them from the groups and the
// engine is started with (UDP: server port, client port pairs).
using PortList = std::vector<std::uint16_t>;

} // namespace channel
