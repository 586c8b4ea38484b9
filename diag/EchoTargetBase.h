#pragma once

// What every target of the echo and route engines has: its address, its echo
// handle and the worker's own request and reply buffers.

#include "platform/IcmpEcho.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace diag {

// The size of one echo reply header: a reply buffer holds it and the data.
inline constexpr std::size_t EchoReplyHeaderSize = 28;

struct EchoTargetBase
{
    std::uint32_t Address = 0; // network order
    platform::HANDLE Handle = platform::INVALID_HANDLE_VALUE; // owned for the engine's life
    // The worker's own buffers: request data (size bytes) and reply (size + 28).
    std::vector<std::uint8_t> Request;
    std::vector<std::uint8_t> Reply;
    // Guards what the panes read of the target (results, hops, counters, state).
    mutable std::mutex Lock;

    // Rebuilds both buffers (zero-filled) when their sizes no longer match.
    void FitBuffers(std::uint16_t size)
    {
        if (Request.size() != size ||
            Reply.size() != static_cast<std::size_t>(size) + EchoReplyHeaderSize) {
            Request.assign(size, 0);
            Reply.assign(static_cast<std::size_t>(size) + EchoReplyHeaderSize, 0);
        }
    }
};

} // namespace diag
