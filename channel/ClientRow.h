#pragma once

#include "channel/PeerAddress.h"

#include <cstdint>

namespace channel {

// The progress record of one client step, handed by value to IApp::AddClientRow.
struct ClientRow
{
    std::uint32_t port = 0;     // the peer's port probed (for IP: the protocol number)
    std::uint32_t protocol = 0; // 1 TCP, 2 UDP, 3 IP
    PeerAddress peer;           // address (network order) and dotted text
    std::uint32_t sequence = 0; // filled in by AddClientRow
    std::uint32_t code = 0;     // event code
    // TCP and IP: both equal the port above; UDP: client port, server port.
    std::uint16_t port1 = 0;
    std::uint16_t port2 = 0;
    std::int32_t attempts = 0;
    std::int32_t replies = 0;
    // Yes when the attempts count equals MaxSendCount on a row that ends a probe
    // cycle, or when nothing more will happen on the port (its socket could not
    // be made).
    bool finished = false;
    std::int32_t eventIndex = -1; // what AddEvent returned for this row's event
};

} // namespace channel
