#pragma once

// The program's side of kanaliko-rawsock, the installed helper that opens raw
// IPv4 sockets for users who may not (rawsock/main.cpp). The socket layer and the
// echo layer ask it only after their own raw socket was refused for lack of
// rights; when it cannot help either, they report that refusal as before.
//
// The helper is started on first need with one end of a socket pair, serves
// requests one at a time and leaves on its own after a quiet spell; the next
// request starts it again. A socket belongs to the network namespace of the
// process that opens it, so the helper is kept per namespace: a request from a
// thread in another namespace (tests move threads between namespaces) replaces
// it with one started from that thread.
//
// Which helper: $KANALIKO_RAWSOCK when set (empty: none), else the installed one.
//
// Threads: any. One lock serialises the requests; it is held for one exchange
// with the helper, which is bounded by kAnswerTimeoutMs.

#include <mutex>
#include <string>
#include <sys/types.h>

namespace platform::detail {

class CRawSocketHelper final
{
public:
    static CRawSocketHelper& Instance();

    // A raw IPv4 socket of the protocol opened by the helper: blocking,
    // close-on-exec, in the calling thread's network namespace. -1 when the
    // helper is not installed, may not be run by this user, lacks the
    // capability, or does not open that protocol (rawsock::ProtocolAllowed).
    // errno is left alone: the caller reports its own refusal.
    int Open(int protocol);

    // The helper's path, as chosen above; empty when there is none to ask.
    static std::string HelperPath();

    // How long an answer may take once a request is sent, in milliseconds.
    static constexpr int kAnswerTimeoutMs = 5000;

private:
    CRawSocketHelper() = default;

    struct NamespaceId
    {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const NamespaceId&) const = default;
    };
    static NamespaceId CurrentNetNamespace();

    enum class Outcome
    {
        Socket,  // *socket holds it
        Refused, // the helper answered with an errno
        Broken,  // no sound answer: the helper has gone or misbehaves
    };

    bool Start(const std::string& path);
    void Stop();
    Outcome Ask(int protocol, int* socket);

    std::mutex m_lock; // guards everything below
    int m_channel = -1;
    pid_t m_pid = -1;
    std::string m_path;
    NamespaceId m_namespace;
};

} // namespace platform::detail
