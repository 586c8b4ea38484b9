#include "ferrox/values/Time.h"

#include <cstdio>
#include <ctime>

_time_t _time_t::now()
{
    return _time_t(static_cast<std::int64_t>(std::time(nullptr)));
}

std::string _time_t::text() const
{
    std::time_t t = static_cast<std::time_t>(m_seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return std::to_string(m_seconds);
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%02d.%02d.%04d %02d:%02d:%02d", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);
    return buffer;
}
