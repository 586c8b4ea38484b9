#pragma once

// Append-only storage of events whose records never move: segment s holds
// 1024 << s records, so a million events take ten segments, nothing is copied
// when the store grows, and pages of a segment are only touched as records
// are written into it.
//
// Threads: one writer at a time (the store appends under its event lock);
// any number of readers at once without a lock. A record below Size() is
// complete and stays unchanged until the arena is destroyed.

#include "events/Event.h"

#include <atomic>
#include <cstdint>

namespace events {

class CEventArena final
{
public:
    CEventArena();
    ~CEventArena();
    CEventArena(const CEventArena&) = delete;
    CEventArena& operator=(const CEventArena&) = delete;

    // Appends a copy and publishes it; returns its index. Throws EGeneric when
    // memory runs out or the index would leave the 31-bit range.
    int Append(const Event& event);
    // Records published so far.
    int Size() const { return m_size.load(std::memory_order_acquire); }
    // index < Size().
    const Event& At(int index) const;
    // Bytes taken by the segments (allocated, not necessarily touched).
    std::size_t CapacityBytes() const;

private:
    static constexpr int kFirstSegmentBits = 10; // 1024 records
    static constexpr int kSegments = 22;         // enough for 2^31 records

    static int SegmentOf(std::uint32_t index, std::uint32_t& offset);

    std::atomic<Event*> m_segments[kSegments] = {};
    std::atomic<int> m_size{0};
};

} // namespace events
