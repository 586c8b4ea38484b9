#pragma once

#include <string>

namespace channel {

// The four options a client copies when it is created.
struct ProbeOptions
{
    int timeOut = 200;     // ms: the wait for a connection or a reply
    int timeSendDelay = 1; // s: the interval between attempts
    int sendDataSize = 10; // bytes of a probe
    int maxSendCount = 5;  // attempts per port

    // The options dialog's ranges. The options file may hold anything (it is
    // edited by hand, and other nodes' files are shared as they are); the
    // clients only ever get values within these.
    static constexpr int MinTimeOut = 10, MaxTimeOut = 30000;
    static constexpr int MinTimeSendDelay = 1, MaxTimeSendDelay = 600;
    static constexpr int MinSendDataSize = 10, MaxSendDataSize = 1024;
    static constexpr int MinMaxSendCount = 1, MaxMaxSendCount = 10000;

    // A copy with every value moved to the nearest end of its range.
    ProbeOptions Clamped() const;
    // What Clamped changed, as "TimeSendDelay -1 -> 1, TimeOut 0 -> 10" (in the
    // options file's order); empty when every value is in range.
    std::string ClampedChanges() const;

    bool operator==(const ProbeOptions&) const = default;
};

} // namespace channel
