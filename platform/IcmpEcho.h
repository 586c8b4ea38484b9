#pragma once

// The echo layer: the program's stand-in for IP Helper's ICMP echo calls
// (IcmpCreateFile, IcmpSendEcho, IcmpSendEcho2Ex, IcmpCloseHandle), with the same
// contract and IP Helper's status numbering.
//
// Contract
// - One call sends one echo request and waits, at most `Timeout` milliseconds, for
//   its answer. It returns the number of replies written to the reply buffer: 1
//   when the target or a router answered, 0 otherwise. The buffer then starts
//   with one ICMP_ECHO_REPLY record followed by the reply's data.
// - A router's answer (time exceeded, destination unreachable, fragmentation
//   needed, parameter problem) counts as a reply: the record carries the router's
//   address and the status of that answer (11013, 11002 ...).
// - When nothing answers in time the call returns 0 and leaves status 11010 in the
//   reply record. Any other failure returns 0 with its status in the record when
//   the buffer can hold one (a send the system refused: 11002 no route, 11009 too
//   big, else 11050). In every failing case the status (or, for a bad handle or
//   argument, the system error: 6 invalid handle, 87 invalid parameter, 50 not
//   supported, 11001 buffer too small) is also the calling thread's last error,
//   read with platform::WSAGetLastError() (on Windows that is GetLastError()).
// - Round-trip times are whole milliseconds, truncated: 0 means under 1 ms. The
//   same time in microseconds, which the 28-byte record has no room for, is the
//   calling thread's IcmpGetLastRoundTripMicroseconds() after the call.
//
// Sockets behind a handle
// - IcmpCreateFile opens an unprivileged ICMP datagram ("ping") socket when the
//   system allows it (net.ipv4.ping_group_range holds one of the process's
//   groups), else a raw ICMP socket (root or CAP_NET_RAW). With neither it fails
//   with INVALID_HANDLE_VALUE and last error 10013. The socket belongs to the
//   network namespace of the thread that calls IcmpCreateFile; the calls may come
//   from any thread.
// - Answers are matched to their request by identifier, sequence number and
//   address, so any number of handles and threads can ping at once without
//   taking each other's replies.
//
// Threads: every function may be called from any thread. Several threads may use
// one handle at once; closing a handle while another thread's call on it runs
// makes that call finish normally and the handle go away afterwards.

#include <cstdint>

namespace platform {

using IPAddr = std::uint32_t; // IPv4 address in network byte order, as inet_addr gives it
using HANDLE = void*;
using BOOL = int;
using UCHAR = std::uint8_t;
using USHORT = std::uint16_t;
using ULONG = std::uint32_t; // 32 bits, as IP Helper's ULONG (not the platform's long)
using WORD = std::uint16_t;
using DWORD = std::uint32_t;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Request options. Ttl 0 keeps the system's default time-to-live.
struct IP_OPTION_INFORMATION
{
    UCHAR Ttl = 0;
    UCHAR Tos = 0;
    UCHAR Flags = 0;       // IP_FLAG_DF: do not fragment
    UCHAR OptionsSize = 0; // IP options, at most 40 bytes
    const UCHAR* OptionsData = nullptr;
};
inline constexpr UCHAR IP_FLAG_DF = 0x02;

// Reply options as they are stored inside a reply record.
struct IP_OPTION_INFORMATION32
{
    UCHAR Ttl = 0; // the reply's time-to-live
    UCHAR Tos = 0;
    UCHAR Flags = 0;
    UCHAR OptionsSize = 0;
    ULONG OptionsOffset = 0;
};

// One reply record, 28 bytes: the layout of IP Helper's record as the program
// was written for it (its reply buffers are "data size + 28"). Where IP Helper
// keeps a Data pointer this record keeps the offset of the data from the
// record's first byte, so the record has the same size on every platform; use
// IcmpReplyData() where IP Helper code reads reply->Data.
struct ICMP_ECHO_REPLY
{
    IPAddr Address = 0;      // who answered: the target, or the router that reported
    ULONG Status = 0;        // IP_SUCCESS or another IP_STATUS value below
    ULONG RoundTripTime = 0; // milliseconds, truncated
    USHORT DataSize = 0;     // bytes of echoed data kept in the buffer
    USHORT Reserved = 0;
    ULONG DataOffset = 0; // where the data starts, from the record's first byte
    IP_OPTION_INFORMATION32 Options;
};
static_assert(sizeof(ICMP_ECHO_REPLY) == 28, "the program sizes reply buffers as data + 28");

// IP Helper's reply->Data.
inline const void* IcmpReplyData(const ICMP_ECHO_REPLY* reply)
{
    return reinterpret_cast<const unsigned char*>(reply) + reply->DataOffset;
}

// IP Helper's status numbering.
enum : ULONG
{
    IP_SUCCESS = 0,
    IP_STATUS_BASE = 11000,
    IP_BUF_TOO_SMALL = 11001,
    IP_DEST_NET_UNREACHABLE = 11002,
    IP_DEST_HOST_UNREACHABLE = 11003,
    IP_DEST_PROT_UNREACHABLE = 11004,
    IP_DEST_PORT_UNREACHABLE = 11005,
    IP_NO_RESOURCES = 11006,
    IP_BAD_OPTION = 11007,
    IP_HW_ERROR = 11008,
    IP_PACKET_TOO_BIG = 11009,
    IP_REQ_TIMED_OUT = 11010,
    IP_BAD_REQ = 11011,
    IP_BAD_ROUTE = 11012,
    IP_TTL_EXPIRED_TRANSIT = 11013,
    IP_TTL_EXPIRED_REASSEM = 11014,
    IP_PARAM_PROBLEM = 11015,
    IP_SOURCE_QUENCH = 11016,
    IP_OPTION_TOO_BIG = 11017,
    IP_BAD_DESTINATION = 11018,
    IP_GENERAL_FAILURE = 11050,
};

// System errors the calls leave as the last error besides IP statuses.
enum : ULONG
{
    ERROR_INVALID_HANDLE = 6,
    ERROR_NOT_SUPPORTED = 50,
    ERROR_INVALID_PARAMETER = 87,
};

// The asynchronous forms of IcmpSendEcho2Ex are not offered: a call with an
// event or an APC routine fails with ERROR_NOT_SUPPORTED.
using PIO_APC_ROUTINE = void (*)(void* apcContext, void* ioStatusBlock, ULONG reserved);

HANDLE IcmpCreateFile();
// TRUE when the handle was open; FALSE (last error 6) for an unknown handle.
BOOL IcmpCloseHandle(HANDLE icmpHandle);

// Sends RequestSize bytes of RequestData as one echo request to the destination
// and waits for the answer. ReplySize must hold at least one ICMP_ECHO_REPLY;
// echoed data beyond what fits after the record is cut (DataSize tells what was
// kept). RequestOptions may be null (system defaults).
DWORD IcmpSendEcho(HANDLE icmpHandle, IPAddr destinationAddress, const void* requestData,
                   WORD requestSize, const IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                   DWORD replySize, DWORD timeout);

// The same with a source address (0 = the system chooses). A source that is not
// an address of this host has no route: the call fails with 11002. event and
// apcRoutine must be null.
DWORD IcmpSendEcho2Ex(HANDLE icmpHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine, void* apcContext,
                      IPAddr sourceAddress, IPAddr destinationAddress, const void* requestData,
                      WORD requestSize, const IP_OPTION_INFORMATION* requestOptions,
                      void* replyBuffer, DWORD replySize, DWORD timeout);

// The round-trip time of the calling thread's last IcmpSendEcho or
// IcmpSendEcho2Ex, in microseconds: from the kernel's receive time stamp (the
// monotonic clock's measurement when there is none or the wall clock jumped)
// to the wall-clock time taken just before the send. The record's
// RoundTripTime is this value divided by 1000. 0 after a call that returned 0.
// Like the last error it belongs to the thread, so any number of threads may
// ping at once.
std::uint32_t IcmpGetLastRoundTripMicroseconds();

// Which kind of socket a handle uses (for diagnostics and tests).
enum class EchoSocketKind
{
    None, // not a handle of this layer
    Ping, // unprivileged ICMP datagram socket
    Raw,  // raw ICMP socket
};
EchoSocketKind IcmpGetSocketKind(HANDLE icmpHandle);

} // namespace platform
