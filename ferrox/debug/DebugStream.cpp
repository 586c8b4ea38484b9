#include "ferrox/debug/DebugStream.h"
#include "ferrox/values/TimeUnits.h"

#include "ferrox/strings/Strings.h"
#include "ferrox/system/Paths.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <sys/time.h>

namespace {

// The Error stream's log: error.log in the program's state folder, or the path
// in FERROX_ERROR_LOG. Resolved at each write.
class TErrorLogWriter final : public TFileWriter
{
public:
    TErrorLogWriter() : TFileWriter(std::string()) {}
    std::string Path() const override { return ferrox_error_log_path(); }
};


} // namespace

std::string ferrox_error_log_path()
{
    if (const char* path = std::getenv("FERROX_ERROR_LOG"); path && *path)
        return path;
    return ferrox_state_folder() + "/error.log";
}

std::string now()
{
    local_time_ms_t t = local_time_now();
    char buffer[64];
    std::strftime(buffer, sizeof(buffer), "%d.%m.%y %H:%M:%S ", &t.tm);
    return buffer;
}

TDebugStream Debug(SmartPtr<TStreamWriter>(new TDebugWriter));
TDebugStream Console(SmartPtr<TStreamWriter>(new TConsoleWriter(false)));
TDebugStream Error(SmartPtr<TStreamWriter>(new TErrorLogWriter),
                   SmartPtr<TStreamWriter>(new TConsoleWriter(false)),
                   SmartPtr<TStreamWriter>(new TDebugWriter));

// ---- TDebugStream ----

TDebugStream::TDebugStream() = default;

TDebugStream::TDebugStream(SmartPtr<TStreamWriter> w1)
{
    AddWriter(w1);
}

TDebugStream::TDebugStream(SmartPtr<TStreamWriter> w1, SmartPtr<TStreamWriter> w2)
{
    AddWriter(w1);
    AddWriter(w2);
}

TDebugStream::TDebugStream(SmartPtr<TStreamWriter> w1, SmartPtr<TStreamWriter> w2,
                           SmartPtr<TStreamWriter> w3)
{
    AddWriter(w1);
    AddWriter(w2);
    AddWriter(w3);
}

TDebugStream::TDebugStream(const TDebugStream& other)
{
    TLockGuard<TMutex> lock(other.m_lock);
    m_writers = other.m_writers;
    m_writerCount = static_cast<int>(m_writers.size());
    m_atLineStart = other.m_atLineStart;
    m_timeStamps = other.m_timeStamps.load();
    m_channels = other.m_channels.load();
    m_lastDay = other.m_lastDay;
}

TDebugStream& TDebugStream::operator=(const TDebugStream& other)
{
    if (this == &other)
        return *this;
    std::vector<SmartPtr<TStreamWriter>> writers;
    bool atLineStart;
    std::uint16_t lastDay;
    {
        TLockGuard<TMutex> lock(other.m_lock);
        writers = other.m_writers;
        atLineStart = other.m_atLineStart;
        lastDay = other.m_lastDay;
    }
    TLockGuard<TMutex> lock(m_lock);
    m_writers = std::move(writers);
    m_writerCount = static_cast<int>(m_writers.size());
    m_atLineStart = atLineStart;
    m_lastDay = lastDay;
    m_timeStamps = other.m_timeStamps.load();
    m_channels = other.m_channels.load();
    return *this;
}

TDebugStream::~TDebugStream() = default;

void TDebugStream::AddWriter(SmartPtr<TStreamWriter> writer)
{
    if (!writer)
        return;
    TLockGuard<TMutex> lock(m_lock);
    m_writers.push_back(writer);
    m_writerCount = static_cast<int>(m_writers.size());
}

void TDebugStream::RemoveWriter(SmartPtr<TStreamWriter> writer)
{
    TLockGuard<TMutex> lock(m_lock);
    auto it =
        std::find_if(m_writers.begin(), m_writers.end(),
                     [&](const SmartPtr<TStreamWriter>& w) { return w.get() == writer.get(); });
    if (it != m_writers.end())
        m_writers.erase(it);
    m_writerCount = static_cast<int>(m_writers.size());
}

void TDebugStream::ChangeWriter(SmartPtr<TStreamWriter> writer)
{
    TLockGuard<TMutex> lock(m_lock);
    ClearWriters();
    AddWriter(writer);
}

void TDebugStream::ClearWriters()
{
    TLockGuard<TMutex> lock(m_lock);
    m_writers.clear();
    m_writerCount = 0;
}

TDebugStream& TDebugStream::operator+=(const TDebugStream& other)
{
    if (this == &other) {
        TLockGuard<TMutex> lock(m_lock);
        std::vector<SmartPtr<TStreamWriter>> copy = m_writers;
        m_writers.insert(m_writers.end(), copy.begin(), copy.end());
        m_writerCount = static_cast<int>(m_writers.size());
        return *this;
    }
    // Both locks, always in address order, so two streams added to each other
    // from two threads cannot deadlock.
    TMutex* first = &m_lock < &other.m_lock ? &m_lock : &other.m_lock;
    TMutex* second = first == &m_lock ? &other.m_lock : &m_lock;
    TLockGuard<TMutex> lock1(*first);
    TLockGuard<TMutex> lock2(*second);
    m_writers.insert(m_writers.end(), other.m_writers.begin(), other.m_writers.end());
    m_writerCount = static_cast<int>(m_writers.size());
    return *this;
}

bool TDebugStream::GetEnabled() const
{
    return m_writerCount.load(std::memory_order_relaxed) > 0;
}

bool TDebugStream::GetEnabled(char channel) const
{
    if (channel < 'A' || channel > 'Z')
        throw std::out_of_range("invalid bitset position");
    return GetEnabled() && (m_channels.load() & (1u << (channel - 'A'))) != 0;
}

void TDebugStream::SetEnabled(char channel, bool enabled)
{
    if (channel < 'A' || channel > 'Z')
        throw std::out_of_range("invalid bitset position");
    const std::uint32_t bit = 1u << (channel - 'A');
    if (enabled)
        m_channels.fetch_or(bit);
    else
        m_channels.fetch_and(~bit);
}

std::string TDebugStream::now2()
{
    local_time_ms_t t = local_time_now();
    char buffer[64];
    const auto day = static_cast<std::uint16_t>(t.tm.tm_mday);
    if (day != m_lastDay) {
        m_lastDay = day;
        std::snprintf(buffer, sizeof(buffer), "%02hd.%02hd.%04hd\n%02hd:%02hd:%02hd.%03hd ",
                      static_cast<short>(t.tm.tm_mday), static_cast<short>(t.tm.tm_mon + 1),
                      static_cast<short>(t.tm.tm_year + 1900), static_cast<short>(t.tm.tm_hour),
                      static_cast<short>(t.tm.tm_min), static_cast<short>(t.tm.tm_sec),
                      static_cast<short>(t.milliseconds));
    } else {
        std::snprintf(buffer, sizeof(buffer), "%02hd:%02hd:%02hd.%03hd ",
                      static_cast<short>(t.tm.tm_hour), static_cast<short>(t.tm.tm_min),
                      static_cast<short>(t.tm.tm_sec), static_cast<short>(t.milliseconds));
    }
    return buffer;
}

std::vector<SmartPtr<TStreamWriter>> TDebugStream::snapshot() const
{
    TLockGuard<TMutex> lock(m_lock);
    return m_writers;
}

TDebugStream& TDebugStream::WriteString(const char* text, unsigned length)
{
    if (text == nullptr || length == 0)
        return *this;
    TLockGuard<TMutex> lock(m_lock);
    std::string decorated;
    if (m_timeStamps) {
        decorated.reserve(length + 32);
        if (m_atLineStart) {
            decorated += now2();
            m_atLineStart = false;
        }
        for (unsigned i = 0; i < length; ++i) {
            decorated += text[i];
            if (text[i] == '\n') {
                if (i + 1 < length)
                    decorated += now2();
                else
                    m_atLineStart = true;
            }
        }
        text = decorated.c_str();
        length = static_cast<unsigned>(decorated.size());
    }
    // Writers get a zero-terminated copy: some of them ignore the length.
    std::string terminated;
    if (decorated.empty()) {
        terminated.assign(text, length);
        text = terminated.c_str();
    }
    for (std::size_t i = 0; i < m_writers.size();) {
        try {
            m_writers[i]->StreamWriteString(text, length);
            ++i;
        } catch (...) {
            // A failing writer is dropped; the others still get the text.
            m_writers.erase(m_writers.begin() + static_cast<std::ptrdiff_t>(i));
            m_writerCount = static_cast<int>(m_writers.size());
        }
    }
    return *this;
}

TDebugStream& TDebugStream::printf(const char* format, ...)
{
    if (format == nullptr)
        return *this;
    char buffer[4096];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n < 0)
        return *this;
    unsigned length = static_cast<unsigned>(std::min(n, 4095));
    return WriteString(buffer, length);
}

TDebugStreamSession TDebugStream::WriteDouble(double value)
{
    TDebugStreamSession session(*this);
    printf("%g", value);
    return session;
}

TDebugStreamSession TDebugStream::Dump(const void* data, int length)
{
    TDebugStreamSession session(*this);
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (bytes && length > 0) {
        std::string text;
        text.reserve(static_cast<std::size_t>(length) * 3);
        char hex[4];
        for (int i = 0; i < length; ++i) {
            std::snprintf(hex, sizeof(hex), i + 1 < length ? "%02X " : "%02X", bytes[i]);
            text += hex;
        }
        WriteString(text);
    }
    return session;
}

// ---- TDebugStreamSession ----

TDebugStreamSession::TDebugStreamSession(TDebugStream& stream) : m_stream(&stream)
{
    m_stream->m_lock.Lock();
}

TDebugStreamSession::TDebugStreamSession(const TDebugStreamSession& other)
    : m_stream(other.m_stream)
{
    m_stream->m_lock.Lock();
}

TDebugStreamSession::~TDebugStreamSession()
{
    m_stream->m_lock.Unlock();
}

TDebugStreamSession& TDebugStreamSession::operator<<(const char* text)
{
    m_stream->WriteString(text ? std::string(text) : std::string("<null>"));
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(const wchar_t* text)
{
    m_stream->WriteString(text ? as_string(text, CP_ACP) : std::string("<null>"));
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(const std::string& text)
{
    m_stream->WriteString(text);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(const basic_const_string<char>& text)
{
    m_stream->WriteString(text.data(), static_cast<unsigned>(text.size()));
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(const std::wstring& text)
{
    m_stream->WriteString(as_string(text, CP_ACP));
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(const basic_const_string<wchar_t>& text)
{
    m_stream->WriteString(as_string(text, CP_ACP));
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(char c)
{
    m_stream->WriteString(&c, 1);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(int value)
{
    m_stream->printf("%d", value);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(unsigned int value)
{
    m_stream->printf("%u", value);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(unsigned long value)
{
    m_stream->printf("%lu", value);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(unsigned char value)
{
    m_stream->printf("%u", static_cast<unsigned>(value));
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(unsigned short value)
{
    m_stream->printf("%u", static_cast<unsigned>(value));
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(bool value)
{
    m_stream->printf("%d", value ? 1 : 0);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(double value)
{
    m_stream->printf("%g", value);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(long long value)
{
    m_stream->printf("%lld", value);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(unsigned long long value)
{
    m_stream->printf("%llu", value);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(long value)
{
    m_stream->printf("%ld", value);
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(const _bstr_t& text)
{
    m_stream->WriteString(text.str());
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(const _time_t& time)
{
    m_stream->WriteString(time.text());
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(const _value_t& value)
{
    if (value.empty() || (!value.container() && value.size() == 0))
        m_stream->WriteString(std::string("<void>"));
    else if (value.container() && value.size() == 0)
        m_stream->WriteString(std::string("<empty>"));
    else
        m_stream->printf("%s", value.as_string().c_str());
    return *this;
}

TDebugStreamSession& TDebugStreamSession::operator<<(const SmartPtrObj* object)
{
    m_stream->WriteString(object ? object->GetDescription() : std::string("<NULL>"));
    return *this;
}
