#pragma once

// The client pane's tree in text and JSON form: per peer, per channel pair of
// the scheme, per protocol, one row per (server port, client port) pair with
// the attempts, replies and latest event code of that port. Rows are matched
// as the pane matches them: by peer, protocol and the pair's server port, the
// first such row of the peer.
//
// Threads: the GUI thread.

#include "channel/ClientRow.h"
#include "core/CXmlSettings.h"

#include <QJsonObject>

#include <string>
#include <vector>

namespace cli {

class CCheckSummary
{
public:
    CCheckSummary(const std::vector<std::string>& peers,
                  const core::CXmlSettings::GroupList& groups);

    void Record(const channel::ClientRow& row);

    // True when there are port rows and every one of every peer got at least
    // one reply.
    bool AllAnswered() const;
    // Port rows whose last code was 3 (no rights for raw sockets).
    int RowsNeedingRights() const;

    std::string Text() const;
    QJsonObject Json() const;

private:
    struct PortState
    {
        std::uint16_t serverPort = 0;
        std::uint16_t clientPort = 0;
        int attempts = 0;
        int replies = 0;
        int code = 0;
        bool finished = false;
        bool seen = false;
    };
    struct ProtocolRows
    {
        int protocol = 0;
        std::vector<PortState> ports;
    };
    struct GroupRows
    {
        std::wstring sender;
        std::wstring receiver;
        std::vector<ProtocolRows> protocols;
    };
    struct PeerRows
    {
        std::string address;
        std::uint32_t networkAddress = 0;
        std::vector<GroupRows> groups;
    };

    std::vector<PeerRows> m_peers;
};

} // namespace cli
