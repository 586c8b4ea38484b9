#pragma once

// Where the application logic gets its protocol objects: one server per
// protocol and server address, one client per protocol and peer. The program
// uses the engine's own six classes; a test hands in objects of its own to
// drive the logic's paths (a dispatch that throws, say).
//
// Threads: MakeServer on the GUI thread (the logic's construction), MakeClient
// on the thread that starts a peer's clients (the client-check task).

#include "channel/PeerAddress.h"
#include "channel/ProbeOptions.h"
#include "engine/CSocketList.h"
#include "engine/IApp.h"

#include <memory>

namespace core {

class IEngineFactory
{
public:
    // protocol: 1 TCP, 2 UDP, 3 IP.
    virtual std::unique_ptr<engine::CSocketList>
    MakeServer(int protocol, engine::IApp* sink, const channel::PeerAddress& address) = 0;
    virtual std::shared_ptr<engine::CSocketList> MakeClient(int protocol, engine::IApp* sink,
                                                            const channel::PeerAddress& peer,
                                                            const channel::ProbeOptions& options) = 0;
    virtual ~IEngineFactory() = default;

    // The engine's TCP, UDP and IP servers and clients.
    static IEngineFactory& Engine();
};

} // namespace core
