#pragma once

// The route trace's records and the interface through which the route panes read
// them (implemented by CTraceRoute).

#include "loop/WindowTypes.h"

#include <cstdint>
#include <string>

namespace diag {

// Settings of a route trace; replaceable while it runs.
struct RouteSettings
{
    std::uint8_t Steps = 30;       // highest TTL tried: the most hops listed
    std::uint32_t TimeOut = 500;   // ms one echo call waits
    std::uint32_t Interval = 5000; // ms of pause between two complete traces of a target
    std::uint16_t Size = 32;       // bytes of request data
    // Whether a hop's name is looked up (kanaliko-cli trace --no-dns says no:
    // the names then stay empty).
    bool ResolveNames = true;
};

// One step of one target's route; counters and times add up over the passes.
struct HopRecord
{
    std::int32_t Step = 0;     // the TTL of this step, 1-based
    std::uint32_t Address = 0; // last host that answered here (network order); 0: none yet
    std::uint32_t Last = 0;    // ms, round-trip time of the last answer
    std::uint32_t Average = 0; // ms, ceiling((minimum + maximum) / 2)
    std::uint32_t Maximum = 0; // ms
    std::uint32_t Minimum = 0; // ms
    std::int32_t Sent = 0;     // requests sent at this step
    std::int32_t Lost = 0;     // requests at this step that got no answer
    std::uint32_t Status = 0;  // echo status of the last request here
    std::wstring Name;         // reverse look-up of the first answer; "-" when none;
                               // empty until the first answer
    // The last answer's round trip in microseconds (kernel time stamp); 0
    // until one answers.
    std::uint32_t LastMicroseconds = 0;
    // When the last request at this step was sent: microseconds since
    // 1970-01-01 UTC.
    std::int64_t SentTimeMicroseconds = 0;
};

// Route states.
inline constexpr std::int32_t ROUTE_BUILDING = 0;
inline constexpr std::int32_t ROUTE_BUILT = 1;
inline constexpr std::int32_t ROUTE_NOT_BUILT = -1;

struct RouteState
{
    std::int32_t State = ROUTE_BUILDING;
    std::uint8_t Steps = 0; // the step limit for which the state holds
};

// "Маршрут строится", "Маршрут построен", "Маршрут не построен"; empty for any
// other value.
std::wstring RouteStateText(std::int32_t state);

// What the route panes read. Called on the GUI thread after the posted messages;
// every read is safe while the workers append to or shorten a hop list.
class ITraceInfo
{
public:
    // Hop index is 0-based (step - 1). Null when out of range. The pointer refers
    // to a copy owned by the calling thread, valid until that thread's next
    // GetRecord or GetRecordByAddress.
    virtual const HopRecord* GetRecord(int target, int hop) = 0;
    virtual const HopRecord* GetRecordByAddress(std::string address, int hop) = 0;
    // The first target with that address; 0 for an address that is not a target.
    virtual int IndexOf(std::string address) = 0;
    virtual int GetRecordCount(int target) = 0;
    virtual RouteState GetRouteState(int target) = 0;
    // Windows for WM_ROUTE_STATE and WM_ROUTE_HOPS (null: none).
    virtual void SetStatisticsWindow(loop::HWND window) = 0;
    virtual void SetRecordsWindow(loop::HWND window) = 0;
    // The target's address (network order); 0xFFFFFFFF past the end.
    virtual std::uint32_t GetAddress(int target) = 0;
    virtual ~ITraceInfo() = default;
};

} // namespace diag
