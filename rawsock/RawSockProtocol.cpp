#include "rawsock/RawSockProtocol.h"

#include <cerrno>
#include <cstring>

namespace rawsock {

namespace {

constexpr int kMinProtocol = 1;
constexpr int kMaxProtocol = 254; // 0 is refused by the system; 255 is send-only
constexpr int kRefused[] = {6, 17, 33, 132, 136};

template <typename T>
T Read(const std::uint8_t* data, std::size_t offset)
{
    T value;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
}

template <typename T>
void Write(std::uint8_t* data, std::size_t offset, T value)
{
    std::memcpy(data + offset, &value, sizeof value);
}

} // namespace

bool ProtocolAllowed(int protocol)
{
    if (protocol < kMinProtocol || protocol > kMaxProtocol)
        return false;
    for (int refused : kRefused) {
        if (protocol == refused)
            return false;
    }
    return true;
}

RequestVerdict ParseRequest(const std::uint8_t* data, std::size_t length)
{
    if (length > kRequestSize)
        return {EMSGSIZE, 0};
    if (length < kRequestSize || data == nullptr)
        return {EINVAL, 0};
    if (Read<std::uint32_t>(data, 0) != kRequestMagic || Read<std::uint16_t>(data, 4) != kVersion)
        return {EINVAL, 0};
    const int protocol = Read<std::uint16_t>(data, 6);
    if (protocol < kMinProtocol || protocol > kMaxProtocol)
        return {EPROTONOSUPPORT, 0};
    if (!ProtocolAllowed(protocol))
        return {EPERM, 0};
    return {0, protocol};
}

void EncodeRequest(int protocol, std::uint8_t (&out)[kRequestSize])
{
    Write<std::uint32_t>(out, 0, kRequestMagic);
    Write<std::uint16_t>(out, 4, kVersion);
    Write<std::uint16_t>(out, 6, static_cast<std::uint16_t>(protocol));
}

void EncodeAnswer(int error, std::uint8_t (&out)[kAnswerSize])
{
    Write<std::uint32_t>(out, 0, kAnswerMagic);
    Write<std::int32_t>(out, 4, static_cast<std::int32_t>(error));
}

bool ParseAnswer(const std::uint8_t* data, std::size_t length, int* error)
{
    if (length != kAnswerSize || data == nullptr || Read<std::uint32_t>(data, 0) != kAnswerMagic)
        return false;
    const std::int32_t value = Read<std::int32_t>(data, 4);
    if (value < 0)
        return false;
    if (error)
        *error = value;
    return true;
}

} // namespace rawsock
