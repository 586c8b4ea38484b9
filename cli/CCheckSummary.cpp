#include "cli/CCheckSummary.h"

#include "channel/EventCodes.h"
#include "channel/PeerAddress.h"
#include "engine/IApp.h"
#include "ferrox/strings/Strings.h"

#include <QJsonArray>

#include <cstdio>

namespace cli {

CCheckSummary::CCheckSummary(const std::vector<std::string>& peers,
                             const core::CXmlSettings::GroupList& groups)
{
    for (const std::string& peer : peers) {
        PeerRows peerRows;
        peerRows.address = peer;
        // The same reading as the clients' (StartClients): rows are found by it.
        channel::PeerAddress address;
        channel::ParseAddress(address, peer.c_str());
        peerRows.networkAddress = address.address;
        for (const auto& group : groups) {
            GroupRows groupRows;
            groupRows.sender = group->senderName;
            groupRows.receiver = group->receiverName;
            const std::pair<int, const std::vector<channel::PortPair>*> lists[] = {
                {channel::PROTOCOL_TCP, &group->tcpPairs},
                {channel::PROTOCOL_UDP, &group->udpPairs},
                {channel::PROTOCOL_IP, &group->ipPairs}};
            for (const auto& [protocol, pairs] : lists) {
                if (pairs->empty())
                    continue;
                ProtocolRows protocolRows;
                protocolRows.protocol = protocol;
                for (const channel::PortPair& pair : *pairs) {
                    PortState state;
                    state.serverPort = pair.serverPort;
                    state.clientPort = pair.clientPort;
                    protocolRows.ports.push_back(state);
                }
                groupRows.protocols.push_back(std::move(protocolRows));
            }
            peerRows.groups.push_back(std::move(groupRows));
        }
        m_peers.push_back(std::move(peerRows));
    }
}

void CCheckSummary::Record(const channel::ClientRow& row)
{
    for (auto& peer : m_peers) {
        if (peer.networkAddress != row.peer.address)
            continue;
        for (auto& group : peer.groups) {
            for (auto& protocol : group.protocols) {
                if (protocol.protocol != static_cast<int>(row.protocol))
                    continue;
                for (auto& port : protocol.ports) {
                    if (port.serverPort != row.port)
                        continue;
                    port.attempts = row.attempts;
                    port.replies = row.replies;
                    port.code = static_cast<int>(row.code);
                    port.finished = port.finished || row.finished;
                    port.seen = true;
                    return;
                }
            }
        }
        return;
    }
}

bool CCheckSummary::AllAnswered() const
{
    // Nothing probed is not "every port answered".
    bool any = false;
    for (const auto& peer : m_peers)
        for (const auto& group : peer.groups)
            for (const auto& protocol : group.protocols)
                for (const auto& port : protocol.ports) {
                    if (port.replies <= 0)
                        return false;
                    any = true;
                }
    return any;
}

int CCheckSummary::RowsNeedingRights() const
{
    int rows = 0;
    for (const auto& peer : m_peers)
        for (const auto& group : peer.groups)
            for (const auto& protocol : group.protocols)
                for (const auto& port : protocol.ports)
                    if (port.code == channel::EC_NEED_ADMIN)
                        ++rows;
    return rows;
}

std::string CCheckSummary::Text() const
{
    // The client pane's copy to the clipboard: one tab per level of nesting; a
    // port row is its state, then "Порт ->", "<- Порт", "Отправлено", "Успешно".
    std::string out = "Каналы связи\t\t\t\tПорт ->\t<- Порт\tОтправлено\tУспешно\n";
    char line[256];
    for (const auto& peer : m_peers) {
        out.append(peer.address).append("\n");
        for (const auto& group : peer.groups) {
            out.append("\t")
                .append(as_string(channel::ChannelPairText(group.sender, group.receiver)))
                .append("\n");
            for (const auto& protocol : group.protocols) {
                std::snprintf(line, sizeof(line), "\t\t%s(%zu)\n",
                              channel::ProtocolNameNarrow(protocol.protocol).c_str(),
                              protocol.ports.size());
                out += line;
                for (const auto& port : protocol.ports) {
                    const std::string state = port.seen
                                                  ? as_string(channel::EventCodeText(port.code))
                                                  : std::string("...");
                    std::snprintf(line, sizeof(line), "\t\t\t%s\t%u\t%u\t%d\t%d\n", state.c_str(),
                                  port.serverPort, port.clientPort, port.attempts, port.replies);
                    out += line;
                }
            }
        }
    }
    return out;
}

QJsonObject CCheckSummary::Json() const
{
    QJsonArray peers;
    for (const auto& peer : m_peers) {
        QJsonArray groups;
        for (const auto& group : peer.groups) {
            QJsonArray protocols;
            for (const auto& protocol : group.protocols) {
                QJsonArray ports;
                for (const auto& port : protocol.ports) {
                    QJsonObject p;
                    p["serverPort"] = port.serverPort;
                    p["clientPort"] = port.clientPort;
                    p["attempts"] = port.attempts;
                    p["replies"] = port.replies;
                    p["code"] = port.code;
                    p["state"] = port.seen
                                     ? QString::fromStdWString(channel::EventCodeText(port.code))
                                     : QString();
                    p["finished"] = port.finished;
                    p["answered"] = port.replies > 0;
                    ports.append(p);
                }
                QJsonObject proto;
                proto["protocol"] =
                    QString::fromStdString(channel::ProtocolNameNarrow(protocol.protocol));
                proto["ports"] = ports;
                protocols.append(proto);
            }
            QJsonObject g;
            g["sender"] = QString::fromStdWString(group.sender);
            g["receiver"] = QString::fromStdWString(group.receiver);
            g["protocols"] = protocols;
            groups.append(g);
        }
        QJsonObject p;
        p["address"] = QString::fromStdString(peer.address);
        p["groups"] = groups;
        peers.append(p);
    }
    QJsonObject summary;
    summary["peers"] = peers;
    summary["allAnswered"] = AllAnswered();
    return summary;
}

} // namespace cli
