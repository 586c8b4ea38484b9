#include "support/FreePorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

std::uint16_t FreePort(int type)
{
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0)
        throw std::runtime_error("no socket for a free port");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof(address);
    const bool found = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    if (!found)
        throw std::runtime_error("no free port");
    return ntohs(address.sin_port);
}

} // namespace testsupport
