#include "engine/CProbeCounters.h"

namespace engine {

void CProbeCounters::Clear()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_counts.clear();
}

void CProbeCounters::Enter(platform::SOCKET socket, ProbeCounts counts)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_counts[Key(socket)] = counts;
}

ProbeCounts CProbeCounters::Take(platform::SOCKET socket)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_counts.find(Key(socket));
    if (it == m_counts.end())
        return {};
    ProbeCounts counts = it->second;
    m_counts.erase(it);
    return counts;
}

ProbeCounts CProbeCounters::Get(platform::SOCKET socket) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_counts.find(Key(socket));
    return it == m_counts.end() ? ProbeCounts{} : it->second;
}

ProbeCounts CProbeCounters::AddAttempt(platform::SOCKET socket)
{
    std::lock_guard<std::mutex> lock(m_lock);
    ProbeCounts& counts = m_counts[Key(socket)];
    ++counts.attempts;
    return counts;
}

ProbeCounts CProbeCounters::AddReply(platform::SOCKET socket)
{
    std::lock_guard<std::mutex> lock(m_lock);
    ProbeCounts& counts = m_counts[Key(socket)];
    ++counts.replies;
    return counts;
}

} // namespace engine
