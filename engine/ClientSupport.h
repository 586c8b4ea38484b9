#pragma once

// Small pieces the three clients share.

#include "channel/PeerAddress.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/Exceptions.h"
#include "platform/Sockets.h"

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

// Both time-outs of a client socket at TimeOut milliseconds (at least 1: 0
// would mean no limit), so that one send or receive waits at most that long.
inline void SetSocketTimeOuts(platform::SOCKET socket, int timeOutMs)
{
    const auto ms = static_cast<platform::DWORD>(timeOutMs > 0 ? timeOutMs : 1);
    platform::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
                         sizeof(ms));
    platform::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
                         sizeof(ms));
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
