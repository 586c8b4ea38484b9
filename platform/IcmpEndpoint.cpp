#include "platform/IcmpEndpoint.h"
#include "ferrox/values/TimeUnits.h"

#include "platform/CRawSocketHelper.h"
#include "platform/SocketErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform::detail {

namespace {

// The largest IPv4 packet, and room for the control data of one read.
constexpr std::size_t kReceiveBufferSize = 65536;
constexpr std::size_t kControlSize = 512;
// IP options are at most 40 bytes.
constexpr std::size_t kMaxIpOptions = 40;

// Identifiers of raw sockets: distinct within the process, starting at a random
// value so that two programs seldom share one (the sequence and the address
// must match as well).
std::uint16_t NextRawIdentifier()
{
    static std::atomic<std::uint16_t> next{[] {
        std::random_device device;
        return static_cast<std::uint16_t>(device());
    }()};
    std::uint16_t id = next.fetch_add(1);
    if (id == 0) // 0 stands for "the kernel's identifier" in a request key
        id = next.fetch_add(1);
    return id;
}

bool SetIntOption(int socket, int level, int name, int value)
{
    return ::setsockopt(socket, level, name, &value, sizeof value) == 0;
}

int OpenPingSocket()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (s < 0)
        return -errno;
    // Router answers come through the error queue; time stamps and the reply's
    // TTL and TOS come as control data.
    if (!SetIntOption(s, SOL_IP, IP_RECVERR, 1) ||
        !SetIntOption(s, SOL_SOCKET, SO_TIMESTAMPNS, 1) ||
        !SetIntOption(s, SOL_IP, IP_RECVTTL, 1) || !SetIntOption(s, SOL_IP, IP_RECVTOS, 1)) {
        const int error = errno;
        ::close(s);
        return -error;
    }
    return s;
}

int OpenRawSocket(std::uint16_t identifier)
{
    int s = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (s < 0) {
        const int error = errno;
        // Without the rights ourselves: the installed helper may open it for us
        // (setting the filters below needs no rights).
        if (error == EPERM || error == EACCES)
            s = CRawSocketHelper::Instance().Open(IPPROTO_ICMP);
        if (s < 0)
            return -error;
    }
    // Types let through (a set bit filters its type out).
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) |
                    (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
    // Echo replies with another identifier are dropped in the kernel; everything
    // else (router answers quote our identifier deeper inside) is accepted.
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                // X = IP header length
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                 // A = ICMP identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1), // ours: accept
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                     // A = ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 1, 0), // someone else's reply
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    if (::setsockopt(s, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0 ||
        ::setsockopt(s, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0 ||
        !SetIntOption(s, SOL_SOCKET, SO_TIMESTAMPNS, 1)) {
        const int error = errno;
        ::close(s);
        return -error;
    }
    return s;
}

// The status of a send the system refused.
ULONG StatusFromSendError(int error)
{
    switch (error) {
    case ENETUNREACH: return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH: return IP_DEST_HOST_UNREACHABLE;
    case EMSGSIZE: return IP_PACKET_TOO_BIG;
    case ENOBUFS:
    case ENOMEM: return IP_NO_RESOURCES;
    default: return IP_GENERAL_FAILURE;
    }
}

std::int64_t WallClockNs()
{
    return clock_ns(CLOCK_REALTIME);
}

// The per-thread buffer a request is built in, reused from call to call.
std::vector<std::uint8_t>& RequestScratch()
{
    thread_local std::vector<std::uint8_t> scratch;
    return scratch;
}

} // namespace

std::shared_ptr<CIcmpEndpoint> CIcmpEndpoint::Open(int* wsaError)
{
    int s = OpenPingSocket();
    if (s >= 0)
        return std::shared_ptr<CIcmpEndpoint>(new CIcmpEndpoint(s, EchoSocketKind::Ping, 0));
    const std::uint16_t identifier = NextRawIdentifier();
    s = OpenRawSocket(identifier);
    if (s >= 0)
        return std::shared_ptr<CIcmpEndpoint>(
            new CIcmpEndpoint(s, EchoSocketKind::Raw, identifier));
    if (wsaError)
        *wsaError = WsaFromErrno(-s, SocketKind::Raw);
    return nullptr;
}

CIcmpEndpoint::CIcmpEndpoint(int descriptor, EchoSocketKind kind, std::uint16_t identifier)
    : m_socket(descriptor), m_kind(kind), m_identifier(identifier),
      m_sequence(static_cast<std::uint16_t>(std::random_device{}())),
      m_receiveBuffer(kReceiveBufferSize)
{}

CIcmpEndpoint::~CIcmpEndpoint()
{
    ::close(m_socket);
}

DWORD CIcmpEndpoint::Echo(IPAddr source, IPAddr destination, std::span<const std::uint8_t> data,
                          const IP_OPTION_INFORMATION* options, void* replyBuffer, DWORD replySize,
                          DWORD timeout, std::uint32_t* roundTripUs)
{
    *roundTripUs = 0;
    Pending pending;
    pending.key.destination = destination;
    pending.key.identifier = m_identifier;
    pending.key.sequence = m_sequence.fetch_add(1);
    pending.replyBuffer = replyBuffer;
    pending.replySize = replySize;

    auto& packet = RequestScratch();
    packet.resize(kIcmpHeaderSize + data.size());
    BuildEchoRequest(packet, m_identifier, pending.key.sequence, data);

    DrainIfIdle();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pending.push_back(&pending);
    }
    struct Unregister
    {
        CIcmpEndpoint* self;
        Pending* pending;
        ~Unregister()
        {
            std::lock_guard<std::mutex> lock(self->m_lock);
            std::erase(self->m_pending, pending);
        }
    } unregister{this, &pending};

    // The wall clock just before the send, for the kernel's receive stamp; the
    // monotonic clock in case the wall clock jumps meanwhile.
    const std::int64_t sentWallNs = WallClockNs();
    const Clock::time_point sentAt = Clock::now();
    if (const int error = Send(source, destination, packet, options)) {
        const ULONG status = StatusFromSendError(error);
        WriteEchoFailure(status, replyBuffer, replySize);
        WSASetLastError(static_cast<int>(status));
        return 0;
    }

    WaitForAnswer(pending, sentAt + std::chrono::milliseconds(timeout));
    bool answered;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        answered = pending.done;
    }
    if (!answered) {
        WriteEchoFailure(IP_REQ_TIMED_OUT, replyBuffer, replySize);
        WSASetLastError(static_cast<int>(IP_REQ_TIMED_OUT));
        return 0;
    }

    const std::int64_t monotonicNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(pending.readAt - sentAt).count();
    std::int64_t roundTripNs = monotonicNs;
    if (pending.hasStamp) {
        // The stamp was taken before the read, so a sound one lies between the
        // send and the read; outside that the wall clock was set meanwhile.
        const std::int64_t stamped = pending.stampNs - sentWallNs;
        if (stamped >= 0 && stamped <= monotonicNs + 1000000)
            roundTripNs = std::min(stamped, monotonicNs);
    }
    const std::int64_t roundTripKeptNs = std::max<std::int64_t>(roundTripNs, 0);
    const ULONG roundTripMs = static_cast<ULONG>(roundTripKeptNs / 1000000);
    *roundTripUs = static_cast<std::uint32_t>(
        std::min<std::int64_t>(roundTripKeptNs / 1000, std::numeric_limits<std::uint32_t>::max()));
    std::memcpy(static_cast<unsigned char*>(replyBuffer) + offsetof(ICMP_ECHO_REPLY, RoundTripTime),
                &roundTripMs, sizeof roundTripMs);
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, replyBuffer, sizeof record);
    if (record.Status != IP_SUCCESS)
        WSASetLastError(static_cast<int>(record.Status));
    return 1;
}

int CIcmpEndpoint::Send(IPAddr source, IPAddr destination, std::span<const std::uint8_t> packet,
                        const IP_OPTION_INFORMATION* options)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    iovec vector{const_cast<std::uint8_t*>(packet.data()), packet.size()};

    // Per-request settings travel as control data, so calls on one handle with
    // different settings do not disturb each other.
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int)) * 2 +
                                           CMSG_SPACE(sizeof(in_pktinfo)) +
                                           CMSG_SPACE(kMaxIpOptions)] = {};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    std::size_t used = 0;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    auto add = [&](int type, const void* value, std::size_t length) {
        header->cmsg_level = SOL_IP;
        header->cmsg_type = type;
        header->cmsg_len = CMSG_LEN(length);
        std::memcpy(CMSG_DATA(header), value, length);
        used += CMSG_SPACE(length);
        header = reinterpret_cast<cmsghdr*>(reinterpret_cast<unsigned char*>(header) +
                                            CMSG_SPACE(length));
    };
    bool dontFragment = false;
    if (options) {
        if (options->Ttl != 0) {
            const int ttl = options->Ttl;
            add(IP_TTL, &ttl, sizeof ttl);
        }
        if (options->Tos != 0) {
            const int tos = options->Tos;
            add(IP_TOS, &tos, sizeof tos);
        }
        if (options->OptionsSize != 0 && options->OptionsData)
            add(IP_RETOPTS, options->OptionsData, options->OptionsSize);
        dontFragment = (options->Flags & IP_FLAG_DF) != 0;
    }
    if (source != 0) {
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = source;
        add(IP_PKTINFO, &info, sizeof info);
    }
    message.msg_controllen = used;
    if (used == 0)
        message.msg_control = nullptr;

    std::lock_guard<std::mutex> lock(m_sendLock);
    const int mode = dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    if (mode != m_pmtuMode) {
        if (!SetIntOption(m_socket, SOL_IP, IP_MTU_DISCOVER, mode))
            return errno;
        m_pmtuMode = mode;
    }
    for (;;) {
        if (::sendmsg(m_socket, &message, MSG_NOSIGNAL) >= 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

void CIcmpEndpoint::DrainIfIdle()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_readerBusy)
            return; // the reader is reading anyway
        m_readerBusy = true;
    }
    ReadAvailable();
    std::lock_guard<std::mutex> lock(m_lock);
    m_readerBusy = false;
    m_changed.notify_all();
}

void CIcmpEndpoint::WaitForAnswer(Pending& pending, Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_lock);
    while (!pending.done && Clock::now() < deadline) {
        if (m_readerBusy) {
            m_changed.wait_until(lock, deadline, [&] { return pending.done || !m_readerBusy; });
            continue;
        }
        m_readerBusy = true;
        lock.unlock();
        for (;;) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero())
                break;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timespec wait = timespec_from_ns(ns);
            pollfd poll{m_socket, POLLIN, 0};
            const int ready = ::ppoll(&poll, 1, &wait, nullptr);
            if (ready < 0 && errno != EINTR)
                break;
            if (ready > 0)
                ReadAvailable();
            std::lock_guard<std::mutex> check(m_lock);
            if (pending.done)
                break;
        }
        lock.lock();
        m_readerBusy = false;
        m_changed.notify_all();
    }
}

void CIcmpEndpoint::ReadAvailable()
{
    // Bounded, so that a flood cannot keep a call reading past its time-out by much.
    for (int i = 0; i < 256; ++i) {
        pollfd ready{m_socket, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0)
            return;
        // POLLERR: a queued router answer (ping sockets) or a pending socket error.
        const bool data = (ready.revents & POLLIN) != 0;
        const bool error = (ready.revents & POLLERR) != 0;
        if (!data && !error)
            return;
        if (data)
            ReadOne(false);
        if (error)
            ReadOne(true);
    }
}

bool CIcmpEndpoint::ReadOne(bool errorQueue)
{
    alignas(cmsghdr) std::uint8_t control[kControlSize];
    sockaddr_in from{};
    iovec vector{m_receiveBuffer.data(), m_receiveBuffer.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received;
    do {
        received = ::recvmsg(m_socket, &message, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        if (errorQueue && errno == EAGAIN) {
            // A pending socket error without a queued entry would keep poll
            // reporting POLLERR; reading SO_ERROR clears it.
            int pendingError = 0;
            socklen_t length = sizeof pendingError;
            ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &pendingError, &length);
        }
        return false;
    }
    if (message.msg_flags & MSG_TRUNC)
        return true; // cannot be one of ours: requests fit in 64 KiB
    const auto control_ = ParseReceiveControl(std::span<const std::uint8_t>(
        control, std::min<std::size_t>(message.msg_controllen, sizeof control)));
    Deliver(
        std::span<const std::uint8_t>(m_receiveBuffer.data(), static_cast<std::size_t>(received)),
        control_, from.sin_addr.s_addr, errorQueue);
    return true;
}

void CIcmpEndpoint::Deliver(std::span<const std::uint8_t> bytes, const ReceiveControl& control,
                            IPAddr from, bool errorQueue)
{
    const Clock::time_point readAt = Clock::now();
    std::lock_guard<std::mutex> lock(m_lock);
    for (Pending* pending : m_pending) {
        if (pending->done)
            continue;
        std::optional<EchoAnswer> answer;
        if (m_kind == EchoSocketKind::Raw)
            answer = errorQueue ? std::nullopt : ParseRawIcmpAnswer(bytes, pending->key);
        else if (!errorQueue)
            answer = ParsePingSocketReply(bytes, from, control.ttl, control.tos, pending->key);
        else if (control.hasError)
            answer = ParsePingSocketError(control.error, bytes, from, pending->key);
        if (!answer)
            continue;
        WriteEchoReply(*answer, 0, bytes, pending->replyBuffer, pending->replySize);
        pending->done = true;
        pending->hasStamp = control.hasTimestamp;
        pending->stampNs = control.seconds * 1000000000 + control.nanoseconds;
        pending->readAt = readAt;
        m_changed.notify_all();
        return;
    }
    // Not an answer to a call in progress: a late answer or someone else's.
}

} // namespace platform::detail
