#pragma once

// What stands behind one echo handle: an ICMP socket and the bookkeeping that
// lets several calls share it. Internal to the echo layer (platform/IcmpEcho.h).
//
// Sharing a socket: every call registers its request (destination, identifier,
// sequence) before it sends. Whichever call currently holds the reader role reads
// from the socket and hands each answer to the call it belongs to; the others
// wait on a condition variable and take the role over when the reader's own
// answer has come or its time is up. So calls on one handle neither block each
// other beyond their own time-outs nor take each other's replies.
//
// Raw sockets see every ICMP packet of the host. Two kernel filters keep the
// stream small: ICMP_FILTER lets only echo replies and the error types through,
// and a socket filter drops echo replies that carry another identifier (as
// iputils' ping does), so other handles' and other programs' traffic does not
// fill this socket's buffer. What still arrives is matched exactly by the
// parser (platform/IcmpPacket.h). Stale packets are drained before each send.
// IP_RECVERR is left off on raw sockets: the router's answer arrives as a packet
// anyway, and with it every error would arrive a second time.
//
// Ping sockets: the kernel owns the identifier (the socket's local port) and
// delivers only this socket's replies; router answers come through the error
// queue (IP_RECVERR), with the router as SO_EE_OFFENDER.
//
// Threads: any; see above. The socket is closed when the last reference goes.

#include "platform/IcmpEcho.h"
#include "platform/IcmpPacket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace platform::detail {

class CIcmpEndpoint final
{
public:
    // A ping socket when the system allows one, else a raw socket: our own, or
    // one from the installed helper (platform/CRawSocketHelper.h). Null, with the
    // Winsock error in *wsaError (10013 without the rights), when none opens.
    static std::shared_ptr<CIcmpEndpoint> Open(int* wsaError);

    ~CIcmpEndpoint();
    CIcmpEndpoint(const CIcmpEndpoint&) = delete;
    CIcmpEndpoint& operator=(const CIcmpEndpoint&) = delete;

    EchoSocketKind Kind() const { return m_kind; }

    // One echo request and its answer, IcmpSendEcho2Ex's contract (arguments
    // already checked by the caller: a buffer that holds a record, data present).
    // *roundTripUs gets the answer's round-trip time in microseconds (0 when
    // nothing answered).
    DWORD Echo(IPAddr source, IPAddr destination, std::span<const std::uint8_t> data,
               const IP_OPTION_INFORMATION* options, void* replyBuffer, DWORD replySize,
               DWORD timeout, std::uint32_t* roundTripUs);

private:
    using Clock = std::chrono::steady_clock;

    struct Pending
    {
        EchoRequestKey key;
        void* replyBuffer = nullptr;
        DWORD replySize = 0;
        bool done = false;
        // When the answer came: the kernel's wall-clock stamp, if any, and the
        // monotonic time at which it was read.
        bool hasStamp = false;
        std::int64_t stampNs = 0;
        Clock::time_point readAt;
    };

    CIcmpEndpoint(int descriptor, EchoSocketKind kind, std::uint16_t identifier);

    // Sends the request; 0 or the errno of the failed send.
    int Send(IPAddr source, IPAddr destination, std::span<const std::uint8_t> packet,
             const IP_OPTION_INFORMATION* options);
    // Takes the reader role when it is free and reads what is waiting, without
    // blocking (stale answers to earlier requests are dropped on the way).
    void DrainIfIdle();
    // Waits (as reader or follower) until the call is answered or the deadline.
    void WaitForAnswer(Pending& pending, Clock::time_point deadline);
    // Reader role: reads everything waiting on the socket and hands out answers.
    void ReadAvailable();
    bool ReadOne(bool errorQueue);
    void Deliver(std::span<const std::uint8_t> bytes, const ReceiveControl& control, IPAddr from,
                 bool errorQueue);

    const int m_socket;
    const EchoSocketKind m_kind;
    const std::uint16_t m_identifier; // raw sockets; 0 for ping sockets (the kernel's)
    std::atomic<std::uint16_t> m_sequence;

    std::mutex m_sendLock; // the DF setting and the send that relies on it
    int m_pmtuMode = -1;

    std::mutex m_lock; // guards everything below
    std::condition_variable m_changed;
    bool m_readerBusy = false;
    std::vector<Pending*> m_pending;
    std::vector<std::uint8_t> m_receiveBuffer; // used by the reader only
};

} // namespace platform::detail
