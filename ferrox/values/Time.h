#pragma once

#include "ferrox/FerroxApi.h"

#include <cstdint>
#include <string>

// A point in time as whole seconds since 1970-01-01 UTC (the C runtime's 64-bit
// time value). Its text form is the local time "dd.mm.yyyy hh:mm:ss".
class FERROX_API _time_t
{
public:
    _time_t() = default;
    explicit _time_t(std::int64_t seconds) : m_seconds(seconds) {}
    static _time_t now();

    std::int64_t value() const { return m_seconds; }
    std::string text() const;
    bool operator==(const _time_t& other) const { return m_seconds == other.m_seconds; }

private:
    std::int64_t m_seconds = 0;
};
