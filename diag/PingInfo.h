#pragma once

// The echo request's records and the interface through which the echo panes read
// them (implemented by CPing).

#include "loop/WindowTypes.h"

#include <cstdint>
#include <string>

namespace diag {

// Settings of an echo request run; replaceable while it runs.
struct EchoSettings
{
    std::uint8_t Ttl = 200;           // time to live of the requests
    std::uint32_t TimeOut = 500;      // ms one echo call waits for its reply
    std::uint32_t Interval = 1000;    // ms between two requests to one target
    std::string Source;               // dotted source address; empty: the system chooses
    std::uint16_t Size = 32;          // bytes of request data
    std::uint32_t RecordLimit = 1000; // most results kept per target
    // Requests per target, after which its worker ends (a bounded run, as
    // kanaliko-cli ping --count makes); 0: until the engine is stopped.
    std::uint32_t RequestLimit = 0;
};

// One result.
struct EchoRecord
{
    std::int64_t SentTime = 0;       // seconds since 1970-01-01 UTC, just before the call
    std::uint32_t Status = 0;        // echo status, 0 = success
    std::uint32_t RoundTripTime = 0; // ms, whole (truncated), as the texts show it
    std::uint32_t Size = 0;          // the request data length used
    std::uint8_t Ttl = 0;            // the request's TTL (not the reply's)
    // The same round trip in microseconds (kernel time stamp); 0 when lost.
    std::uint32_t RoundTripMicroseconds = 0;
    // Which request of its target this was: 1 for the first (the sent count
    // after it), so a reader can tell new results from ones already seen.
    std::uint32_t Sequence = 0;
    // SentTime with microseconds: microseconds since 1970-01-01 UTC.
    std::int64_t SentTimeMicroseconds = 0;
};

// Running counters of one target, in ms where they are times. The minimum starts
// at 1000 ms (not at the time-out); a lost request enters with round-trip time 0.
struct EchoStatistics
{
    std::uint32_t Sent = 0;
    std::uint32_t Received = 0;
    std::uint32_t Lost = 0;
    std::uint32_t Average = 0; // ceiling((minimum + maximum) / 2)
    std::uint32_t Minimum = 1000;
    std::uint32_t Maximum = 0;
};

// What the echo panes read. Called on the GUI thread after the posted messages;
// every read is safe while the workers append (each target's data is read under
// its lock).
class IPingInfo
{
public:
    // The result at that index of the target's list, in storage order (once the
    // list is full it is a ring: index 0 is then not the oldest result). Null for
    // an index out of range. The pointer refers to a copy owned by the calling
    // thread, valid until that thread's next GetRecord or GetRecordByAddress.
    virtual const EchoRecord* GetRecord(int target, int index) = 0;
    virtual const EchoRecord* GetRecordByAddress(std::string address, int index) = 0;
    // The first target with that address; 0 for an address that is not a target.
    virtual int IndexOf(std::string address) = 0;
    virtual int GetRecordCount(int target) = 0;
    virtual EchoStatistics GetStatistics(int target) = 0;
    // Windows for WM_ECHO_STATISTICS and WM_ECHO_RECORDS (null: none).
    virtual void SetStatisticsWindow(loop::HWND window) = 0;
    virtual void SetRecordsWindow(loop::HWND window) = 0;
    // The target's address (network order); 0xFFFFFFFF past the end.
    virtual std::uint32_t GetAddress(int target) = 0;
    // The result at that place in time order: 0 is the oldest stored result,
    // GetRecordCount - 1 the newest, whether or not the list has become a ring.
    // Null out of range; the pointer is valid as GetRecord's.
    virtual const EchoRecord* GetRecordInOrder(int target, int position) = 0;
    virtual ~IPingInfo() = default;
};

} // namespace diag
