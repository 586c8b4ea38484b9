#pragma once

#include "ferrox/FerroxApi.h"
#include "ferrox/debug/StreamWriters.h"
#include "ferrox/strings/Bstr.h"
#include "ferrox/strings/ConstString.h"
#include "ferrox/sync/Mutex.h"
#include "ferrox/threads/SmartPtr.h"
#include "ferrox/values/Time.h"
#include "ferrox/values/Value.h"

#include <atomic>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

class TDebugStreamSession;

// A named destination of diagnostic text: every piece written goes, under the
// stream's lock, to each of its writers in order. A stream without writers is
// switched off (GetEnabled() is false); callers check that before they format.
class FERROX_API TDebugStream
{
public:
    TDebugStream();
    explicit TDebugStream(SmartPtr<TStreamWriter> w1);
    TDebugStream(SmartPtr<TStreamWriter> w1, SmartPtr<TStreamWriter> w2);
    TDebugStream(SmartPtr<TStreamWriter> w1, SmartPtr<TStreamWriter> w2,
                 SmartPtr<TStreamWriter> w3);
    TDebugStream(const TDebugStream& other);
    TDebugStream& operator=(const TDebugStream& other);
    ~TDebugStream();

    void AddWriter(SmartPtr<TStreamWriter> writer);
    void RemoveWriter(SmartPtr<TStreamWriter> writer);
    void ChangeWriter(SmartPtr<TStreamWriter> writer);
    void ClearWriters();
    TDebugStream& operator+=(const TDebugStream& other);

    bool GetEnabled() const;
    // Channel 'A'..'Z': enabled when the stream is and the channel's bit is set.
    // Another character raises std::out_of_range.
    bool GetEnabled(char channel) const;
    void SetEnabled(char channel, bool enabled);

    void SetTimeStamps(bool on) { m_timeStamps = on; }
    bool GetTimeStamps() const { return m_timeStamps; }

    TDebugStream& WriteString(const char* text, unsigned length);
    TDebugStream& WriteString(const std::string& text)
    {
        return WriteString(text.c_str(), static_cast<unsigned>(text.size()));
    }
    // At most 4095 characters; a longer result is cut.
    TDebugStream& printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    TDebugStreamSession WriteDouble(double value);
    // "%02X " per byte, the last without the blank.
    TDebugStreamSession Dump(const void* data, int length);

    // The lock that a session holds; recursive, so a session may write freely.
    TMutex& Lock() const { return m_lock; }

    // The time stamp "hh:mm:ss.mmm ", preceded by "dd.mm.yyyy\n" on a new day.
    std::string now2();

private:
    friend class TDebugStreamSession;
    std::vector<SmartPtr<TStreamWriter>> snapshot() const;

    std::vector<SmartPtr<TStreamWriter>> m_writers;
    mutable TMutex m_lock;
    bool m_atLineStart = true;
    std::atomic<bool> m_timeStamps{false};
    std::atomic<std::uint32_t> m_channels{0}; // bit i: channel 'A' + i
    std::atomic<int> m_writerCount{0};
    std::uint16_t m_lastDay = 0;
};

// Holds the stream's lock from construction to destruction, so everything written
// through one session reaches the writers as one unbroken piece. Do not keep a
// session alive while waiting for another thread that writes to the same stream.
class FERROX_API TDebugStreamSession
{
public:
    explicit TDebugStreamSession(TDebugStream& stream);
    TDebugStreamSession(const TDebugStreamSession& other);
    TDebugStreamSession& operator=(const TDebugStreamSession&) = delete;
    ~TDebugStreamSession();

    TDebugStream& Stream() const { return *m_stream; }

    TDebugStreamSession& operator<<(const char* text);
    TDebugStreamSession& operator<<(const wchar_t* text);
    TDebugStreamSession& operator<<(const std::string& text);
    TDebugStreamSession& operator<<(const basic_const_string<char>& text);
    TDebugStreamSession& operator<<(const std::wstring& text);
    TDebugStreamSession& operator<<(const basic_const_string<wchar_t>& text);
    TDebugStreamSession& operator<<(char c);
    TDebugStreamSession& operator<<(int value);
    TDebugStreamSession& operator<<(unsigned int value);
    TDebugStreamSession& operator<<(unsigned long value);
    TDebugStreamSession& operator<<(unsigned char value);
    TDebugStreamSession& operator<<(unsigned short value);
    TDebugStreamSession& operator<<(bool value);
    TDebugStreamSession& operator<<(double value);
    TDebugStreamSession& operator<<(long long value);
    TDebugStreamSession& operator<<(unsigned long long value);
    TDebugStreamSession& operator<<(long value);
    TDebugStreamSession& operator<<(const _bstr_t& text);
    TDebugStreamSession& operator<<(const _time_t& time);
    TDebugStreamSession& operator<<(const _value_t& value);
    TDebugStreamSession& operator<<(const SmartPtrObj* object);

private:
    TDebugStream* m_stream;
};

// The three process-wide streams. Debug: the debugger writer. Console: a silent
// console writer. Error: error.log in the state folder (or $FERROX_ERROR_LOG), a
// silent console writer and the debugger writer.
FERROX_API extern TDebugStream Debug;
FERROX_API extern TDebugStream Error;
FERROX_API extern TDebugStream Console;

// The path of the Error stream's log file.
FERROX_API std::string ferrox_error_log_path();
// "dd.mm.yy hh:mm:ss " of the local time.
FERROX_API std::string now();
