#pragma once

// What a client's start opens its sockets under, a slice of ports at a time
// (CSocketList::StartPorts). The dispatch lends its client lock this way: a
// notification for a port that is already open waits for one slice at most,
// never for the whole start of thousands of ports.

namespace engine {

class IStartGate
{
public:
    // Taken before the socket array is made and before each slice of opens;
    // Leave after each.
    virtual void Enter() = 0;
    virtual void Leave() = 0;

protected:
    ~IStartGate() = default;
};

} // namespace engine
