// Data transfer of the socket layer: send, recv, sendto, recvfrom, and the
// readiness probe the watch layer uses on stream sockets.

#include "platform/IcmpErrorQueue.h"
#include "platform/SocketHooks.h"
#include "platform/SocketTable.h"
#include "platform/Sockets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/uio.h>

namespace platform {

using detail::Fail;
using detail::FailWithErrno;
using detail::FindOrFail;
using detail::SocketRecord;

namespace {

// How many times a datagram or raw send is repeated after failing with what may
// be the pending error of an ICMP answer.
constexpr int kMaxSendRestarts = 3;

// The errno values the system turns ICMP answers into (the socket's pending
// error after an answer).
bool IsIcmpAnswerError(int error)
{
    switch (error) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENOPROTOOPT:
    case EPROTO:
    case EHOSTDOWN:
    case ENONET:
    case EMSGSIZE:
    case EACCES:
    case EOPNOTSUPP: return true;
    default: return false;
    }
}

// How many times a datagram receive starts over after the error queue held only
// answers that Winsock does not report (a failed plain receive may have been
// woken by one of them).
constexpr int kMaxReceiveRestarts = 4;

// The Winsock code of a call that would have to wait: 10060 for a blocking
// socket with a time-out (it waited and the time ran out), 10035 otherwise.
int WaitFailure(const SocketRecord& record, DWORD timeoutMs)
{
    return (!record.nonBlocking && timeoutMs != 0) ? WSAETIMEDOUT : WSAEWOULDBLOCK;
}

// Tells the watch layer, when the receive is over, that the program received
// from the socket: Winsock's rule that a receive re-enables the read
// notification. The thread's last error survives the hook.
class CReceiveNotice final
{
public:
    CReceiveNotice(SOCKET s, const SocketRecord& record)
        : m_socket(s), m_hooks(record.watched ? detail::InstalledHooks() : nullptr)
    {}
    ~CReceiveNotice()
    {
        if (m_hooks) {
            const int lastError = WSAGetLastError();
            m_hooks->AfterReceive(m_socket);
            WSASetLastError(lastError);
        }
    }
    CReceiveNotice(const CReceiveNotice&) = delete;
    CReceiveNotice& operator=(const CReceiveNotice&) = delete;

private:
    SOCKET m_socket;
    ISocketHooks* m_hooks;
};

void CopyAddress(const sockaddr_storage& address, socklen_t length, sockaddr* to, int* toLength)
{
    if (!to || !toLength)
        return;
    const int copied = std::min<int>(*toLength, static_cast<int>(length));
    std::memcpy(to, &address, static_cast<std::size_t>(copied));
    *toLength = static_cast<int>(length);
}

int ReceiveStream(SOCKET s, const SocketRecord& record, char* buffer, int length, int flags,
                  sockaddr* from, int* fromLength)
{
    sockaddr_storage address{};
    socklen_t addressLength = sizeof address;
    ssize_t received;
    do {
        received = ::recvfrom(s, buffer, static_cast<std::size_t>(length), flags,
                              reinterpret_cast<sockaddr*>(&address), &addressLength);
    } while (received < 0 && errno == EINTR);
    if (received >= 0) {
        if (from && addressLength > 0)
            CopyAddress(address, addressLength, from, fromLength);
        return static_cast<int>(received);
    }
    if (errno == EAGAIN)
        return Fail(WaitFailure(record, record.receiveTimeoutMs));
    return FailWithErrno(errno, record.kind);
}

int ReceiveDatagram(SOCKET s, const SocketRecord& record, char* buffer, int length, int flags,
                    sockaddr* from, int* fromLength)
{
    // An ICMP answer that is already queued is what Winsock reports now.
    QueuedErrorTake queued = TakeQueuedIcmpError(s);
    if (queued.wsaError != 0)
        return Fail(queued.wsaError);

    for (int restart = 0;; ++restart) {
        sockaddr_storage address{};
        iovec vector{buffer, static_cast<std::size_t>(length)};
        msghdr message{};
        message.msg_name = &address;
        message.msg_namelen = sizeof address;
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(s, &message, flags);
        if (received >= 0) {
            CopyAddress(address, message.msg_namelen, from, fromLength);
            if (message.msg_flags & MSG_TRUNC)
                return Fail(WSAEMSGSIZE); // the buffer holds the first bytes, as in Winsock
            return static_cast<int>(received);
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN)
            return Fail(WaitFailure(record, record.receiveTimeoutMs));

        // The system also hands an ICMP answer to the next plain receive, once,
        // through the socket's pending error, while its entry stays queued. Report
        // it from the queue: taking the entry is what keeps it from being reported
        // a second time by the receive after this one.
        queued = TakeQueuedIcmpError(s);
        if (queued.wsaError != 0)
            return Fail(queued.wsaError);
        if (queued.consumed > 0 && restart < kMaxReceiveRestarts)
            continue; // only answers Winsock keeps quiet about: receive again
        return FailWithErrno(error, record.kind);
    }
}

int Receive(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength)
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    CReceiveNotice notice(s, record);
    if (length < 0 || (length > 0 && !buffer))
        return Fail(WSAEFAULT);
    if (from && (!fromLength || *fromLength < static_cast<int>(sizeof(sockaddr_in))))
        return Fail(WSAEFAULT);
    if (record.kind == SocketKind::Stream)
        return ReceiveStream(s, record, buffer, length, flags, from, fromLength);
    return ReceiveDatagram(s, record, buffer, length, flags, from, fromLength);
}

int Send(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength)
{
    SocketRecord record;
    if (!FindOrFail(s, &record))
        return SOCKET_ERROR;
    if (length < 0 || (length > 0 && !buffer))
        return Fail(WSAEFAULT);
    if (to && toLength < static_cast<int>(sizeof(sockaddr_in)))
        return Fail(WSAEFAULT);
    ssize_t sent;
    int restarts = 0;
    for (;;) {
        // MSG_NOSIGNAL: a send on a connection the peer has closed fails with an
        // error instead of killing the process with SIGPIPE.
        sent = ::sendto(s, buffer, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL, to,
                        to ? static_cast<socklen_t>(toLength) : 0);
        if (sent >= 0)
            break;
        if (errno == EINTR)
            continue;
        // On a datagram or raw socket the system fails the first send after an
        // ICMP answer with that answer (the socket's pending error) before the
        // datagram is built. Winsock sends and leaves the answer to the next
        // receive, which still finds it in the error queue. The pending error is
        // used up by the failed attempt, so sending again tells a real failure
        // (which comes back) from an answer (which does not).
        if (record.kind != SocketKind::Stream && IsIcmpAnswerError(errno) &&
            restarts++ < kMaxSendRestarts)
            continue;
        break;
    }
    if (sent >= 0)
        return static_cast<int>(sent);
    if (errno == EAGAIN)
        return Fail(WaitFailure(record, record.sendTimeoutMs));
    return FailWithErrno(errno, record.kind);
}

} // namespace

int send(SOCKET s, const char* buffer, int length, int flags)
{
    return Send(s, buffer, length, flags, nullptr, 0);
}

int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength)
{
    return Send(s, buffer, length, flags, to, toLength);
}

int recv(SOCKET s, char* buffer, int length, int flags)
{
    return Receive(s, buffer, length, flags, nullptr, nullptr);
}

int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength)
{
    return Receive(s, buffer, length, flags, from, fromLength);
}

StreamReadiness ProbeStream(SOCKET s, int* error)
{
    if (error)
        *error = 0;
    char byte;
    ssize_t peeked;
    do {
        peeked = ::recv(s, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (peeked < 0 && errno == EINTR);
    if (peeked > 0)
        return StreamReadiness::Data;
    if (peeked == 0)
        return StreamReadiness::Closed;
    switch (errno) {
    case EAGAIN: return StreamReadiness::Nothing;
    case ENOTCONN: return StreamReadiness::NotConnected;
    default:
        if (error)
            *error = WsaFromErrno(errno, SocketKind::Stream);
        return StreamReadiness::Failed;
    }
}

} // namespace platform
