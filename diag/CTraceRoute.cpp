#include "diag/CTraceRoute.h"
#include "ferrox/values/TimeUnits.h"

#include "channel/AppMessages.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/strings/Strings.h"
#include "ferrox/threads/ThreadInterfaces.h"
#include "loop/Window.h"

#include <arpa/inet.h>
#include <cmath>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace diag {

namespace {

std::uint32_t CeilingHalf(std::uint32_t minimum, std::uint32_t maximum)
{
    const std::uint32_t sum = minimum + maximum; // wraps as a 32-bit value
    return static_cast<std::uint32_t>(std::ceil(static_cast<double>(sum) / 2.0));
}

std::int64_t WallClockMicroseconds()
{
    return clock_ns(CLOCK_REALTIME) / 1000;
}

HopRecord NewHop(int step, std::uint32_t timeOut)
{
    HopRecord hop;
    hop.Step = step;
    hop.Last = timeOut;
    hop.Minimum = timeOut;
    hop.Sent = 1; // the request about to be sent
    return hop;
}

} // namespace

std::wstring RouteStateText(std::int32_t state)
{
    switch (state) {
    case ROUTE_BUILDING: return L"Маршрут строится";
    case ROUTE_BUILT: return L"Маршрут построен";
    case ROUTE_NOT_BUILT: return L"Маршрут не построен";
    default: return std::wstring();
    }
}

CTraceRoute::CTraceRoute(const std::vector<std::string>& addresses, const RouteSettings& settings)
    : m_targets(addresses, settings.Size), m_settings(settings)
{}

CTraceRoute::~CTraceRoute()
{
    Stop();
}

void CTraceRoute::Start()
{
    if (m_workers.Running())
        return;
    std::vector<SmartPtr<TThreadTask>> tasks;
    for (int i = 0; i < m_targets.Count(); ++i)
        tasks.emplace_back(new WorkerTask(this, &CTraceRoute::Worker, i, m_targets[i].Handle,
                                          static_cast<unsigned long>(m_targets[i].Address)));
    m_workers.Start(std::move(tasks), THREAD_PRIORITY_LOWEST);
}

void CTraceRoute::Stop()
{
    m_workers.Stop();
    // A worker that read the flag before it was cleared finishes its store and
    // post under the lock; once we have had each lock, every later store sees
    // the flag cleared.
    for (int i = 0; i < m_targets.Count(); ++i)
        std::lock_guard<std::mutex> lock(m_targets[i].Lock);
}

void CTraceRoute::SetSettings(const RouteSettings& settings)
{
    std::lock_guard<std::mutex> lock(m_settingsLock);
    m_settings = settings;
}

RouteSettings CTraceRoute::Settings() const
{
    std::lock_guard<std::mutex> lock(m_settingsLock);
    return m_settings;
}

void CTraceRoute::Worker(int index, void* handle, unsigned long address)
{
    try {
        RunPasses(index, handle, address);
    } catch (const EGeneric& e) {
        // This target stops; the others go on.
        if (Debug.GetEnabled())
            TDebugStreamSession(Debug)
                << "CTraceRoute: the worker of target " << index << " ended: " << e.what() << "\n";
    }
}

void CTraceRoute::RunPasses(int index, void* handle, unsigned long address)
{
    TraceTarget& target = m_targets[index];
    const auto targetAddress = static_cast<platform::IPAddr>(address);
    while (m_workers.Running()) {
        const RouteSettings settings = Settings();
        target.FitBuffers(settings.Size);
        const std::uint8_t steps = settings.Steps;
        std::int64_t pause = settings.Interval;

        RouteState state;
        {
            std::lock_guard<std::mutex> lock(target.Lock);
            state = target.State;
        }
        if (state.Steps != steps) {
            state.Steps = steps;
            state.State = ROUTE_BUILDING;
        }

        for (int step = 1; step <= steps && m_workers.Running(); ++step) {
            HopRecord hop;
            {
                std::lock_guard<std::mutex> lock(target.Lock);
                if (target.Hops.size() < static_cast<std::size_t>(step)) {
                    hop = NewHop(step, settings.TimeOut);
                } else {
                    hop = target.Hops[static_cast<std::size_t>(step - 1)];
                    ++hop.Sent;
                }
            }
            platform::IP_OPTION_INFORMATION options;
            options.Ttl = static_cast<std::uint8_t>(step);
            hop.SentTimeMicroseconds = WallClockMicroseconds();
            const platform::DWORD count = platform::IcmpSendEcho(
                handle, targetAddress, target.Request.data(),
                static_cast<platform::WORD>(target.Request.size()), &options, target.Reply.data(),
                static_cast<platform::DWORD>(target.Reply.size()), settings.TimeOut);
            platform::ICMP_ECHO_REPLY reply;
            std::memcpy(&reply, target.Reply.data(), sizeof reply);
            const std::uint32_t roundTripUs = platform::IcmpGetLastRoundTripMicroseconds();

            if (count == 0) {
                hop.Status = reply.Status != 0 ? reply.Status : platform::IP_GENERAL_FAILURE;
                ++hop.Lost;
            } else {
                hop.Address = reply.Address;
                if (hop.Name.empty() && settings.ResolveNames)
                    hop.Name = LookUpName(reply.Address); // once per hop: it may block
                hop.Status = reply.Status;
                hop.Last = reply.RoundTripTime;
                hop.LastMicroseconds = roundTripUs;
                if (hop.Last > hop.Maximum)
                    hop.Maximum = hop.Last;
                if (hop.Last < hop.Minimum)
                    hop.Minimum = hop.Last;
                hop.Average = CeilingHalf(hop.Minimum, hop.Maximum);
                if (reply.Address == targetAddress) {
                    state.State = ROUTE_BUILT;
                    if (!StoreHop(index, step, hop, state))
                        return; // stopped meanwhile
                    break;
                }
                pause -= hop.Last;
            }
            if (step == steps && state.State == ROUTE_BUILDING)
                state.State = ROUTE_NOT_BUILT;
            if (!StoreHop(index, step, hop, state))
                return; // stopped meanwhile
            if (Settings().Steps != steps)
                break; // the new limit takes effect with the next pass
            m_workers.Sleep(StepPause);
        }
        if (pause < 0)
            pause = 0;
        if (m_workers.Running() && pause > 0)
            m_workers.Sleep(static_cast<unsigned>(pause)); // Stop ends it at once
    }
}

bool CTraceRoute::StoreHop(int index, int step, const HopRecord& hop, const RouteState& state)
{
    TraceTarget& target = m_targets[index];
    const std::size_t limit = Settings().Steps;
    {
        std::lock_guard<std::mutex> lock(target.Lock);
        // Stopped during the call or the look-up: the answer belongs to no run.
        if (!m_workers.Running())
            return false;
        // A lowered limit shortens the list here; a hop beyond it is not kept,
        // so that the list's index stays step - 1.
        while (target.Hops.size() > limit)
            target.Hops.pop_back();
        const auto position = static_cast<std::size_t>(step - 1);
        if (position < limit) {
            if (target.Hops.size() <= position)
                target.Hops.push_back(hop);
            else
                target.Hops[position] = hop;
        }
        target.State = state;
        // Posted under the lock, so that none follows a Stop (posting never
        // waits for the GUI thread).
        loop::PostToWindow(m_recordsWindow.load(), channel::WM_ROUTE_HOPS,
                           static_cast<loop::WPARAM>(index),
                           static_cast<loop::LPARAM>(target.Hops.size()));
        loop::PostToWindow(m_statisticsWindow.load(), channel::WM_ROUTE_STATE,
                           static_cast<loop::WPARAM>(index), 0);
    }
    return true;
}

std::wstring CTraceRoute::LookUpName(std::uint32_t address)
{
    sockaddr_in host{};
    host.sin_family = AF_INET;
    host.sin_addr.s_addr = address;
    char name[NI_MAXHOST];
    // NI_NAMEREQD: no name is a failure, not the dotted address. The buffer is
    // read only on success (a failing resolver may leave anything in it).
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&host), sizeof host, name, sizeof name,
                      nullptr, 0, NI_NAMEREQD) != 0)
        return L"-";
    return as_wstring(name, CP_ACP);
}

const HopRecord* CTraceRoute::GetRecord(int target, int hop)
{
    thread_local HopRecord copy;
    if (!m_targets.Valid(target) || hop < 0)
        return nullptr;
    const TraceTarget& t = m_targets[target];
    std::lock_guard<std::mutex> lock(t.Lock);
    if (static_cast<std::size_t>(hop) >= t.Hops.size())
        return nullptr;
    copy = t.Hops[static_cast<std::size_t>(hop)];
    return &copy;
}

const HopRecord* CTraceRoute::GetRecordByAddress(std::string address, int hop)
{
    return GetRecord(IndexOf(std::move(address)), hop);
}

int CTraceRoute::IndexOf(std::string address)
{
    return m_targets.IndexOf(address);
}

int CTraceRoute::GetRecordCount(int target)
{
    if (!m_targets.Valid(target))
        return 0;
    const TraceTarget& t = m_targets[target];
    std::lock_guard<std::mutex> lock(t.Lock);
    return static_cast<int>(t.Hops.size());
}

RouteState CTraceRoute::GetRouteState(int target)
{
    if (!m_targets.Valid(target))
        return RouteState{};
    const TraceTarget& t = m_targets[target];
    std::lock_guard<std::mutex> lock(t.Lock);
    return t.State;
}

void CTraceRoute::SetStatisticsWindow(loop::HWND window)
{
    m_statisticsWindow = window;
}

void CTraceRoute::SetRecordsWindow(loop::HWND window)
{
    m_recordsWindow = window;
}

std::uint32_t CTraceRoute::GetAddress(int target)
{
    return m_targets.AddressOf(target);
}

} // namespace diag
