#include "core/CServerRows.h"

#include "channel/EventCodes.h"

#include <algorithm>

namespace core {

int CServerRows::Key(int protocol, std::uint16_t port)
{
    return protocol * 100000 + port;
}

std::int8_t CServerRows::ImageOf(int state)
{
    switch (state) {
    case channel::EC_PORT_OPEN: return ImageOpen;
    case channel::EC_PORT_BUSY: return ImageBusy;
    case channel::EC_NEED_ADMIN:
    case channel::EC_INTERNAL_ERROR: return ImageFailed;
    default: return ImageNone;
    }
}

void CServerRows::Fill(const std::vector<std::unique_ptr<channel::SchemeGroup>>& groups)
{
    std::vector<channel::SchemeGroup> copies;
    copies.reserve(groups.size());
    for (const auto& group : groups) {
        if (group)
            copies.push_back(*group);
    }
    Fill(std::move(copies));
}

void CServerRows::Fill(std::vector<channel::SchemeGroup> groups)
{
    Clear();
    m_groups = std::move(groups);
    for (std::size_t g = 0; g < m_groups.size(); ++g) {
        const channel::SchemeGroup& group = m_groups[g];
        const std::wstring pairText =
            channel::ChannelPairText(group.senderName, group.receiverName);
        for (channel::SchemeProtocol protocol : channel::AllSchemeProtocols) {
            for (const channel::PortPair& pair : group.Pairs(protocol)) {
                Row row;
                row.protocol = static_cast<int>(protocol);
                row.port = pair.serverPort;
                row.pairText = pairText;
                row.group = static_cast<int>(g);
                m_byKey.emplace(Key(row.protocol, row.port), static_cast<int>(m_rows.size()));
                m_rows.push_back(std::move(row));
            }
        }
    }
}

void CServerRows::Clear()
{
    m_rows.clear();
    m_groups.clear();
    m_byKey.clear();
}

std::vector<int> CServerRows::Apply(const ServerRow& logicRow,
                                    std::optional<std::uint32_t> eventSequence)
{
    std::vector<int> changed;
    if (logicRow.state == 0)
        return changed; // a message for a row that has had no report yet
    const auto [first, last] = m_byKey.equal_range(Key(logicRow.protocol, logicRow.port));
    for (auto it = first; it != last; ++it) {
        Row& row = m_rows[static_cast<std::size_t>(it->second)];
        if (row.updated && row.state == channel::EC_PORT_OPEN)
            continue;
        row.updated = true;
        row.state = logicRow.state;
        row.image = ImageOf(logicRow.state);
        row.eventSequence = eventSequence;
        changed.push_back(it->second);
    }
    return changed;
}

std::vector<channel::SchemeGroup> CServerRows::GroupsOfPair(const std::wstring& pairText) const
{
    std::vector<channel::SchemeGroup> groups;
    for (const channel::SchemeGroup& group : m_groups) {
        if (channel::ChannelPairText(group.senderName, group.receiverName) == pairText)
            groups.push_back(group);
    }
    return groups;
}

events::FilterCriteria CServerRows::CriteriaOfPair(const std::wstring& pairText) const
{
    events::FilterCriteria criteria;
    criteria.portGroups = GroupsOfPair(pairText);
    return criteria;
}

std::vector<CServerRows::Line> CServerRows::Lines(bool grouped) const
{
    std::vector<int> order(m_rows.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return channel::ProtocolName(At(a).protocol) < channel::ProtocolName(At(b).protocol);
    });
    std::vector<Line> lines;
    if (!grouped) {
        for (int row : order)
            lines.push_back(Line{row, {}});
        return lines;
    }
    std::vector<std::wstring> pairTexts; // in scheme order, each once
    for (const Row& row : m_rows) {
        if (std::find(pairTexts.begin(), pairTexts.end(), row.pairText) == pairTexts.end())
            pairTexts.push_back(row.pairText);
    }
    for (const std::wstring& pairText : pairTexts) {
        lines.push_back(Line{-1, pairText});
        for (int row : order) {
            if (At(row).pairText == pairText)
                lines.push_back(Line{row, {}});
        }
    }
    return lines;
}

std::wstring CServerRows::Text(int number, int column) const
{
    const Row& row = At(number);
    switch (column) {
    case 0: return row.updated ? channel::EventCodeText(row.state) : L"...";
    case 1: return channel::ProtocolName(row.protocol);
    case 2: return std::to_wstring(row.port);
    case 3: return row.pairText;
    case 4: return std::to_wstring(Key(row.protocol, row.port));
    default: return {};
    }
}

std::wstring CServerRows::CopyText(bool grouped, bool pairColumnShown, const std::wstring& lineEnd,
                                   const std::function<bool(int group)>& groupExpanded) const
{
    std::wstring out;
    int group = -1;
    bool shown = true;
    for (const Line& line : Lines(grouped)) {
        if (line.IsGroup()) {
            ++group;
            shown = !groupExpanded || groupExpanded(group);
            out += line.groupText + lineEnd;
            continue;
        }
        if (!shown)
            continue;
        out += Text(line.row, 0) + L'\t' + Text(line.row, 1) + L'\t' + Text(line.row, 2);
        if (pairColumnShown)
            out += L'\t' + Text(line.row, 3);
        out += lineEnd;
    }
    return out;
}

int CServerRows::OpenCount() const
{
    return static_cast<int>(std::count_if(m_rows.begin(), m_rows.end(), [](const Row& row) {
        return row.updated && row.state == channel::EC_PORT_OPEN;
    }));
}

bool CServerRows::IsEventOfRow(const events::Event& event, const ServerRow& row)
{
    return event.protocol == row.protocol && event.description == row.state &&
           event.senderPort == row.port;
}

} // namespace core
