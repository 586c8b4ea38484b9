#include "events/Event.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <ctime>

namespace events {

namespace {

std::atomic<std::uint32_t> g_sequence{0};

// Seconds from 1601-01-01 (FILETIME's origin) to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600LL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kTicksPerMillisecond = 10000ULL;

} // namespace

std::uint32_t NextEventSequence()
{
    return g_sequence.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t LocalFileTimeNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // The offset from UTC is looked up once per second and thread: localtime_r
    // takes the time-zone lock, and events come by the thousand per second.
    struct OffsetCache
    {
        time_t second = -1;
        long offset = 0;
    };
    thread_local OffsetCache cache;
    if (cache.second != now.tv_sec) {
        tm local{};
        localtime_r(&now.tv_sec, &local);
        cache.second = now.tv_sec;
        cache.offset = local.tm_gmtoff;
    }
    const std::int64_t seconds =
        static_cast<std::int64_t>(now.tv_sec) + cache.offset + kEpochDifference;
    const std::uint64_t milliseconds = static_cast<std::uint64_t>(now.tv_nsec) / 1000000ULL;
    return static_cast<std::uint64_t>(seconds) * kTicksPerSecond +
           milliseconds * kTicksPerMillisecond;
}

namespace {

// The common spelling, four plain decimal numbers up to 255, read without the C
// library (which takes several strtoul calls per address); false for anything
// else, which inet_addr then reads with all its rules (octal, hex, fewer parts).
bool ParsePlainDottedQuad(const char* text, std::uint32_t& address)
{
    std::uint8_t bytes[4];
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (*p < '0' || *p > '9')
            return false;
        if (*p == '0' && p[1] >= '0' && p[1] <= '9')
            return false; // a leading zero means octal to inet_addr
        unsigned value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + static_cast<unsigned>(*p++ - '0');
            if (++digits > 3)
                return false;
        }
        if (value > 255)
            return false;
        bytes[part] = static_cast<std::uint8_t>(value);
        if (part < 3 && *p++ != '.')
            return false;
    }
    if (*p != '\0')
        return false;
    std::memcpy(&address, bytes, sizeof(address)); // network order: first number first
    return true;
}

} // namespace

std::uint32_t AddressOfText(const char* text)
{
    if (text == nullptr || *text == '\0')
        return 0;
    std::uint32_t address = 0;
    if (ParsePlainDottedQuad(text, address))
        return address;
    return static_cast<std::uint32_t>(::inet_addr(text));
}

void CopyAddressText(char (&field)[EVENT_ADDRESS_TEXT_SIZE], const char* text)
{
    std::size_t length = text ? strnlen(text, EVENT_ADDRESS_TEXT_SIZE - 1) : 0;
    if (length > 0)
        std::memcpy(field, text, length);
    std::memset(field + length, 0, EVENT_ADDRESS_TEXT_SIZE - length);
}

Event MakeEvent(int status, int code, std::uint32_t detail, int protocol, const char* senderText,
                const char* receiverText, std::uint16_t senderPort, std::uint16_t receiverPort)
{
    Event e;
    e.status = status;
    e.description = code;
    e.protocol = protocol;
    CopyAddressText(e.senderText, senderText);
    CopyAddressText(e.receiverText, receiverText);
    e.senderAddress = AddressOfText(e.senderText);
    e.receiverAddress = AddressOfText(e.receiverText);
    e.senderPort = senderPort;
    e.receiverPort = receiverPort;
    e.time = LocalFileTimeNow();
    e.detail = detail;
    return e;
}

} // namespace events
