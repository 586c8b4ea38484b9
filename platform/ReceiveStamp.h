#pragma once

// When the system received the last datagram read from a socket, on the wall
// clock in nanoseconds (SIOCGSTAMPNS). A reader that gets to a datagram late
// still learns when it came. The system stamps a socket's datagrams only once
// it has been asked for a stamp: StampArrivals asks right after the socket is
// made, so that no datagram read later comes without one (the system would
// give such a datagram the time it was read, later than the stamps of the
// datagrams queued behind it). A socket the system cannot stamp gets the
// present time.
//
// Threads: any; the socket's reader calls LastArrivalNs right after its
// receive.

#include "ferrox/values/TimeUnits.h"
#include "platform/Sockets.h"

#include <cstdint>
#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace platform {

inline void StampArrivals(SOCKET s)
{
    timespec stamp{};
    ::ioctl(s, SIOCGSTAMPNS, &stamp);
}

inline std::int64_t LastArrivalNs(SOCKET s)
{
    timespec stamp{};
    if (::ioctl(s, SIOCGSTAMPNS, &stamp) == 0)
        return ns_of_timespec(stamp);
    return clock_ns(CLOCK_REALTIME);
}

} // namespace platform
