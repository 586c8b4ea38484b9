#include "platform/CRawSocketHelper.h"

#include "rawsock/RawSockProtocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef KANALIKO_RAWSOCK_PATH
#error "KANALIKO_RAWSOCK_PATH: the installed helper's absolute path, set by the build"
#endif

namespace platform::detail {

namespace {

constexpr int kChannelInHelper = 3; // where the helper expects its end

// The received descriptors of one answer, closed unless handed on.
class CReceivedDescriptors
{
public:
    ~CReceivedDescriptors()
    {
        for (int fd : m_fds)
            ::close(fd);
    }
    void Add(int fd) { m_fds.push_back(fd); }
    std::size_t Count() const { return m_fds.size(); }
    int Release()
    {
        const int fd = m_fds.front();
        m_fds.erase(m_fds.begin());
        return fd;
    }

private:
    std::vector<int> m_fds;
};

bool IsRawSocketOf(int fd, int protocol)
{
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &value, &length) != 0 || value != AF_INET)
        return false;
    length = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &value, &length) != 0 || value != SOCK_RAW)
        return false;
    length = sizeof value;
    return ::getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &value, &length) == 0 && value == protocol;
}

} // namespace

CRawSocketHelper& CRawSocketHelper::Instance()
{
    // Never destroyed: sockets may be opened by threads that outlive static
    // destruction. The helper sees its channel close when the process ends.
    static CRawSocketHelper* helper = new CRawSocketHelper;
    return *helper;
}

std::string CRawSocketHelper::HelperPath()
{
    // Honouring the variable gives nothing away: the program runs whatever it
    // names with the user's own rights, which the user could do anyway. The
    // capability sits on the installed helper's file, and that helper checks
    // every request whoever starts it. secure_getenv still ignores the variable
    // in a process that was itself given rights at exec.
    if (const char* chosen = ::secure_getenv("KANALIKO_RAWSOCK"))
        return chosen;
    return KANALIKO_RAWSOCK_PATH;
}

CRawSocketHelper::NamespaceId CRawSocketHelper::CurrentNetNamespace()
{
    struct stat status
    {};
    if (::stat("/proc/thread-self/ns/net", &status) != 0)
        return {}; // no /proc: one namespace is all we can tell apart
    return {status.st_dev, status.st_ino};
}

int CRawSocketHelper::Open(int protocol)
{
    if (!rawsock::ProtocolAllowed(protocol))
        return -1; // it would refuse, and stop serving after the refusal
    const std::string path = HelperPath();
    if (path.empty())
        return -1;
    const int savedErrno = errno;
    std::lock_guard lock(m_lock);
    const NamespaceId here = CurrentNetNamespace();
    int socket = -1;
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool fresh = false;
        if (m_channel < 0 || !(m_namespace == here) || m_path != path) {
            Stop();
            if (!Start(path))
                break;
            m_namespace = here;
            fresh = true;
        }
        const Outcome outcome = Ask(protocol, &socket);
        if (outcome != Outcome::Broken)
            break;
        // A helper that was waiting may have just left on its own time-out: one
        // more try with a fresh one, never more.
        Stop();
        if (fresh)
            break;
    }
    errno = savedErrno;
    return socket;
}

bool CRawSocketHelper::Start(const std::string& path)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    // Its end on 3 first (whatever number it has here), then quiet standard
    // input and output; standard error stays the program's. Nothing else of the
    // program's goes across, close-on-exec or not.
    ::posix_spawn_file_actions_adddup2(&actions, ends[1], kChannelInHelper);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, kChannelInHelper + 1);
    // Default signal handling and no blocked signals, whatever the calling
    // thread has.
    sigset_t none, all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char name[] = "kanaliko-rawsock";
    char* arguments[] = {name, nullptr};
    char* environment[] = {nullptr}; // it reads none
    pid_t pid = -1;
    // Fails with the exec's errno: ENOENT when not installed, EACCES for a user
    // outside the kanaliko group.
    const int error =
        ::posix_spawn(&pid, path.c_str(), &actions, &attributes, arguments, environment);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (error != 0) {
        ::close(ends[0]);
        return false;
    }
    m_channel = ends[0];
    m_pid = pid;
    m_path = path;
    return true;
}

void CRawSocketHelper::Stop()
{
    if (m_channel >= 0) {
        ::close(m_channel); // the helper sees the hang-up and leaves
        m_channel = -1;
    }
    if (m_pid > 0) {
        // Still running (so the number is still its own): do not wait for it.
        if (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        m_pid = -1;
    }
}

CRawSocketHelper::Outcome CRawSocketHelper::Ask(int protocol, int* socket)
{
    std::uint8_t request[rawsock::kRequestSize];
    rawsock::EncodeRequest(protocol, request);
    ssize_t sent;
    do {
        sent = ::send(m_channel, request, sizeof request, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof request))
        return Outcome::Broken;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Outcome::Broken;
        pollfd channel{m_channel, POLLIN, 0};
        const int ready = ::poll(&channel, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Outcome::Broken;
        break;
    }

    std::uint8_t answer[rawsock::kAnswerSize + 1];
    alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(int) * 4)];
    iovec vector{answer, sizeof answer};
    msghdr header{};
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t received;
    do {
        received = ::recvmsg(m_channel, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    } while (received < 0 && errno == EINTR);
    if (received <= 0) // 0: the helper has gone
        return Outcome::Broken;
    CReceivedDescriptors descriptors;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            descriptors.Add(fd);
        }
    }
    int error = 0;
    if ((header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 ||
        !rawsock::ParseAnswer(answer, static_cast<std::size_t>(received), &error))
        return Outcome::Broken;
    if (error != 0)
        return descriptors.Count() == 0 ? Outcome::Refused : Outcome::Broken;
    if (descriptors.Count() != 1)
        return Outcome::Broken;
    const int fd = descriptors.Release();
    // Whatever KANALIKO_RAWSOCK named must have sent what was asked for.
    if (!IsRawSocketOf(fd, protocol)) {
        ::close(fd);
        return Outcome::Broken;
    }
    *socket = fd;
    return Outcome::Socket;
}

} // namespace platform::detail
