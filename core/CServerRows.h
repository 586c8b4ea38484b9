#pragma once

// The rows of the server pane ("Открытые порты"), without widgets: one row per
// (server port, client port) pair of every protocol of every group of the
// scheme, with its protocol, its listening port (for IP the protocol number),
// the channel pair text of its group and the state the application logic last
// reported for the port.
//
// Keys: 100000 for TCP, 200000 for UDP, 300000 for IP, plus the port. The
// logic keeps its own server rows, one per listening socket
// (core::CAppLogic::UpdateServerRow); when one of them changes, every row here
// with its key takes the state, except a row that already shows "Порт открыт":
// a port listed in two groups is one listening socket, and the second group's
// attempt to listen on it again ("Порт занят") does not hide that the port
// is open.
//
// Display order (Lines): rows sorted by protocol name ("IP", "TCP", "UDP"),
// scheme order within a protocol; grouped, one group line per distinct pair
// text in scheme order with its rows under it.
//
// Threads: none of its own; the server pane's (the GUI thread).

#include "channel/SchemeGroup.h"
#include "core/CAppLogic.h"
#include "events/Event.h"
#include "events/FilterCriteria.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace core {

class CServerRows
{
public:
    // Indices into the server pane's image strip.
    enum Image : std::int8_t
    {
        ImageNone = -1,
        ImageOpen = 1,
        ImageBusy = 2,
        ImageFailed = 3,
    };

    struct Row
    {
        int protocol = 0;
        std::uint16_t port = 0;
        std::wstring pairText;
        int group = -1;       // the scheme group the row comes from
        bool updated = false; // "..." until the first report
        int state = 0;        // the event code last reported
        std::int8_t image = ImageNone;
        std::optional<std::uint32_t> eventSequence; // the event that last changed it
    };

    // One line of the display: a group line (row = -1, the group's pair text)
    // or a row.
    struct Line
    {
        int row = -1;
        std::wstring groupText;
        bool IsGroup() const { return row < 0; }
    };

    static int Key(int protocol, std::uint16_t port);
    static std::int8_t ImageOf(int state);

    void Fill(const std::vector<std::unique_ptr<channel::SchemeGroup>>& groups);
    void Fill(std::vector<channel::SchemeGroup> groups);
    void Clear();

    // A server row of the logic changed: every row with its key takes its
    // state and event (a row that shows "Порт открыт" keeps it). A logic row
    // that has no report yet (state 0) changes nothing. Returns the rows that
    // changed.
    std::vector<int> Apply(const ServerRow& logicRow,
                           std::optional<std::uint32_t> eventSequence = std::nullopt);

    int Count() const { return static_cast<int>(m_rows.size()); }
    const Row& At(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    const std::vector<channel::SchemeGroup>& Groups() const { return m_groups; }
    // The scheme groups whose pair text is this one (a filter takes them all).
    std::vector<channel::SchemeGroup> GroupsOfPair(const std::wstring& pairText) const;

    // The events pane's filter for a group line ("Отфильтровать события"):
    // the events of the ports of every scheme group with that pair text.
    events::FilterCriteria CriteriaOfPair(const std::wstring& pairText) const;

    std::vector<Line> Lines(bool grouped) const;

    // Column texts: 0 "..." or the state's text, 1 the protocol name, 2 the
    // port, 3 the pair text, 4 the key.
    std::wstring Text(int row, int column) const;

    // The display as text: a group line is its text; a row is its state text,
    // the protocol name and the port ("%u"), then, with the pair column shown,
    // the pair text, separated by tabs; every line ends with lineEnd.
    // groupExpanded (when given) says, by a group's position among the group
    // lines, whether its rows are shown; the rows of one that is not are left
    // out.
    std::wstring CopyText(bool grouped, bool pairColumnShown, const std::wstring& lineEnd,
                          const std::function<bool(int group)>& groupExpanded = {}) const;

    // Rows that show "Порт открыт".
    int OpenCount() const;

    // Whether an event is the one a logic server row names: the same protocol
    // and code (the row's state) with the port as the sender port. The row's
    // event index is only good until the next purge or trim of the store.
    static bool IsEventOfRow(const events::Event& event, const ServerRow& row);

private:
    std::vector<Row> m_rows;
    std::vector<channel::SchemeGroup> m_groups;
    std::multimap<int, int> m_byKey; // key -> row
};

} // namespace core
