#include "channel/ProbeMessages.h"

#include <algorithm>
#include <cstring>

namespace channel {

std::size_t TcpProbeSize(int sendDataSize)
{
    return std::clamp<std::size_t>(sendDataSize < 1 ? 1 : static_cast<std::size_t>(sendDataSize), 1,
                                   MaxProbeSize);
}

std::size_t DatagramProbeSize(int sendDataSize)
{
    const std::size_t wanted = sendDataSize < 0 ? 0 : static_cast<std::size_t>(sendDataSize);
    return std::clamp<std::size_t>(wanted, WordBytes, MaxProbeSize);
}

std::vector<char> BuildRequest(std::size_t size)
{
    std::vector<char> request(std::max(size, WordBytes), 0);
    std::memcpy(request.data(), ProbeWord.data(), ProbeWord.size());
    return request;
}

std::vector<char> BuildReply()
{
    std::vector<char> reply(WordBytes, 0);
    std::memcpy(reply.data(), ReplyWord.data(), ReplyWord.size());
    return reply;
}

std::size_t Ipv4PayloadOffset(const unsigned char* datagram, std::size_t length)
{
    if (datagram == nullptr || length < 20 || (datagram[0] >> 4) != 4)
        return length;
    const std::size_t headerLength = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
    if (headerLength < 20 || headerLength > length)
        return length;
    return headerLength;
}

bool PayloadHasWord(const char* payload, std::size_t length, std::string_view word)
{
    if (payload == nullptr || word.empty())
        return false;
    const char* end = static_cast<const char*>(std::memchr(payload, 0, length));
    const std::string_view text(payload, end ? static_cast<std::size_t>(end - payload) : length);
    return text.find(word) != std::string_view::npos;
}

bool RawDatagramHasWord(const void* datagram, std::size_t length, std::string_view word)
{
    if (datagram == nullptr)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(datagram);
    const std::size_t offset = Ipv4PayloadOffset(bytes, length);
    if (length - offset < word.size() + 1)
        return false;
    return PayloadHasWord(static_cast<const char*>(datagram) + offset, length - offset, word);
}

} // namespace channel
