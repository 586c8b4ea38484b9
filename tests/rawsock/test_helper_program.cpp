// kanaliko-rawsock itself, spoken to over its socket pair the way the program
// does, and the way a hostile program might. As root it runs as an unprivileged
// user in the helper's group with the capability from its file, as installed;
// without root it runs as the current user without the capability, and only the
// checks that need a socket to open are skipped.

#include "rawsock/RawSockProtocol.h"
#include "rawsock/support/RawsockTestKit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>

namespace {

using namespace std::chrono_literals;
using rawsocktest::CScratchInstall;

// One running helper and our end of its channel.
class CHelperProcess
{
public:
    // argv runs the helper (directly or through setpriv); extraFd, when >= 0, is
    // inherited without close-on-exec as descriptor 7.
    explicit CHelperProcess(const std::vector<std::string>& argv, int extraFd = -1)
    {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            return;
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, ends[1], 3);
        if (extraFd >= 0)
            ::posix_spawn_file_actions_adddup2(&actions, extraFd, 7);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (::posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            m_pid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        m_channel = ends[0];
    }
    ~CHelperProcess()
    {
        CloseChannel();
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    CHelperProcess(const CHelperProcess&) = delete;
    CHelperProcess& operator=(const CHelperProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void CloseChannel()
    {
        if (m_channel >= 0)
            ::close(m_channel);
        m_channel = -1;
    }

    bool Send(const void* bytes, std::size_t length, int attachedFd = -1)
    {
        iovec vector{const_cast<void*>(bytes), length};
        msghdr header{};
        header.msg_iov = &vector;
        header.msg_iovlen = 1;
        alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(int))] = {};
        if (attachedFd >= 0) {
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&header);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &attachedFd, sizeof(int));
        }
        return ::sendmsg(m_channel, &header, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
    }
    bool SendRequest(int protocol)
    {
        std::uint8_t request[rawsock::kRequestSize];
        rawsock::EncodeRequest(protocol, request);
        return Send(request, sizeof request);
    }

    struct Answer
    {
        bool received = false; // a well-formed answer came
        int error = -1;
        std::vector<int> fds; // owned by the caller
    };
    // Waits up to 15 s (the helper answers at once; the rest is slack).
    Answer Receive()
    {
        Answer answer;
        pollfd ready{m_channel, POLLIN, 0};
        if (::poll(&ready, 1, 15000) <= 0)
            return answer;
        std::uint8_t bytes[64];
        alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(int) * 4)];
        iovec vector{bytes, sizeof bytes};
        msghdr header{};
        header.msg_iov = &vector;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_channel, &header, MSG_CMSG_CLOEXEC);
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
            for (std::size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                answer.fds.push_back(fd);
            }
        }
        answer.received =
            n > 0 && rawsock::ParseAnswer(bytes, static_cast<std::size_t>(n), &answer.error);
        return answer;
    }
    Answer Ask(int protocol)
    {
        if (!SendRequest(protocol))
            return {};
        return Receive();
    }

    // The exit status once it has ended within the limit, else -1.
    int WaitForExit(std::chrono::seconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    bool Running()
    {
        if (m_exited)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_exited = true;
        return !m_exited;
    }

    // A line of /proc/<pid>/status, e.g. "CapPrm".
    std::string Status(const std::string& key) const
    {
        std::istringstream lines(
            rawsocktest::ReadText("/proc/" + std::to_string(m_pid) + "/status"));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(key + ":", 0) == 0)
                return line.substr(line.find_first_not_of(" \t", key.size() + 1));
        }
        return {};
    }

private:
    pid_t m_pid = -1;
    int m_channel = -1;
    bool m_exited = false;
};

void CloseAll(const std::vector<int>& fds)
{
    for (int fd : fds)
        ::close(fd);
}

int SocketOption(int fd, int name)
{
    int value = -1;
    socklen_t length = sizeof value;
    ::getsockopt(fd, SOL_SOCKET, name, &value, &length);
    return value;
}

constexpr const char* kCapNetRawOnly = "0000000000002000";
constexpr const char* kNoCapabilities = "0000000000000000";

class HelperProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() == 0) {
            install = std::make_unique<CScratchInstall>();
            if (!install->Ready())
                GTEST_SKIP() << install->WhyNot();
        } else {
            std::printf("not root: the helper runs as this user without its capability; the "
                        "checks that open sockets are skipped\n");
        }
    }

    // How the program would start it: as an unprivileged member of the group.
    std::unique_ptr<CHelperProcess> Start(int extraFd = -1)
    {
        if (!install)
            return std::make_unique<CHelperProcess>(
                std::vector<std::string>{rawsocktest::BuiltHelper()}, extraFd);
        auto argv = install->AsUser("", {install->group}, "", {install->capableHelper});
        return std::make_unique<CHelperProcess>(argv, extraFd);
    }

    bool Capable() const { return install != nullptr; }

    std::unique_ptr<CScratchInstall> install;
};

TEST_F(HelperProgram, AnAllowedProtocolGetsARawSocketOfItAndNothingElseIsHeld)
{
    auto helper = Start();
    for (int protocol : {1, 47, 253, 254}) {
        SCOPED_TRACE(protocol);
        auto answer = helper->Ask(protocol);
        ASSERT_TRUE(answer.received);
        if (!Capable()) {
            EXPECT_EQ(answer.error, EPERM) << "without the capability the socket is refused";
            EXPECT_TRUE(answer.fds.empty());
            continue;
        }
        ASSERT_EQ(answer.error, 0);
        ASSERT_EQ(answer.fds.size(), 1u);
        EXPECT_EQ(SocketOption(answer.fds[0], SO_DOMAIN), AF_INET);
        EXPECT_EQ(SocketOption(answer.fds[0], SO_TYPE), SOCK_RAW);
        EXPECT_EQ(SocketOption(answer.fds[0], SO_PROTOCOL), protocol);
        CloseAll(answer.fds);
    }
    if (Capable()) {
        // Between requests the capability is permitted but not in effect, and
        // nothing else is held at all.
        EXPECT_EQ(helper->Status("CapPrm"), kCapNetRawOnly);
        EXPECT_EQ(helper->Status("CapEff"), kNoCapabilities);
        EXPECT_EQ(helper->Status("CapInh"), kNoCapabilities);
        EXPECT_EQ(helper->Status("NoNewPrivs"), "1");
    }
}

TEST_F(HelperProgram, RefusedRequestsGetAnErrnoAndNoSocketAndTheHelperStaysUp)
{
    using Bytes = std::vector<std::uint8_t>;
    auto request = [](int protocol) {
        std::uint8_t bytes[rawsock::kRequestSize];
        rawsock::EncodeRequest(protocol, bytes);
        return Bytes(bytes, bytes + sizeof bytes);
    };
    const Bytes valid = request(253);
    Bytes badMagic = valid;
    badMagic[0] ^= 0xFF;
    Bytes badVersion = valid;
    badVersion[4] = 2;
    Bytes oversized = valid;
    oversized.push_back(0);
    Bytes huge = valid;
    huge.resize(4096, 0xAA);
    struct Case
    {
        const char* what;
        Bytes bytes;
        int error;
    } cases[] = {
        {"TCP", request(6), EPERM},
        {"UDP", request(17), EPERM},
        {"SCTP", request(132), EPERM},
        {"protocol 0", request(0), EPROTONOSUPPORT},
        {"protocol 255", request(255), EPROTONOSUPPORT},
        {"protocol 300", request(300), EPROTONOSUPPORT},
        {"protocol 65535", request(65535), EPROTONOSUPPORT},
        {"truncated", Bytes(valid.begin(), valid.begin() + 6), EINVAL},
        {"empty", Bytes(), EINVAL},
        {"one byte too many", oversized, EMSGSIZE},
        {"4096 bytes", huge, EMSGSIZE},
        {"wrong magic", badMagic, EINVAL},
        {"wrong version", badVersion, EINVAL},
    };
    auto helper = Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(helper->Send(c.bytes.data(), c.bytes.size()));
        auto answer = helper->Receive();
        EXPECT_TRUE(answer.received);
        EXPECT_EQ(answer.error, c.error);
        EXPECT_TRUE(answer.fds.empty());
        CloseAll(answer.fds);
        ASSERT_TRUE(helper->Running());
    }

    // A request that brings a descriptor along: refused, and the descriptor is
    // not kept (our pipe's read end sees the write end close only if the helper
    // closed its copy).
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    ASSERT_TRUE(helper->Send(valid.data(), valid.size(), pipeEnds[1]));
    ::close(pipeEnds[1]);
    auto answer = helper->Receive();
    EXPECT_TRUE(answer.received);
    EXPECT_EQ(answer.error, EINVAL);
    EXPECT_TRUE(answer.fds.empty());
    pollfd hangUp{pipeEnds[0], POLLIN, 0};
    EXPECT_EQ(::poll(&hangUp, 1, 15000), 1) << "the helper kept the descriptor it was sent";
    ::close(pipeEnds[0]);

    // A refusal drops every capability for good: the helper goes on answering,
    // but an allowed request now gets EPERM.
    EXPECT_EQ(helper->Status("CapPrm"), kNoCapabilities);
    answer = helper->Ask(253);
    EXPECT_TRUE(answer.received);
    EXPECT_EQ(answer.error, EPERM);
    EXPECT_TRUE(answer.fds.empty());
    CloseAll(answer.fds);
    EXPECT_TRUE(helper->Running());
}

TEST_F(HelperProgram, InheritedDescriptorsAreClosedAtStart)
{
    if (!Capable())
        GTEST_SKIP() << "needs root to read the descriptors of the helper's process";
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    auto helper = Start(pipeEnds[0]); // inherited as 7, without close-on-exec
    ::close(pipeEnds[0]);
    // Once it answers, it is past its start. The socket it passed is closed
    // after the answer goes out, so the second, refused request (which opens
    // nothing) is answered only once that has happened.
    auto answer = helper->Ask(253);
    ASSERT_TRUE(answer.received);
    CloseAll(answer.fds);
    answer = helper->Ask(6);
    ASSERT_TRUE(answer.received);
    EXPECT_EQ(answer.error, EPERM);
    std::set<std::string> open;
    const std::string folder = "/proc/" + std::to_string(helper->Pid()) + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    ASSERT_NE(dir, nullptr);
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            open.insert(entry->d_name);
    }
    ::closedir(dir);
    EXPECT_EQ(open, (std::set<std::string>{"0", "1", "2", "3"}));
    ::close(pipeEnds[1]);
}

TEST_F(HelperProgram, EveryWaitEnds)
{
    // The program closes its end: the helper leaves at once.
    {
        auto helper = Start();
        auto answer = helper->Ask(253);
        ASSERT_TRUE(answer.received);
        CloseAll(answer.fds);
        helper->CloseChannel();
        EXPECT_EQ(helper->WaitForExit(15s), 0);
    }
    // A program that stays silent: the helper leaves after ten quiet seconds.
    {
        const auto started = std::chrono::steady_clock::now();
        auto helper = Start();
        EXPECT_EQ(helper->WaitForExit(40s), 0);
        EXPECT_GE(std::chrono::steady_clock::now() - started, 9s);
    }
    // A program that never reads its answers: once the channel is full the
    // helper leaves (status 1) instead of waiting to send, or it reaches its
    // request limit first (status 0) where the system's queues are long.
    {
        auto helper = Start();
        std::uint8_t bad[3] = {1, 2, 3};
        int sent = 0;
        while (sent < 20000 && helper->Send(bad, sizeof bad))
            ++sent;
        const int status = helper->WaitForExit(30s);
        EXPECT_TRUE(status == 1 || status == 0) << status;
        EXPECT_LT(sent, 20000) << "the helper was still taking requests";
    }
}

TEST(HelperProgramByHand, WithoutItsChannelItRefusesToRun)
{
    rawsocktest::CChild byHand({rawsocktest::BuiltHelper()});
    EXPECT_EQ(byHand.Wait(15s), 2);
    EXPECT_NE(byHand.Err().find("started by the program"), std::string::npos) << byHand.Err();
    rawsocktest::CChild withArguments({rawsocktest::BuiltHelper(), "--open", "6"});
    EXPECT_EQ(withArguments.Wait(15s), 2);
}

} // namespace
