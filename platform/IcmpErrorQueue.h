#pragma once

// ICMP answers to datagrams, reported the way Winsock reports them.
//
// Windows reports a port or protocol unreachable answer as 10054 on the next
// receive of an unconnected datagram or raw socket, and a time-to-live expiry as
// 10052. Linux reports them only through the socket's error queue, which IP_RECVERR
// (set on every datagram and raw socket of this layer) switches on. The meaning is
// taken from the ICMP type and code of the queued sock_extended_err, never from
// its ee_errno (EHOSTUNREACH stands for several different answers).
//
// Threads: any. The parsing functions are pure.

#include "platform/Sockets.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

// The Winsock code for one ICMP answer, or 0 when a receive should not report it:
// destination unreachable, port (3/3) or protocol (3/2) -> 10054; any other
// destination unreachable -> 10065; time exceeded (11) -> 10052. origin is
// sock_extended_err::ee_origin; only SO_EE_ORIGIN_ICMP answers are reported.
int WsaErrorFromIcmp(std::uint8_t origin, std::uint8_t type, std::uint8_t code);

// The Winsock code carried by the control data (msg_control, msg_controllen) of
// one recvmsg(MSG_ERRQUEUE) on an IPv4 socket, or 0 when it holds no reportable
// IP_RECVERR entry. Safe for any bytes: truncated or malformed control data gives 0.
int WsaErrorFromErrorQueueControl(std::span<const std::byte> control);

// The outcome of taking entries from a socket's error queue.
struct QueuedErrorTake
{
    int wsaError = 0; // the code to report, 0 when none
    int consumed = 0; // entries taken (reported or not)
};

// Takes entries from the socket's error queue, without waiting, until one gives
// a code to report or the queue is empty. Taking an entry also resets the
// socket's pending error (SO_ERROR) to that of the next queued answer, so an
// answer reported here is never reported a second time by a plain receive.
QueuedErrorTake TakeQueuedIcmpError(SOCKET s);

} // namespace platform
