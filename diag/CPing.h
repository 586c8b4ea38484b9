#pragma once

// The echo request engine: ICMP echo requests to several IPv4 targets at once,
// one pool worker per target, each keeping a bounded list of results (a ring
// once full) and running counters, read by the echo panes through IPingInfo.
//
// Threading contract
// - Construction, Start, Stop, ApplySettings and destruction: the GUI thread (the
//   main frame). The IPingInfo reads: the GUI thread, after the posted messages
//   (any thread is safe).
// - Each worker writes only its own target's buffers, results and counters; they
//   are guarded by a per-target lock, so the panes read whole records while the
//   worker appends, overwrites or cuts the list. The settings are guarded by
//   their own lock: a worker takes a full copy at each request.
// - Posted, never sent: WM_ECHO_STATISTICS (wParam = target, lParam = 0) and then
//   WM_ECHO_RECORDS (wParam = target, lParam = stored results) after each result.
// - Stop clears the running flag, wakes every sleeping worker and returns at
//   once, without waiting for a worker inside its echo call. From the moment
//   Stop returns, no result is stored and no message posted any more: a worker
//   stores and posts under its target's lock only while the flag is set, and
//   Stop takes each target's lock once after clearing it. A late answer is
//   dropped (and not counted). The destructor waits for every worker before
//   the storage goes, so no worker ever outlives the engine; to keep that wait
//   off the GUI thread, hand a stopped engine to diag::CEngineRetirement.
// - Results are kept in storage order (a ring once full) and served in that
//   order by GetRecord and in time order by GetRecordInOrder. A change of the
//   record limit lays the ring out oldest first again before it grows or is
//   cut, and a cut drops the oldest results.
// - The workers run on the process-wide pool, whose workers are reserved for them
//   while they may run (diag/CPoolReservation.h), so no target waits unprobed
//   and the rest of the program keeps its workers.

#include "diag/CEchoTargets.h"
#include "diag/CEchoWorkers.h"
#include "diag/PingInfo.h"

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
struct EchoTarget : EchoTargetBase
{
    // Under the base's lock: the results, the ring position and the counters.
    std::vector<EchoRecord> Records;
    int RingPosition = 0;
    EchoStatistics Statistics;
};

class CPing final : public IPingInfo
{
public:
    // Opens one echo handle per address; an address that is not dotted is probed
    // as 0xFFFFFFFF, as given (the addresses are read as channel::ParseAddress
    // reads them, as is the source address).
    CPing(bool extendedEchoAvailable, const std::vector<std::string>& addresses,
          const EchoSettings& settings);
    ~CPing() override;
    CPing(const CPing&) = delete;
    CPing& operator=(const CPing&) = delete;

    // Launches one worker per target; nothing when already running.
    void Start();
    // Returns at once; nothing changes after it (see above).
    void Stop();
    // Replaces the settings; each worker uses them from its next request.
    void ApplySettings(const EchoSettings& settings);
    EchoSettings Settings() const;
    bool IsRunning() const { return m_workers.Running(); }
    // True once every worker of the run has returned by itself: each target
    // has had its RequestLimit requests.
    bool RequestsDone() const { return m_workers.AllReturned(); }
    int TargetCount() const { return m_targets.Count(); }

    // IPingInfo
    const EchoRecord* GetRecord(int target, int index) override;
    const EchoRecord* GetRecordByAddress(std::string address, int index) override;
    int IndexOf(std::string address) override;
    int GetRecordCount(int target) override;
    EchoStatistics GetStatistics(int target) override;
    void SetStatisticsWindow(loop::HWND window) override;
    void SetRecordsWindow(loop::HWND window) override;
    std::uint32_t GetAddress(int target) override;
    const EchoRecord* GetRecordInOrder(int target, int position) override;

    // The status text the panes show; an unknown status also writes a line to
    // the Error stream.
    static std::wstring StatusText(std::uint32_t status);
    // "[time] ответ получен: ..." or "[time] ответ не получен: ..."; with timeOnly
    // just the local send time "h:mm:ss dd-mm-yyyy".
    static std::wstring FormatEchoLine(const EchoRecord& record, bool timeOnly);

private:
    using WorkerTask = TThreadTask_MemberCall3<CPing, void (CPing::*)(int, void*, unsigned long),
                                               int, void*, unsigned long>;

    void Worker(int index, void* handle, unsigned long address);
    void RunRequests(int index, void* handle, unsigned long address);
    static void StoreRecord(EchoTarget& target, const EchoRecord& record, std::uint32_t limit);

    CEchoTargets<EchoTarget> m_targets;
    const bool m_extendedEchoAvailable;

    mutable std::mutex m_settingsLock;
    EchoSettings m_settings;

    std::atomic<loop::HWND> m_statisticsWindow{nullptr};
    std::atomic<loop::HWND> m_recordsWindow{nullptr};

    // Last: destroyed first, so no worker outlives the targets it works on.
    CEchoWorkers m_workers;
};

} // namespace diag
