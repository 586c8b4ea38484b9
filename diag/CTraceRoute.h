#pragma once

// The route tracing engine: traces the route to several IPv4 targets at once, one
// pool worker per target, with echo requests of growing TTL (1, 2, ... up to the
// step limit or until the target answers), over and over while it runs. Each
// target keeps one HopRecord per step whose counters add up over the passes, and
// a RouteState; the route panes read them through ITraceInfo.
//
// Threading contract
// - Construction, Start, Stop, SetSettings and destruction: the GUI thread (the
//   main frame). The ITraceInfo reads: the GUI thread after the posted messages
//   (any thread is safe).
// - Each worker writes only its own target's hop list and state, under that
//   target's lock; the settings have a lock of their own. Workers read time-out
//   and interval once per pass and the steps once per pass and again after each
//   step.
// - Posted, never sent: WM_ROUTE_HOPS (wParam = target, lParam = hops listed) and
//   then WM_ROUTE_STATE (wParam = target, lParam = 0) after each stored hop.
// - Workers run at the lowest priority, pause 50 ms between steps and look each
//   hop's name up once (getnameinfo, on the worker: it may block for the
//   resolver's time-outs).
// - Stop clears the running flag, wakes every sleeping worker and returns at
//   once, without waiting for a worker inside its echo call or name look-up
//   (which may block for the resolver's time-outs). From the moment Stop
//   returns no hop or state is stored and no message posted: a worker stores
//   and posts under its target's lock only while the flag is set, and Stop
//   takes each target's lock once after clearing it. The destructor waits for
//   every worker; to keep that wait off the GUI thread, hand a stopped engine
//   to diag::CEngineRetirement. Pool workers are reserved for the targets
//   while the engine runs (diag/CPoolReservation.h).

#include "diag/CEchoTargets.h"
#include "diag/CEchoWorkers.h"
#include "diag/TraceInfo.h"

#include "ferrox/sync/Event.h"
#include "ferrox/threads/ThreadTask.h"
#include "platform/IcmpEcho.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace diag {

// One target's state.
struct TraceTarget : EchoTargetBase
{
    // Under the base's lock: the hop list (index = step - 1) and the state.
    std::vector<HopRecord> Hops;
    RouteState State;
};

class CTraceRoute final : public ITraceInfo
{
public:
    CTraceRoute(const std::vector<std::string>& addresses, const RouteSettings& settings);
    ~CTraceRoute() override;
    CTraceRoute(const CTraceRoute&) = delete;
    CTraceRoute& operator=(const CTraceRoute&) = delete;

    // Launches one worker per target; nothing when already running.
    void Start();
    // Ends every worker's run and returns at once; nothing changes after it.
    void Stop();
    // Writes new settings into the running engine.
    void SetSettings(const RouteSettings& settings);
    RouteSettings Settings() const;
    bool IsRunning() const { return m_workers.Running(); }
    int TargetCount() const { return m_targets.Count(); }

    // ITraceInfo
    const HopRecord* GetRecord(int target, int hop) override;
    const HopRecord* GetRecordByAddress(std::string address, int hop) override;
    int IndexOf(std::string address) override;
    int GetRecordCount(int target) override;
    RouteState GetRouteState(int target) override;
    void SetStatisticsWindow(loop::HWND window) override;
    void SetRecordsWindow(loop::HWND window) override;
    std::uint32_t GetAddress(int target) override;

    // The pause between two steps of a pass, in ms.
    static constexpr unsigned StepPause = 50;

private:
    using WorkerTask =
        TThreadTask_MemberCall3<CTraceRoute, void (CTraceRoute::*)(int, void*, unsigned long), int,
                                void*, unsigned long>;

    void Worker(int index, void* handle, unsigned long address);
    void RunPasses(int index, void* handle, unsigned long address);
    // Stores hop `step` and the state, then posts the two messages; false (and
    // nothing stored) once the engine has been stopped.
    bool StoreHop(int index, int step, const HopRecord& hop, const RouteState& state);
    // The host name of an address, "-" when the look-up finds none.
    static std::wstring LookUpName(std::uint32_t address);

    CEchoTargets<TraceTarget> m_targets;

    mutable std::mutex m_settingsLock;
    RouteSettings m_settings;

    std::atomic<loop::HWND> m_statisticsWindow{nullptr};
    std::atomic<loop::HWND> m_recordsWindow{nullptr};

    // Last: destroyed first, so no worker outlives the targets it works on.
    CEchoWorkers m_workers;
};

} // namespace diag
