#pragma once

// Small pieces the three clients share.

#include "channel/PeerAddress.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/Exceptions.h"

#include <netinet/in.h>

namespace engine {

// A task's EGeneric goes to the debug stream; an interrupt (the client is being
// destroyed) is passed on untouched. Call only from inside a catch handler.
inline void LogClientTaskError(const EGeneric& e)
{
    if (dynamic_cast<const EThreadInterrupt*>(&e))
        throw;
    if (Debug.GetEnabled())
        TDebugStreamSession(Debug) << e.what() << "\n";
}

inline sockaddr_in PeerEndpoint(const channel::PeerAddress& peer, std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = peer.address;
    return address;
}

} // namespace engine
