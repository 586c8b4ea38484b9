#include "events/CEventArena.h"

#include "ferrox/exceptions/EGeneric.h"

#include <bit>
#include <climits>
#include <cstdlib>
#include <new>
#include <string>

namespace events {

CEventArena::CEventArena()
{
    // The first segment is the "room for 1000 events" every store starts with.
    m_segments[0].store(static_cast<Event*>(std::malloc(sizeof(Event) << kFirstSegmentBits)));
    if (m_segments[0].load() == nullptr)
        throw EGeneric(value_pair("Text", "Не хватает памяти для списка событий"));
}

CEventArena::~CEventArena()
{
    // Events are trivially destructible: the segments are only freed.
    for (auto& segment : m_segments)
        std::free(segment.load());
}

int CEventArena::SegmentOf(std::uint32_t index, std::uint32_t& offset)
{
    const std::uint32_t q = (index >> kFirstSegmentBits) + 1;
    const int segment = static_cast<int>(std::bit_width(q)) - 1;
    offset = index - (((1u << segment) - 1u) << kFirstSegmentBits);
    return segment;
}

int CEventArena::Append(const Event& event)
{
    const int index = m_size.load(std::memory_order_relaxed);
    if (index == INT_MAX)
        throw EGeneric(value_pair("Text", "Список событий переполнен"));
    std::uint32_t offset = 0;
    const int segment = SegmentOf(static_cast<std::uint32_t>(index), offset);
    Event* base = m_segments[segment].load(std::memory_order_relaxed);
    if (base == nullptr) {
        base = static_cast<Event*>(std::malloc(sizeof(Event) << (kFirstSegmentBits + segment)));
        if (base == nullptr)
            throw EGeneric(value_pair("Text", "Не хватает памяти для списка событий"));
        m_segments[segment].store(base, std::memory_order_release);
    }
    new (base + offset) Event(event);
    m_size.store(index + 1, std::memory_order_release);
    return index;
}

const Event& CEventArena::At(int index) const
{
    std::uint32_t offset = 0;
    const int segment = SegmentOf(static_cast<std::uint32_t>(index), offset);
    return m_segments[segment].load(std::memory_order_acquire)[offset];
}

std::size_t CEventArena::CapacityBytes() const
{
    std::size_t bytes = 0;
    for (int s = 0; s < kSegments; ++s) {
        if (m_segments[s].load(std::memory_order_relaxed) != nullptr)
            bytes += sizeof(Event) << (kFirstSegmentBits + s);
    }
    return bytes;
}

} // namespace events
