#pragma once

// Small helpers for tests that use the socket layer on loopback. Header-only, so
// the tests of the loop layer can use them as well.

#include "platform/Sockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace testsupport {

inline sockaddr_in Ipv4Address(const char* dotted, std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, dotted, &address.sin_addr);
    return address;
}

inline sockaddr_in Loopback(std::uint16_t port = 0)
{
    return Ipv4Address("127.0.0.1", port);
}

inline const sockaddr* AsSockaddr(const sockaddr_in& address)
{
    return reinterpret_cast<const sockaddr*>(&address);
}

// The local port of a bound socket (0 when it cannot be read).
inline std::uint16_t LocalPort(platform::SOCKET s)
{
    sockaddr_in address{};
    int length = sizeof address;
    if (platform::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

// Closes a socket of the layer when it goes out of scope.
class CSocketGuard
{
public:
    explicit CSocketGuard(platform::SOCKET s = platform::INVALID_SOCKET) : m_socket(s) {}
    ~CSocketGuard() { Reset(); }
    CSocketGuard(CSocketGuard&& other) noexcept
        : m_socket(std::exchange(other.m_socket, platform::INVALID_SOCKET))
    {}
    CSocketGuard& operator=(CSocketGuard&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_socket = std::exchange(other.m_socket, platform::INVALID_SOCKET);
        }
        return *this;
    }
    CSocketGuard(const CSocketGuard&) = delete;
    CSocketGuard& operator=(const CSocketGuard&) = delete;

    platform::SOCKET Get() const { return m_socket; }
    operator platform::SOCKET() const { return m_socket; }
    // Gives the socket up without closing it (the test closed it itself).
    platform::SOCKET Release() { return std::exchange(m_socket, platform::INVALID_SOCKET); }
    void Reset()
    {
        if (m_socket != platform::INVALID_SOCKET)
            platform::closesocket(std::exchange(m_socket, platform::INVALID_SOCKET));
    }

private:
    platform::SOCKET m_socket;
};

// A UDP socket bound to 127.0.0.1 on an ephemeral port.
inline CSocketGuard BoundUdp()
{
    CSocketGuard s(platform::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    const sockaddr_in address = Loopback();
    if (s.Get() != platform::INVALID_SOCKET)
        platform::bind(s, AsSockaddr(address), sizeof address);
    return s;
}

// A TCP socket listening on 127.0.0.1 on an ephemeral port.
inline CSocketGuard ListeningTcp()
{
    CSocketGuard s(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in address = Loopback();
    if (s.Get() != platform::INVALID_SOCKET &&
        platform::bind(s, AsSockaddr(address), sizeof address) == 0)
        platform::listen(s, SOMAXCONN);
    return s;
}

// A loopback UDP port that nobody listens on: bound once to learn a free
// ephemeral port, then closed again.
inline std::uint16_t ClosedUdpPort()
{
    CSocketGuard s = BoundUdp();
    return LocalPort(s);
}

// A loopback TCP port that nobody listens on.
inline std::uint16_t ClosedTcpPort()
{
    CSocketGuard s(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in address = Loopback();
    platform::bind(s, AsSockaddr(address), sizeof address);
    return LocalPort(s);
}

// A blocking TCP connection to a loopback port.
inline CSocketGuard ConnectedTcp(std::uint16_t port)
{
    CSocketGuard s(platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in address = Loopback(port);
    platform::connect(s, AsSockaddr(address), sizeof address);
    return s;
}

// Sets a Winsock time-out option (milliseconds).
inline int SetTimeout(platform::SOCKET s, int option, platform::DWORD milliseconds)
{
    return platform::setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds),
                                sizeof milliseconds);
}

// The lowest descriptor number that is free now: the one the next socket gets.
inline int LowestFreeDescriptor()
{
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
    return fd;
}

// Sets the process's soft descriptor limit for the life of the object and puts
// the old one back at the end.
class CDescriptorLimit
{
public:
    explicit CDescriptorLimit(rlim_t soft)
    {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        rlimit changed = m_saved;
        changed.rlim_cur = std::min(soft, m_saved.rlim_max);
        m_set = ::setrlimit(RLIMIT_NOFILE, &changed) == 0;
    }
    // No descriptor number is free below the limit: the next descriptor the
    // process asks for fails with EMFILE until one is closed.
    static rlim_t Exhausted() { return static_cast<rlim_t>(LowestFreeDescriptor()); }
    // Whatever the hard limit allows, as the front end does.
    static rlim_t Highest()
    {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        return limit.rlim_max;
    }
    ~CDescriptorLimit() { Restore(); }
    CDescriptorLimit(const CDescriptorLimit&) = delete;
    CDescriptorLimit& operator=(const CDescriptorLimit&) = delete;

    bool Set() const { return m_set; }
    void Restore()
    {
        if (m_set)
            ::setrlimit(RLIMIT_NOFILE, &m_saved);
        m_set = false;
    }

private:
    rlimit m_saved{};
    bool m_set = false;
};

} // namespace testsupport
