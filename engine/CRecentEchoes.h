#pragma once

// A UDP server's memory of the echoes it sent in the last EchoWindowNs: from
// which of its listening ports, to which remote endpoint (address, port) each
// went, and when the datagram it answered had arrived. CUdpServer.h says what
// it is for. The listening port is part of the key because one client port may
// serve several channels, each probed once a second on its own server port.
// The memory is a fixed table (Capacity entries): once it is full, the entry
// answered longest ago makes room, so whatever peers send, it never grows.
//
// Times are the system's receive stamps (platform::LastArrivalNs), so a server
// that reads late (its GUI thread busy) still compares when datagrams came,
// not when it got to them.
//
// Threads: the GUI thread (the server's).

#include <array>
#include <cstddef>
#include <cstdint>

namespace engine {

class CRecentEchoes final
{
public:
    // Shorter than the shortest time between two probes of one channel (1 s,
    // the delay between probes is clamped), by enough for a late send task;
    // longer than an echo's round trip between two nodes of any network the
    // check calls working.
    static constexpr std::int64_t EchoWindowNs = 900'000'000;
    static constexpr std::size_t Capacity = 128;

    // An echo left listenPort for (address, port), answering a datagram that
    // arrived at arrivalNs.
    void Remember(std::uint32_t address, std::uint16_t port, std::uint16_t listenPort,
                  std::int64_t arrivalNs);
    // Whether a datagram from (address, port) to listenPort that arrived at
    // arrivalNs came within EchoWindowNs after the arrival of one whose echo
    // left listenPort for there.
    bool EchoedLately(std::uint32_t address, std::uint16_t port, std::uint16_t listenPort,
                      std::int64_t arrivalNs) const;
    void Clear();

private:
    struct Entry
    {
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        std::uint16_t listenPort = 0;
        bool used = false;
        std::int64_t arrivalNs = 0;
    };
    std::array<Entry, Capacity> m_entries{};
};

} // namespace engine
