#pragma once

// The sort state of the events pane: an ordered list of keys (column, ascending)
// that always ends with the sequence number, ascending, so that no two events
// ever compare equal and an unstable sort still gives one order.
//
// Order of each key:
// - status: its number (0 information, 2 error, 3 warning);
// - time: the FILETIME value;
// - description: the position of the code's text among the code texts sorted
//   by UTF-16 code units, a prefix first ("" of code 0 first; codes 6 and 13
//   share a text and so a position); a code outside 0..14 sorts as its "???";
// - protocol: IP, TCP, UDP, then anything else;
// - sender, receiver: the stored network-order address taken as an unsigned
//   number (so 2.0.0.1 comes before 1.0.0.2);
// - ports: unsigned 16-bit; detail: its code, unsigned; sequence: its value.
//
// Threads: one thread (the GUI thread) uses a sort state; Sort only reads the
// events it is handed.

#include "events/Event.h"
#include "events/EventText.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace events {

struct SortKey
{
    int column = COL_SEQUENCE; // EventColumn
    bool ascending = true;

    bool operator==(const SortKey&) const = default;
};

class CEventSort final
{
public:
    CEventSort();

    // A header click: without multiple the keys are emptied first; a column
    // already among the keys only changes its direction; a new one is appended
    // before the closing sequence key. Columns outside 0..8 are ignored.
    void SetKey(int column, bool ascending, bool multiple);
    // Removes the column's key; false when it is not among the keys (the
    // closing sequence key is never removed).
    bool RemoveColumn(int column);
    // Back to the closing key alone.
    void Reset();

    const std::vector<SortKey>& Keys() const { return m_keys; }
    int KeyCount() const { return static_cast<int>(m_keys.size()); }
    // More than the closing key: the display order is sorted.
    bool IsSorting() const { return m_keys.size() > 1; }

    // Whether header clicks sort (the pane switches this off while it scrolls
    // along with new events).
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled) { m_enabled = enabled; }

    // <0, 0 or >0, key by key until one differs.
    int Compare(const Event& a, const Event& b) const;
    bool Less(const Event& a, const Event& b) const { return Compare(a, b) < 0; }

    // Sorts entries (indexes of any kind) by the events eventOf gives for them.
    // The ranks are taken once per entry, so each comparison is a few integer
    // compares however many keys there are.
    void Sort(std::vector<std::int32_t>& entries,
              const std::function<const Event&(std::int32_t)>& eventOf) const;

    // The ascending rank of an event in one column: a smaller rank sorts first.
    static std::uint64_t Rank(const Event& event, int column);
    static int DescriptionRank(int code);
    static int ProtocolRank(int protocol);

private:
    std::vector<SortKey> m_keys;
    bool m_enabled = true;
};

} // namespace events
