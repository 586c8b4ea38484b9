#include "platform/IcmpErrorQueue.h"
#include "platform/ControlRecords.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/ip_icmp.h>
#include <sys/uio.h>

namespace platform {

namespace {

constexpr std::uint8_t kIcmpDestinationUnreachable = ICMP_DEST_UNREACH; // 3
constexpr std::uint8_t kIcmpProtocolUnreachable = ICMP_PROT_UNREACH;    // 3/2
constexpr std::uint8_t kIcmpPortUnreachable = ICMP_PORT_UNREACH;        // 3/3
constexpr std::uint8_t kIcmpTimeExceeded = ICMP_TIME_EXCEEDED;          // 11

// Queue entries are read one at a time; the original datagram that comes with
// an entry is of no interest, only its control data.
constexpr std::size_t kControlSize = 512;

// At most this many entries are taken per receive call while looking for one to
// report, so a flood of unreportable answers cannot hold a receive forever.
constexpr int kMaxEntriesPerTake = 64;

} // namespace

int WsaErrorFromIcmp(std::uint8_t origin, std::uint8_t type, std::uint8_t code)
{
    if (origin != SO_EE_ORIGIN_ICMP)
        return 0;
    if (type == kIcmpDestinationUnreachable) {
        if (code == kIcmpPortUnreachable || code == kIcmpProtocolUnreachable)
            return WSAECONNRESET;
        return WSAEHOSTUNREACH;
    }
    if (type == kIcmpTimeExceeded)
        return WSAENETRESET;
    return 0;
}

int WsaErrorFromErrorQueueControl(std::span<const std::byte> control)
{
    int wsaError = 0;
    ForEachControlRecord(
        control.data(), control.size(),
        [&](int level, int type, const unsigned char* data, std::size_t length) {
            if (level != SOL_IP || type != IP_RECVERR || length < sizeof(sock_extended_err))
                return false;
            sock_extended_err error;
            std::memcpy(&error, data, sizeof error);
            wsaError = WsaErrorFromIcmp(error.ee_origin, error.ee_type, error.ee_code);
            return true;
        });
    return wsaError;
}

QueuedErrorTake TakeQueuedIcmpError(SOCKET s)
{
    QueuedErrorTake take;
    while (take.consumed < kMaxEntriesPerTake) {
        alignas(cmsghdr) std::byte control[kControlSize];
        char data[64];
        iovec vector{data, sizeof data};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t result = ::recvmsg(s, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            break; // EAGAIN: the queue is empty
        }
        ++take.consumed;
        take.wsaError = WsaErrorFromErrorQueueControl(std::span<const std::byte>(
            control, std::min<std::size_t>(message.msg_controllen, sizeof control)));
        if (take.wsaError != 0)
            break;
    }
    return take;
}

} // namespace platform
