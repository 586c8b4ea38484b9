#pragma once

// The conversions between time units and the system's time records, in one
// place: milliseconds, struct timeval, struct timespec and nanoseconds, the
// local time with its milliseconds, and FILETIME values (100-nanosecond ticks
// since 1601-01-01, the form in which an event keeps its local time). Header
// only: nothing here crosses the library's boundary.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <sys/time.h>

// Milliseconds as a struct timeval; a negative count is none.
constexpr timeval timeval_from_ms(std::int64_t ms)
{
    const std::int64_t at = ms < 0 ? 0 : ms;
    return timeval{static_cast<time_t>(at / 1000), static_cast<suseconds_t>((at % 1000) * 1000)};
}

// A struct timeval as a duration; negative fields count as 0.
constexpr std::chrono::microseconds duration_of_timeval(const timeval& value)
{
    return std::chrono::seconds(value.tv_sec < 0 ? 0 : value.tv_sec) +
           std::chrono::microseconds(value.tv_usec < 0 ? 0 : value.tv_usec);
}

constexpr std::int64_t ns_of_timespec(const timespec& value)
{
    return static_cast<std::int64_t>(value.tv_sec) * 1000000000 + value.tv_nsec;
}

constexpr timespec timespec_from_ns(std::int64_t ns)
{
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// The clock's present time in nanoseconds (CLOCK_REALTIME for the wall clock).
inline std::int64_t clock_ns(clockid_t clock = CLOCK_REALTIME)
{
    timespec now{};
    ::clock_gettime(clock, &now);
    return ns_of_timespec(now);
}

// The local wall-clock time now, with its milliseconds.
struct local_time_ms_t
{
    std::tm tm{};
    int milliseconds = 0;
};
inline local_time_ms_t local_time_now()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    local_time_ms_t out;
    localtime_r(&now.tv_sec, &out.tm);
    out.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
    return out;
}

// FILETIME: 100-nanosecond ticks since 1601-01-01 00:00, 11644473600 seconds
// (134774 days) before the C runtime's 1970-01-01.
constexpr std::int64_t filetime_epoch_seconds = 11644473600LL;
constexpr std::uint64_t filetime_ticks_per_ms = 10000ULL;

// A FILETIME value from seconds since 1970-01-01 (of whatever clock: the
// program's are local time) and milliseconds.
constexpr std::uint64_t filetime_from_unix(std::int64_t seconds, unsigned milliseconds)
{
    return (static_cast<std::uint64_t>(seconds + filetime_epoch_seconds) * 1000ULL + milliseconds) *
           filetime_ticks_per_ms;
}

// A FILETIME value taken apart. FILETIME's origin is a midnight, so the time
// of day is plain arithmetic; unix_day counts days since 1970-01-01.
struct filetime_parts_t
{
    std::int64_t unix_day = 0;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    unsigned millisecond = 0;
};
constexpr filetime_parts_t filetime_parts(std::uint64_t fileTime)
{
    const std::uint64_t ms = fileTime / filetime_ticks_per_ms;
    const std::uint64_t seconds = ms / 1000ULL;
    filetime_parts_t parts;
    parts.unix_day = static_cast<std::int64_t>(seconds / 86400ULL) - filetime_epoch_seconds / 86400;
    parts.hour = static_cast<unsigned>((seconds / 3600ULL) % 24ULL);
    parts.minute = static_cast<unsigned>((seconds / 60ULL) % 60ULL);
    parts.second = static_cast<unsigned>(seconds % 60ULL);
    parts.millisecond = static_cast<unsigned>(ms % 1000ULL);
    return parts;
}
