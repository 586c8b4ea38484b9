#pragma once

// Echo and route engines for the panes' tests: the results, counters, hops and
// states a test writes, served through IPingInfo and ITraceInfo as the real
// engines serve them. The echo results are kept as CPing keeps them (a ring
// once the limit is reached), so GetRecord gives storage order and
// GetRecordInOrder time order. The test posts the engine's messages itself,
// by calling the panes' handlers.

#include "diag/PingInfo.h"
#include "diag/TraceInfo.h"

#include <map>
#include <string>
#include <vector>

namespace panestest {

class CScriptedPingInfo final : public diag::IPingInfo
{
public:
    explicit CScriptedPingInfo(std::vector<std::string> addresses);

    // Stores a result as CPing does (record limit `limit`) and counts it;
    // returns the stored count, the lParam of WM_ECHO_RECORDS.
    int Store(int target, diag::EchoRecord record, std::uint32_t limit = 1000);
    void SetStatistics(int target, const diag::EchoStatistics& statistics);

    const diag::EchoRecord* GetRecord(int target, int index) override;
    const diag::EchoRecord* GetRecordByAddress(std::string address, int index) override;
    int IndexOf(std::string address) override;
    int GetRecordCount(int target) override;
    diag::EchoStatistics GetStatistics(int target) override;
    void SetStatisticsWindow(loop::HWND) override {}
    void SetRecordsWindow(loop::HWND) override {}
    std::uint32_t GetAddress(int target) override;
    const diag::EchoRecord* GetRecordInOrder(int target, int position) override;

private:
    struct Target
    {
        std::vector<diag::EchoRecord> records;
        int ring = 0;
        diag::EchoStatistics statistics;
    };
    std::vector<std::string> m_addresses;
    std::vector<Target> m_targets;
    diag::EchoRecord m_copy;
};

class CScriptedTraceInfo final : public diag::ITraceInfo
{
public:
    explicit CScriptedTraceInfo(std::vector<std::string> addresses);

    // Sets hop `hop.Step` of the target (appending when it is the next one);
    // returns the hop count, the lParam of WM_ROUTE_HOPS.
    int SetHop(int target, const diag::HopRecord& hop);
    // Keeps the first count hops (a lowered step limit); returns count.
    int Truncate(int target, int count);
    void SetState(int target, std::int32_t state);

    const diag::HopRecord* GetRecord(int target, int hop) override;
    const diag::HopRecord* GetRecordByAddress(std::string address, int hop) override;
    int IndexOf(std::string address) override;
    int GetRecordCount(int target) override;
    diag::RouteState GetRouteState(int target) override;
    void SetStatisticsWindow(loop::HWND) override {}
    void SetRecordsWindow(loop::HWND) override {}
    std::uint32_t GetAddress(int target) override;

private:
    std::vector<std::string> m_addresses;
    std::vector<std::vector<diag::HopRecord>> m_hops;
    std::vector<diag::RouteState> m_states;
    diag::HopRecord m_copy;
};

// An echo result: success with the round trip (ms), or the status given.
diag::EchoRecord Result(std::int64_t sentTime, std::uint32_t status, std::uint32_t roundTripMs,
                        std::uint32_t size = 32, std::uint8_t ttl = 200);
// A hop as the engine keeps it.
diag::HopRecord Hop(int step, const char* address, std::uint32_t status, std::int32_t sent,
                    std::int32_t lost, std::uint32_t last, const wchar_t* name);

} // namespace panestest
