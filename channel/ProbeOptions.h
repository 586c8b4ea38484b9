#pragma once

namespace channel {

// The four options a client copies when it is created.
struct ProbeOptions
{
    int timeOut = 200;     // ms: the wait for a connection or a reply
    int timeSendDelay = 1; // s: the interval between attempts
    int sendDataSize = 10; // bytes of a probe
    int maxSendCount = 5;  // attempts per port
};

} // namespace channel
