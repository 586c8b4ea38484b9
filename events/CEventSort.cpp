#include "events/CEventSort.h"

#include "channel/EventCodes.h"

#include <algorithm>
#include <array>
#include <string>

namespace events {

namespace {

std::u16string Utf16(const std::wstring& text)
{
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
    }
    return out;
}

// Position of each code's text (index 15: the "???" of unknown codes) among the
// texts sorted by UTF-16 code units; std::u16string's order is exactly that,
// with a prefix before the longer text.
const std::array<int, channel::EVENT_CODE_COUNT + 1>& DescriptionRanks()
{
    static const std::array<int, channel::EVENT_CODE_COUNT + 1> ranks = [] {
        std::vector<std::u16string> texts;
        for (int code = 0; code <= channel::EVENT_CODE_COUNT; ++code)
            texts.push_back(Utf16(channel::EventCodeText(code)));
        std::vector<std::u16string> sorted = texts;
        std::sort(sorted.begin(), sorted.end());
        std::array<int, channel::EVENT_CODE_COUNT + 1> r{};
        for (std::size_t i = 0; i < texts.size(); ++i)
            r[i] = static_cast<int>(std::lower_bound(sorted.begin(), sorted.end(), texts[i]) -
                                    sorted.begin());
        return r;
    }();
    return ranks;
}

template <std::size_t K>
struct SortRecord
{
    std::array<std::uint64_t, K> ranks;
    std::int32_t entry;
};

template <std::size_t K>
void SortFixed(std::vector<std::int32_t>& entries, const std::vector<SortKey>& keys,
               const std::function<const Event&(std::int32_t)>& eventOf)
{
    std::vector<SortRecord<K>> records(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Event& event = eventOf(entries[i]);
        SortRecord<K>& record = records[i];
        record.entry = entries[i];
        for (std::size_t k = 0; k < K; ++k) {
            const std::uint64_t rank = CEventSort::Rank(event, keys[k].column);
            record.ranks[k] = keys[k].ascending ? rank : ~rank;
        }
    }
    std::sort(records.begin(), records.end(),
              [](const SortRecord<K>& a, const SortRecord<K>& b) { return a.ranks < b.ranks; });
    for (std::size_t i = 0; i < records.size(); ++i)
        entries[i] = records[i].entry;
}

template <std::size_t... K>
void SortDispatch(std::size_t keyCount, std::vector<std::int32_t>& entries,
                  const std::vector<SortKey>& keys,
                  const std::function<const Event&(std::int32_t)>& eventOf,
                  std::index_sequence<K...>)
{
    // Keys are distinct columns plus the sequence: at most ten.
    ((keyCount == K + 1 ? (SortFixed<K + 1>(entries, keys, eventOf), true) : false) || ...);
}

} // namespace

CEventSort::CEventSort()
{
    Reset();
}

void CEventSort::Reset()
{
    m_keys.assign(1, SortKey{COL_SEQUENCE, true});
}

void CEventSort::SetKey(int column, bool ascending, bool multiple)
{
    if (column < 0 || column >= EVENT_COLUMN_COUNT)
        return;
    if (!multiple)
        Reset();
    auto found = std::find_if(m_keys.begin(), m_keys.end(),
                              [column](const SortKey& k) { return k.column == column; });
    if (found != m_keys.end()) {
        found->ascending = ascending;
        return;
    }
    m_keys.insert(m_keys.end() - 1, SortKey{column, ascending});
}

bool CEventSort::RemoveColumn(int column)
{
    if (column == COL_SEQUENCE)
        return false;
    auto found = std::find_if(m_keys.begin(), m_keys.end(),
                              [column](const SortKey& k) { return k.column == column; });
    if (found == m_keys.end())
        return false;
    m_keys.erase(found);
    return true;
}

int CEventSort::DescriptionRank(int code)
{
    const auto& ranks = DescriptionRanks();
    if (code < 0 || code >= channel::EVENT_CODE_COUNT)
        return ranks[channel::EVENT_CODE_COUNT];
    return ranks[static_cast<std::size_t>(code)];
}

int CEventSort::ProtocolRank(int protocol)
{
    switch (protocol) {
    case 3: return 0; // IP
    case 1: return 1; // TCP
    case 2: return 2; // UDP
    default: return 3;
    }
}

std::uint64_t CEventSort::Rank(const Event& event, int column)
{
    switch (column) {
    case COL_STATUS:
        // Signed: shifted so that the unsigned rank keeps the order.
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(event.status) + 0x80000000LL);
    case COL_TIME: return event.time;
    case COL_DESCRIPTION: return static_cast<std::uint64_t>(DescriptionRank(event.description));
    case COL_PROTOCOL: return static_cast<std::uint64_t>(ProtocolRank(event.protocol));
    case COL_SENDER: return event.senderAddress;
    case COL_RECEIVER: return event.receiverAddress;
    case COL_SENDER_PORT: return event.senderPort;
    case COL_RECEIVER_PORT: return event.receiverPort;
    case COL_DETAIL: return event.detail;
    default: return event.sequence;
    }
}

int CEventSort::Compare(const Event& a, const Event& b) const
{
    for (const SortKey& key : m_keys) {
        const std::uint64_t ra = Rank(a, key.column);
        const std::uint64_t rb = Rank(b, key.column);
        if (ra != rb)
            return (ra < rb) == key.ascending ? -1 : 1;
    }
    return 0;
}

void CEventSort::Sort(std::vector<std::int32_t>& entries,
                      const std::function<const Event&(std::int32_t)>& eventOf) const
{
    if (entries.size() < 2 || m_keys.empty())
        return;
    SortDispatch(m_keys.size(), entries, m_keys, eventOf,
                 std::make_index_sequence<EVENT_COLUMN_COUNT + 1>{});
}

} // namespace events
