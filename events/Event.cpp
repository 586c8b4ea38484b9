#include "events/Event.h"
#include "ferrox/values/TimeUnits.h"

#include "channel/PeerAddress.h"

#include <atomic>
#include <cstring>
#include <ctime>

namespace events {

namespace {

std::atomic<std::uint32_t> g_sequence{0};

// What a text that is no address reads as (inet_addr's INADDR_NONE).
constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

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
    return filetime_from_unix(static_cast<std::int64_t>(now.tv_sec) + cache.offset,
                              static_cast<unsigned>(now.tv_nsec / 1000000));
}

std::uint32_t AddressOfText(const char* text)
{
    if (text == nullptr || *text == '\0')
        return 0;
    // The program's one reading of an address text (decimal numbers).
    channel::PeerAddress record;
    return channel::ParseAddress(record, text) ? record.address : kNoAddress;
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
