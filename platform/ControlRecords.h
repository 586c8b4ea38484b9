#pragma once

// The walk over the control data recvmsg returns (a sequence of cmsghdr
// records, each aligned to sizeof(size_t)), done by hand with every length
// checked against the buffer, so that no byte pattern can make a reader look
// outside it. A record whose length is impossible ends the walk.
//
// Threads: any.

#include <cstddef>
#include <cstring>
#include <sys/socket.h>

namespace platform {

// Calls visit(level, type, data, length) for each record in turn until it
// returns true (found what it looked for) or the records end.
template <typename Visit>
void ForEachControlRecord(const void* control, std::size_t size, Visit&& visit)
{
    const auto* bytes = static_cast<const unsigned char*>(control);
    std::size_t offset = 0;
    while (offset + sizeof(cmsghdr) <= size) {
        cmsghdr header;
        std::memcpy(&header, bytes + offset, sizeof header);
        const std::size_t length = header.cmsg_len;
        if (length < CMSG_LEN(0) || length > size - offset)
            return;
        if (visit(header.cmsg_level, header.cmsg_type, bytes + offset + CMSG_LEN(0),
                  length - CMSG_LEN(0)))
            return;
        const std::size_t step = CMSG_ALIGN(length);
        if (step == 0 || step > size - offset)
            return;
        offset += step;
    }
}

} // namespace platform
