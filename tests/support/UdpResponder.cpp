#include "support/UdpResponder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

int BoundSocket(const std::string& address, std::uint16_t port, std::uint16_t* boundPort)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("responder: no socket");
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = ::inet_addr(address.c_str());
    socklen_t length = sizeof local;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("responder: cannot bind " + address);
    }
    if (boundPort)
        *boundPort = ntohs(local.sin_port);
    return fd;
}

} // namespace

CUdpResponder::CUdpResponder(Reply reply, std::size_t replySize, const std::string& address,
                             std::uint16_t port)
    : m_reply(reply), m_replySize(replySize)
{
    m_socket = BoundSocket(address, port, &m_port);
    if (reply == Reply::OtherSocket)
        m_otherSocket = BoundSocket(address, 0, nullptr);
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("responder: no pipe");
    m_thread = std::thread([this] { Run(); });
}

CUdpResponder::~CUdpResponder()
{
    const char stop = 1;
    [[maybe_unused]] const auto written = ::write(m_stopPipe[1], &stop, 1);
    m_thread.join();
    for (int fd : {m_socket, m_otherSocket, m_stopPipe[0], m_stopPipe[1]})
        if (fd >= 0)
            ::close(fd);
}

void CUdpResponder::Run()
{
    std::vector<std::uint8_t> buffer(65536);
    const std::vector<std::uint8_t> answer(m_replySize, 0x5A);
    for (;;) {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents != 0)
            return;
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t n = ::recvfrom(m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&sender), &length);
        if (n < 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_datagrams.push_back({std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + n),
                                   ntohs(sender.sin_port), std::chrono::system_clock::now()});
        }
        if (m_reply == Reply::None)
            continue;
        const int from = m_reply == Reply::OtherSocket ? m_otherSocket : m_socket;
        ::sendto(from, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&sender),
                 sizeof sender);
    }
}

std::vector<CUdpResponder::Datagram> CUdpResponder::Datagrams() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_datagrams;
}

bool CUdpResponder::WaitForDatagrams(std::size_t count, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_datagrams.size() >= count)
                return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace testsupport
