#pragma once

// The attempts and replies of a client's sockets. Counters are keyed by the
// socket's low 16 bits (a key unique per open socket). GUI and pool threads read
// and count at once, so every access takes the lock.

#include "platform/Sockets.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace engine {

struct ProbeCounts
{
    int attempts = 0;
    int replies = 0;
};

class CProbeCounters
{
public:
    void Clear();
    void Enter(platform::SOCKET socket, ProbeCounts counts);
    // Reads the socket's counts and removes them (a socket being replaced).
    ProbeCounts Take(platform::SOCKET socket);
    ProbeCounts Get(platform::SOCKET socket) const;
    int Attempts(platform::SOCKET socket) const { return Get(socket).attempts; }
    // Both return the counts after the change.
    ProbeCounts AddAttempt(platform::SOCKET socket);
    ProbeCounts AddReply(platform::SOCKET socket);

private:
    static std::uint16_t Key(platform::SOCKET socket) { return static_cast<std::uint16_t>(socket); }

    mutable std::mutex m_lock;
    std::map<std::uint16_t, ProbeCounts> m_counts;
};

} // namespace engine
