// kanaliko-rawsock: opens the raw IPv4 sockets that Kanaliko may not open itself
// and hands each one back to the program that started it.
//
// The package installs it with the file capability cap_net_raw=ep, owned by root
// and group kanaliko, mode 0750: only root and the group's members can run it.
// The program starts it with one end of an AF_UNIX SOCK_SEQPACKET socket pair as
// descriptor 3 and sends requests (rawsock/RawSockProtocol.h); each is answered
// with an errno and, on success, the socket as an SCM_RIGHTS descriptor.
//
// What keeps the capability from going further than one raw socket of an allowed
// protocol:
// - CAP_NET_RAW stays permitted but not effective; it is raised only around the
//   socket() call of a request that passed every check. Every other capability
//   is dropped at start (this matters when root runs it), and no_new_privs keeps
//   anything from being gained later. A refused request drops every capability
//   for good before it is answered.
// - It never opens a file, never starts a program and reads nothing from its
//   arguments or environment. Descriptors other than 0-2 and the channel are
//   closed at start; each socket is closed once it has been passed. Descriptors
//   that arrive with a request are closed and the request is refused.
// - Every wait ends: a request must come within kIdleMs (else it exits), an
//   answer that cannot be queued at once ends the helper, and one helper serves
//   at most kMaxRequests requests.

#include "rawsock/RawSockProtocol.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kChannel = 3;
constexpr int kIdleMs = 10000;
constexpr unsigned kMaxRequests = 4096;
// Exit status: 0 when the program closed the channel or went quiet; 2 when
// started by hand or without a usable channel; 1 when the channel failed.
constexpr int kExitDone = 0;
constexpr int kExitChannel = 1;
constexpr int kExitUsage = 2;

// Capabilities through the system calls themselves: no libcap to load.
struct CapabilitySets
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
};

bool GetCapabilities(CapabilitySets& sets)
{
    return ::syscall(SYS_capget, &sets.header, sets.data) == 0;
}

bool SetCapabilities(CapabilitySets& sets)
{
    return ::syscall(SYS_capset, &sets.header, sets.data) == 0;
}

constexpr std::uint32_t kNetRawBit = 1u << CAP_NET_RAW; // CAP_NET_RAW (13) is in word 0

// Keeps CAP_NET_RAW permitted (when it was) and nothing else; nothing effective.
bool LimitCapabilities()
{
    CapabilitySets sets;
    if (!GetCapabilities(sets))
        return false;
    const std::uint32_t keep = sets.data[0].permitted & kNetRawBit;
    sets = CapabilitySets{};
    sets.data[0].permitted = keep;
    if (!SetCapabilities(sets))
        return false;
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    return true;
}

// Raises or lowers CAP_NET_RAW in the effective set; false when not permitted.
bool EffectiveNetRaw(bool on)
{
    CapabilitySets sets;
    if (!GetCapabilities(sets))
        return false;
    if (on && (sets.data[0].permitted & kNetRawBit) == 0)
        return false;
    sets.data[0].effective = on ? kNetRawBit : 0;
    sets.data[1].effective = 0;
    return SetCapabilities(sets);
}

void DropAllCapabilities()
{
    CapabilitySets none;
    SetCapabilities(none); // lowering is always allowed
}

// The socket asked for, or -errno.
int OpenRawSocket(int protocol)
{
    if (!EffectiveNetRaw(true))
        return -EPERM;
    const int s = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, protocol);
    const int error = errno;
    EffectiveNetRaw(false);
    return s >= 0 ? s : -error;
}

bool IsSeqpacketChannel(int fd)
{
    int type = 0, domain = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET)
        return false;
    length = sizeof domain;
    return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_UNIX;
}

std::int64_t NowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

enum class Wait
{
    Request,
    Closed, // the program closed its end, went quiet, or the channel failed
};

Wait WaitForRequest()
{
    const std::int64_t deadline = NowMs() + kIdleMs;
    for (;;) {
        const std::int64_t left = deadline - NowMs();
        if (left <= 0)
            return Wait::Closed;
        pollfd channel{kChannel, POLLIN, 0};
        const int ready = ::poll(&channel, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (channel.revents & POLLIN) == 0)
            return Wait::Closed; // time-out, failure, or a hang-up with nothing queued
        return Wait::Request;
    }
}

struct Message
{
    bool closed = false;
    std::uint8_t bytes[rawsock::kRequestSize + 1] = {};
    std::size_t length = 0;  // the message's full length (MSG_TRUNC)
    bool hadControl = false; // descriptors or other control data came along
};

Message ReceiveMessage()
{
    Message message;
    alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(int) * 8)];
    iovec vector{message.bytes, sizeof message.bytes};
    msghdr header{};
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t received;
    do {
        received = ::recvmsg(kChannel, &header, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        message.closed = true;
        return message;
    }
    // Descriptors the program sent are not ours to keep (the kernel already
    // dropped any that did not fit the control buffer).
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        message.hadControl = true;
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
            const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                ::close(fd);
            }
        }
    }
    if (header.msg_flags & MSG_CTRUNC)
        message.hadControl = true;
    if (received == 0) {
        // SOCK_SEQPACKET: an empty message and the program's close both read as
        // 0 bytes; a hang-up tells them apart.
        pollfd channel{kChannel, POLLRDHUP, 0};
        if (::poll(&channel, 1, 0) > 0 && (channel.revents & (POLLHUP | POLLRDHUP)) != 0) {
            message.closed = true;
            return message;
        }
    }
    message.length = static_cast<std::size_t>(received);
    return message;
}

// Sends the answer, with the socket when there is one. Never waits: a program
// that does not read its answers loses its helper.
bool Answer(int error, int socket)
{
    std::uint8_t bytes[rawsock::kAnswerSize];
    rawsock::EncodeAnswer(error, bytes);
    iovec vector{bytes, sizeof bytes};
    msghdr header{};
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(int))] = {};
    if (socket >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &socket, sizeof socket);
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(kChannel, &header, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof bytes);
}

void Say(const char* text)
{
    const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

} // namespace

int main(int argc, char**)
{
    // Rights first, before anything from outside is looked at.
    if (!LimitCapabilities()) {
        DropAllCapabilities();
        return kExitUsage;
    }
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);

    if (argc != 1 || !IsSeqpacketChannel(kChannel)) {
        DropAllCapabilities();
        Say("kanaliko-rawsock: opens raw sockets for Kanaliko; it is started by the program, "
            "not by hand\n");
        return kExitUsage;
    }
    // 0-2 stay (so no socket lands on a number a library may write to); every
    // other inherited descriptor goes. Kernels before 5.9 lack close_range.
    if (::close_range(kChannel + 1, ~0u, 0) != 0) {
        rlimit limit{};
        const rlim_t last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
        for (rlim_t fd = kChannel + 1; fd < last && fd < (1u << 20); ++fd)
            ::close(static_cast<int>(fd));
    }

    for (unsigned served = 0; served < kMaxRequests; ++served) {
        if (WaitForRequest() == Wait::Closed)
            return kExitDone;
        const Message message = ReceiveMessage();
        if (message.closed)
            return kExitDone;
        rawsock::RequestVerdict verdict = rawsock::ParseRequest(message.bytes, message.length);
        if (message.hadControl)
            verdict = {EINVAL, 0};
        if (verdict.error != 0) {
            DropAllCapabilities();
            if (!Answer(verdict.error, -1))
                return kExitChannel;
            continue;
        }
        const int socket = OpenRawSocket(verdict.protocol);
        const bool answered = Answer(socket >= 0 ? 0 : -socket, socket);
        if (socket >= 0)
            ::close(socket);
        if (!answered)
            return kExitChannel;
    }
    return kExitDone;
}
