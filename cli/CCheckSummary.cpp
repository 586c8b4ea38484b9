#include "cli/CCheckSummary.h"

#include "channel/EventCodes.h"
#include "ferrox/strings/Strings.h"

#include <QJsonArray>

namespace cli {

CCheckSummary::CCheckSummary(const std::vector<std::string>& peers,
                             const core::CXmlSettings::GroupList& groups)
{
    m_rows.Build(peers, groups);
}

int CCheckSummary::RowsNeedingRights() const
{
    return m_rows.RowsWithCode(channel::EC_NEED_ADMIN);
}

std::string CCheckSummary::Text() const
{
    // The client pane's copy to the clipboard, with plain line feeds: one tab
    // per level of nesting; a port row is its state, then "Порт ->",
    // "<- Порт", "Отправлено", "Успешно".
    return "Каналы связи\t\t\t\tПорт ->\t<- Порт\tОтправлено\tУспешно\n" +
           as_string(m_rows.CopyText(L"\n"));
}

QJsonObject CCheckSummary::Json() const
{
    using Level = core::CPortRows::Level;
    auto children = [this](int node, auto&& make) {
        QJsonArray out;
        for (int child : m_rows.At(node).children)
            out.append(make(child));
        return out;
    };
    auto port = [this](int node) {
        const core::CPortRows::Node& row = m_rows.At(node);
        QJsonObject p;
        p["serverPort"] = row.pair.serverPort;
        p["clientPort"] = row.pair.clientPort;
        p["attempts"] = row.attempts;
        p["replies"] = row.replies;
        p["code"] = static_cast<int>(row.code);
        p["state"] = row.updated ? QString::fromStdWString(m_rows.Text(node, 0)) : QString();
        p["finished"] = row.finished;
        p["answered"] = row.replies > 0;
        return p;
    };
    auto protocol = [&](int node) {
        QJsonObject p;
        p["protocol"] =
            QString::fromStdString(channel::ProtocolNameNarrow(m_rows.At(node).protocol));
        p["ports"] = children(node, port);
        return p;
    };
    auto group = [&](int node) {
        const channel::SchemeGroup& scheme =
            m_rows.Groups()[static_cast<std::size_t>(m_rows.At(node).group)];
        QJsonObject g;
        g["sender"] = QString::fromStdWString(scheme.senderName);
        g["receiver"] = QString::fromStdWString(scheme.receiverName);
        g["protocols"] = children(node, protocol);
        return g;
    };
    QJsonArray peers;
    for (int node : m_rows.Peers()) {
        Q_ASSERT(m_rows.At(node).level == Level::Peer);
        QJsonObject p;
        p["address"] = QString::fromStdString(m_rows.At(node).peerText);
        p["groups"] = children(node, group);
        peers.append(p);
    }
    QJsonObject summary;
    summary["peers"] = peers;
    summary["allAnswered"] = AllAnswered();
    return summary;
}

} // namespace cli
