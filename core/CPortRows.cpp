#include "core/CPortRows.h"

#include "channel/EventCodes.h"
#include "channel/PeerAddress.h"

#include <cwchar>

namespace core {

CPortRows::CPortRows() = default;
CPortRows::~CPortRows() = default;
CPortRows::CPortRows(const CPortRows&) = default;
CPortRows& CPortRows::operator=(const CPortRows&) = default;

int CPortRows::AddNode(Node node)
{
    const int number = static_cast<int>(m_nodes.size());
    if (node.parent >= 0) {
        Node& parent = m_nodes[static_cast<std::size_t>(node.parent)];
        node.row = static_cast<int>(parent.children.size());
        parent.children.push_back(number);
    } else {
        node.row = static_cast<int>(m_peers.size());
        m_peers.push_back(number);
    }
    m_nodes.push_back(std::move(node));
    return number;
}

void CPortRows::Build(const std::vector<std::string>& peers,
                      std::vector<channel::SchemeGroup> groups)
{
    Clear();
    m_groups = std::move(groups);
    for (const std::string& peerText : peers) {
        // The reading the clients are started with (StartClients): rows are
        // found by the address it gives.
        channel::PeerAddress address;
        channel::ParseAddress(address, peerText.c_str());
        Node peer;
        peer.level = Level::Peer;
        peer.peerAddress = address.address;
        peer.peerText = peerText;
        const int peerNode = AddNode(peer);
        for (std::size_t g = 0; g < m_groups.size(); ++g) {
            const channel::SchemeGroup& group = m_groups[g];
            Node pair;
            pair.level = Level::Pair;
            pair.parent = peerNode;
            pair.peerAddress = address.address;
            pair.peerText = peerText;
            pair.group = static_cast<int>(g);
            pair.image = ImagePairAnswered;
            const int pairNode = AddNode(pair);
            for (channel::SchemeProtocol protocol : channel::AllSchemeProtocols) {
                const std::vector<channel::PortPair>& pairs = group.Pairs(protocol);
                if (pairs.empty())
                    continue;
                Node protocolRow;
                protocolRow.level = Level::Protocol;
                protocolRow.parent = pairNode;
                protocolRow.peerAddress = address.address;
                protocolRow.peerText = peerText;
                protocolRow.group = static_cast<int>(g);
                protocolRow.protocol = static_cast<int>(protocol);
                const int protocolNode = AddNode(protocolRow);
                for (const channel::PortPair& ports : pairs) {
                    Node port;
                    port.level = Level::Port;
                    port.parent = protocolNode;
                    port.peerAddress = address.address;
                    port.peerText = peerText;
                    port.group = static_cast<int>(g);
                    port.protocol = static_cast<int>(protocol);
                    port.pair = ports;
                    if (protocol == channel::SchemeProtocol::Udp) {
                        port.shownPort1 = ports.clientPort;
                        port.shownPort2 = ports.serverPort;
                    } else {
                        port.shownPort1 = ports.serverPort;
                        port.shownPort2 = ports.serverPort;
                    }
                    const int portNode = AddNode(port);
                    m_portNodes[{address.address, port.protocol, ports.serverPort}].push_back(
                        portNode);
                    m_distinctPorts.insert({port.protocol, ports.serverPort});
                }
            }
        }
    }
}

void CPortRows::Build(const std::vector<std::string>& peers,
                      const std::vector<std::unique_ptr<channel::SchemeGroup>>& groups)
{
    std::vector<channel::SchemeGroup> copies;
    copies.reserve(groups.size());
    for (const auto& group : groups) {
        if (group)
            copies.push_back(*group);
    }
    Build(peers, std::move(copies));
}

void CPortRows::Clear()
{
    m_nodes.clear();
    m_peers.clear();
    m_groups.clear();
    m_portNodes.clear();
    m_distinctPorts.clear();
    m_finished.clear();
}

std::int8_t CPortRows::NextImage(std::int8_t image, std::uint32_t code)
{
    switch (code) {
    case channel::EC_PORT_BUSY:
    case channel::EC_NEED_ADMIN:
    case channel::EC_CONNECT_FAILED: return ImageFailed;
    case channel::EC_CONNECTED: return ImageConnected;
    case channel::EC_SENT:
        // A failed connect keeps its cross: only a connected stream or a
        // fresh row (a datagram's first send) shows the send.
        if (image == ImageConnected)
            return ImageStreamSent;
        return image == ImageNone ? static_cast<std::int8_t>(ImageDatagramSent) : image;
    case channel::EC_RECEIVED:
        if (image == ImageStreamSent)
            return ImageStreamAnswered;
        return image == ImageDatagramSent ? static_cast<std::int8_t>(ImageDatagramAnswered) : image;
    case channel::EC_INTERNAL_ERROR: return ImageInternalError;
    default: return ImageNone;
    }
}

std::vector<int> CPortRows::Apply(const channel::ClientRow& row,
                                  std::optional<std::uint32_t> eventSequence)
{
    std::vector<int> changed;
    if (row.port > 0xFFFF)
        return changed;
    const auto found = m_portNodes.find(
        {row.peer.address, static_cast<int>(row.protocol), static_cast<std::uint16_t>(row.port)});
    // A row for a port that is not (or no longer) in the grid is ignored.
    if (found == m_portNodes.end())
        return changed;
    std::vector<int> pairs;
    for (int number : found->second) {
        Node& port = m_nodes[static_cast<std::size_t>(number)];
        port.code = row.code;
        port.image = NextImage(port.image, row.code);
        port.shownPort1 = row.port1;
        port.shownPort2 = row.port2;
        port.attempts = row.attempts;
        port.replies = row.replies;
        port.updated = true;
        port.finished = port.finished || row.finished;
        if (eventSequence)
            port.eventSequence = eventSequence;
        changed.push_back(number);
        const int pair = m_nodes[static_cast<std::size_t>(port.parent)].parent;
        if (pairs.empty() || pairs.back() != pair)
            pairs.push_back(pair);
    }
    for (int pair : pairs)
        UpdatePairImage(pair, changed);
    if (row.finished)
        m_finished[row.peer.address].insert(
            {static_cast<int>(row.protocol), static_cast<std::uint16_t>(row.port)});
    return changed;
}

void CPortRows::UpdatePairImage(int pairNode, std::vector<int>& changed)
{
    bool answered = true;
    for (int protocol : m_nodes[static_cast<std::size_t>(pairNode)].children) {
        for (int number : m_nodes[static_cast<std::size_t>(protocol)].children) {
            const Node& port = m_nodes[static_cast<std::size_t>(number)];
            if (port.attempts <= 0 || port.replies == 0)
                answered = false;
        }
    }
    Node& pair = m_nodes[static_cast<std::size_t>(pairNode)];
    const std::int8_t image = answered ? ImagePairAnswered : ImagePairIncomplete;
    if (pair.image != image) {
        pair.image = image;
        changed.push_back(pairNode);
    }
}

bool CPortRows::AllPortsFinished(std::uint32_t peerAddress) const
{
    return !m_distinctPorts.empty() && FinishedPortCount(peerAddress) == DistinctPortCount();
}

int CPortRows::FinishedPortCount(std::uint32_t peerAddress) const
{
    const auto found = m_finished.find(peerAddress);
    return found == m_finished.end() ? 0 : static_cast<int>(found->second.size());
}

void CPortRows::ResetFinished(std::uint32_t peerAddress)
{
    m_finished.erase(peerAddress);
}

int CPortRows::Depth(int node) const
{
    int depth = 0;
    for (int n = At(node).parent; n >= 0; n = At(n).parent)
        ++depth;
    return depth;
}

int CPortRows::PeerOf(int node) const
{
    while (At(node).parent >= 0)
        node = At(node).parent;
    return node;
}

std::wstring CPortRows::Text(int number, int column) const
{
    const Node& node = At(number);
    if (column == 0) {
        switch (node.level) {
        case Level::Peer: return channel::WideFromNarrow(node.peerText);
        case Level::Pair: {
            const channel::SchemeGroup& group = m_groups[static_cast<std::size_t>(node.group)];
            return channel::ChannelPairText(group.senderName, group.receiverName);
        }
        case Level::Protocol: {
            wchar_t text[32];
            std::swprintf(text, sizeof(text) / sizeof(text[0]), L"%ls(%d)",
                          channel::ProtocolName(node.protocol).c_str(),
                          static_cast<int>(node.children.size()));
            return text;
        }
        case Level::Port:
            return node.updated ? channel::EventCodeText(static_cast<int>(node.code)) : L"...";
        }
        return {};
    }
    if (node.level != Level::Port)
        return {};
    switch (column) {
    case 1: return std::to_wstring(node.shownPort1);
    case 2: return std::to_wstring(node.shownPort2);
    case 3: return node.updated ? std::to_wstring(node.attempts) : std::wstring();
    case 4: return node.updated ? std::to_wstring(node.replies) : std::wstring();
    default: return {};
    }
}

std::wstring CPortRows::CopyText(const std::wstring& lineEnd,
                                 const std::function<bool(int node)>& shown) const
{
    std::wstring out;
    std::function<void(int)> write = [&](int number) {
        if (shown && !shown(number))
            return;
        const Node& node = At(number);
        out.append(static_cast<std::size_t>(Depth(number)), L'\t');
        out += Text(number, 0);
        if (node.level == Level::Port) {
            wchar_t numbers[64];
            std::swprintf(numbers, sizeof(numbers) / sizeof(numbers[0]), L"\t%u\t%u\t%d\t%d",
                          static_cast<unsigned>(node.shownPort1),
                          static_cast<unsigned>(node.shownPort2), node.attempts, node.replies);
            out += numbers;
        }
        out += lineEnd;
        for (int child : node.children)
            write(child);
    };
    for (int peer : m_peers)
        write(peer);
    return out;
}

events::FilterCriteria CPortRows::CriteriaOf(int number, const std::string& localAddress) const
{
    const Node& node = At(number);
    events::FilterCriteria criteria;
    criteria.senders = {node.peerText};
    criteria.receivers = {node.peerText, std::string()};
    if (localAddress != node.peerText) {
        criteria.senders.push_back(localAddress);
        criteria.receivers.push_back(localAddress);
    }
    if (node.level == Level::Peer)
        return criteria;
    const channel::SchemeGroup& group = m_groups[static_cast<std::size_t>(node.group)];
    if (node.level == Level::Port) {
        channel::SchemeGroup only;
        only.senderName = group.senderName;
        only.receiverName = group.receiverName;
        only.Pairs(static_cast<channel::SchemeProtocol>(node.protocol)) = {node.pair};
        criteria.portGroups = {only};
    } else {
        criteria.portGroups = {group};
    }
    if (node.level != Level::Pair)
        criteria.protocols = {node.protocol};
    return criteria;
}

bool CPortRows::AllAnswered() const
{
    bool any = false;
    for (const Node& node : m_nodes) {
        if (node.level != Level::Port)
            continue;
        if (node.replies <= 0)
            return false;
        any = true;
    }
    return any;
}

int CPortRows::RowsWithCode(std::uint32_t code) const
{
    int rows = 0;
    for (const Node& node : m_nodes) {
        if (node.level == Level::Port && node.updated && node.code == code)
            ++rows;
    }
    return rows;
}

bool CPortRows::IsEventOfRow(const events::Event& event, const channel::ClientRow& row)
{
    if (event.protocol != static_cast<std::int32_t>(row.protocol) ||
        event.description != static_cast<std::int32_t>(row.code))
        return false;
    if (event.senderPort != row.port && event.receiverPort != row.port)
        return false;
    return event.senderAddress == row.peer.address || event.receiverAddress == row.peer.address ||
           event.receiverText[0] == '\0';
}

} // namespace core
