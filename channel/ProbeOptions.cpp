#include "channel/ProbeOptions.h"

#include <algorithm>

namespace channel {

ProbeOptions ProbeOptions::Clamped() const
{
    ProbeOptions clamped;
    clamped.timeOut = std::clamp(timeOut, MinTimeOut, MaxTimeOut);
    clamped.timeSendDelay = std::clamp(timeSendDelay, MinTimeSendDelay, MaxTimeSendDelay);
    clamped.sendDataSize = std::clamp(sendDataSize, MinSendDataSize, MaxSendDataSize);
    clamped.maxSendCount = std::clamp(maxSendCount, MinMaxSendCount, MaxMaxSendCount);
    return clamped;
}

std::string ProbeOptions::ClampedChanges() const
{
    const ProbeOptions clamped = Clamped();
    std::string changes;
    auto note = [&changes](const char* name, int from, int to) {
        if (from == to)
            return;
        if (!changes.empty())
            changes += ", ";
        changes += std::string(name) + " " + std::to_string(from) + " -> " + std::to_string(to);
    };
    note("TimeOut", timeOut, clamped.timeOut);
    note("TimeSendDelay", timeSendDelay, clamped.timeSendDelay);
    note("MaxSendCount", maxSendCount, clamped.maxSendCount);
    note("SendDataSize", sendDataSize, clamped.sendDataSize);
    return changes;
}

} // namespace channel
