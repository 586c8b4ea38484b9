#include "engine/CRecentEchoes.h"

namespace engine {

void CRecentEchoes::Remember(std::uint32_t address, std::uint16_t port, std::uint16_t listenPort,
                             std::int64_t arrivalNs)
{
    Entry* slot = &m_entries.front();
    for (Entry& entry : m_entries) {
        if (entry.used && entry.address == address && entry.port == port &&
            entry.listenPort == listenPort) {
            slot = &entry;
            break;
        }
        // Otherwise a free entry, else the one answered longest ago.
        if (slot->used && (!entry.used || entry.arrivalNs < slot->arrivalNs))
            slot = &entry;
    }
    *slot = Entry{address, port, listenPort, true, arrivalNs};
}

bool CRecentEchoes::EchoedLately(std::uint32_t address, std::uint16_t port,
                                 std::uint16_t listenPort, std::int64_t arrivalNs) const
{
    for (const Entry& entry : m_entries) {
        if (entry.used && entry.address == address && entry.port == port &&
            entry.listenPort == listenPort) {
            // A wall clock set back makes the difference negative: not lately,
            // so a loop runs one round more, and no probe goes unanswered.
            const std::int64_t since = arrivalNs - entry.arrivalNs;
            return since >= 0 && since < EchoWindowNs;
        }
    }
    return false;
}

void CRecentEchoes::Clear()
{
    m_entries.fill(Entry{});
}

} // namespace engine
