#pragma once

// The client check's progress tree, without widgets. Four levels:
//
//   peer       one per peer address of the check, in the order typed
//   pair       one per group of the scheme: "<sender> <-> <receiver>"
//   protocol   "TCP(n)", "UDP(n)", "IP(n)" for each protocol with n ports in the group
//   port       one per (server port, client port) pair of that protocol
//
// A port row shows the latest event code of its port (its text and a state
// image), the two ports the clients report for it, and the attempts and
// replies counts. The client pane shows this tree (panes/CClientGridModel),
// kanaliko-cli check prints it (cli/CCheckSummary), and the client check
// decides by it when a peer has finished (core/CClientCheck).
//
// Which rows a client row updates: every port row of its peer address,
// protocol and port (the pair's server port). A port listed in two groups, or
// twice in one, is one port of the peer probed by the same clients, so all of
// its rows show the same progress.
//
// The finished rule: a peer has finished when every distinct (protocol, port)
// of the grid has had a row with finished = yes since the last
// ResetFinished for that peer. Ports are counted, not rows: a port listed
// twice counts once, and a port that reports finished twice (a UDP cycle
// does: the last reply, then the end of the pause after it) counts once.
//
// State images (indices into the client pane's strip; ImageNone: no image):
//   port rows, by the latest code: 2, 3, 7 -> ImageFailed; 4 -> ImageConnected;
//   10 -> ImageStreamSent after ImageConnected, ImageDatagramSent when there
//   was none, otherwise unchanged; 11 -> ImageStreamAnswered after
//   ImageStreamSent, ImageDatagramAnswered after ImageDatagramSent, otherwise
//   unchanged; 14 -> ImageInternalError; any other code -> ImageNone.
//   pair rows: ImagePairAnswered at first, then after each change below it
//   ImagePairAnswered when every port row below has an attempt and a reply,
//   else ImagePairIncomplete.
//
// The shown ports of a port row are those its client rows carry: TCP and IP
// the port twice, UDP the client port, then the server port. A fresh row shows
// them already, so they do not change under the user's eyes at the first
// update.
//
// Threads: none of its own. One thread at a time; an owner that shares it
// between threads guards it with its own lock.

#include "channel/ClientRow.h"
#include "channel/SchemeGroup.h"
#include "events/Event.h"
#include "events/FilterCriteria.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace core {

class CPortRows
{
public:
    enum class Level : std::uint8_t
    {
        Peer,
        Pair,
        Protocol,
        Port,
    };

    // Indices into the client pane's image strip.
    enum Image : std::int8_t
    {
        ImageNone = -1,
        ImagePairAnswered = 1,
        ImageStreamAnswered = 3,
        ImageStreamSent = 4,
        ImageConnected = 5,
        ImageDatagramAnswered = 6,
        ImageDatagramSent = 7,
        ImageFailed = 8,
        ImageInternalError = 9,
        ImagePairIncomplete = 10,
    };

    static constexpr int ColumnCount = 5; // state, "Порт ->", "<- Порт", "Отправлено", "Успешно"

    struct Node
    {
        Level level = Level::Peer;
        int parent = -1; // node number; -1 for a peer
        int row = 0;     // position under its parent (peers: among the peers)
        std::vector<int> children;
        std::uint32_t peerAddress = 0; // network order; every level
        std::string peerText;          // every level
        int group = -1;                // pair, protocol and port rows: the scheme group
        int protocol = 0;              // protocol and port rows
        std::int8_t image = ImageNone; // pair and port rows
        // Port rows.
        channel::PortPair pair; // as the scheme has it
        std::uint16_t shownPort1 = 0;
        std::uint16_t shownPort2 = 0;
        bool updated = false; // a client row has reached it
        std::uint32_t code = 0;
        std::int32_t attempts = 0;
        std::int32_t replies = 0;
        bool finished = false; // some row of this port came with finished = yes
        // The latest event of the row, by sequence number (indexes change with
        // every purge and trim of the event store; sequence numbers do not).
        std::optional<std::uint32_t> eventSequence;
    };

    CPortRows();
    ~CPortRows();
    CPortRows(const CPortRows&);
    CPortRows& operator=(const CPortRows&);

    // Rebuilds the tree for these peers (dotted texts) and groups (copied).
    void Build(const std::vector<std::string>& peers, std::vector<channel::SchemeGroup> groups);
    void Build(const std::vector<std::string>& peers,
               const std::vector<std::unique_ptr<channel::SchemeGroup>>& groups);
    void Clear();

    // Applies a client row to every port row of its peer, protocol and port.
    // eventSequence: the sequence number of the row's event, when the caller
    // could tell it. Returns the nodes whose display changed (port rows first,
    // then their pair rows); empty when no port row matches.
    std::vector<int> Apply(const channel::ClientRow& row,
                           std::optional<std::uint32_t> eventSequence = std::nullopt);

    // The finished rule (see above). False for a grid without ports.
    bool AllPortsFinished(std::uint32_t peerAddress) const;
    // Forgets the peer's finished ports (a new turn of the same peer).
    void ResetFinished(std::uint32_t peerAddress);
    // Distinct (protocol, port) of the grid, the same for every peer.
    int DistinctPortCount() const { return static_cast<int>(m_distinctPorts.size()); }
    int FinishedPortCount(std::uint32_t peerAddress) const;

    // The tree.
    bool Empty() const { return m_nodes.empty(); }
    int NodeCount() const { return static_cast<int>(m_nodes.size()); }
    const Node& At(int node) const { return m_nodes[static_cast<std::size_t>(node)]; }
    const std::vector<int>& Peers() const { return m_peers; }
    const std::vector<channel::SchemeGroup>& Groups() const { return m_groups; }
    // Levels above the node (0 for a peer).
    int Depth(int node) const;
    // Walks up to the node's peer row.
    int PeerOf(int node) const;

    // Cell texts: column 0 is the peer address, the pair text, "TCP(2)", or
    // for a port row "..." until its first update and then the code's text.
    // Columns 1 to 4 are empty except on port rows; 3 and 4 stay empty until
    // the first update.
    std::wstring Text(int node, int column) const;

    // The tree as tab-separated text: for each row in order, one tab per level
    // above it, then for a peer, pair or protocol row its column-0 text, and
    // for a port row its column-0 text, a tab and "%u\t%u\t%d\t%d" of the two
    // ports, attempts and replies; each row ends with lineEnd. shown (when
    // given) says which nodes are shown: a node that is not is left out with
    // everything below it.
    std::wstring CopyText(const std::wstring& lineEnd,
                          const std::function<bool(int node)>& shown = {}) const;

    // The events pane's filter for a row ("Отфильтровать события" of the
    // client pane). Every row restricts to the events of its peer: sender
    // the peer or this node (localAddress), receiver the peer, this node or
    // none (a socket's opening names no peer); so both the probes sent to the
    // peer and the replies from it pass, and nothing exchanged with another
    // peer does. A pair row adds its scheme group to the port groups; a
    // protocol row adds its protocol and its group; a port row its protocol and
    // a group of its pair alone.
    events::FilterCriteria CriteriaOf(int node, const std::string& localAddress) const;

    // Every port row has a reply (false for a grid without port rows).
    bool AllAnswered() const;
    // Port rows whose latest code is 3 ("Нужны права администратора").
    int RowsWithCode(std::uint32_t code) const;

    // Whether an event is the one a client row reports: the same protocol and
    // code, the row's port at either end and the peer at either end (or no
    // receiver at all: a socket's opening names no peer). A row's event index
    // is only good until the next purge or trim of the store; a caller that
    // looks it up later checks it with this before taking its sequence number.
    static bool IsEventOfRow(const events::Event& event, const channel::ClientRow& row);
    // The state image after a code, from the image before it.
    static std::int8_t NextImage(std::int8_t image, std::uint32_t code);

private:
    using PortKey = std::tuple<std::uint32_t, int, std::uint16_t>; // peer, protocol, port

    int AddNode(Node node);
    void UpdatePairImage(int pairNode, std::vector<int>& changed);

    std::vector<Node> m_nodes;
    std::vector<int> m_peers;
    std::vector<channel::SchemeGroup> m_groups;
    std::map<PortKey, std::vector<int>> m_portNodes;
    std::set<std::pair<int, std::uint16_t>> m_distinctPorts;
    std::map<std::uint32_t, std::set<std::pair<int, std::uint16_t>>> m_finished;
};

} // namespace core
