#include "diag/CPing.h"
#include "ferrox/values/TimeUnits.h"

#include "channel/AppMessages.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/strings/Strings.h"
#include "loop/Window.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace diag {

namespace {

// The extended call, looked up once per process. It always exists here; the
// check stays because the engine's behaviour without it is defined.
using SendEcho2ExFunction = decltype(&platform::IcmpSendEcho2Ex);
SendEcho2ExFunction ExtendedEntry()
{
    static const SendEcho2ExFunction entry = &platform::IcmpSendEcho2Ex;
    return entry;
}

// ceiling((minimum + maximum) / 2): the sum wraps as a 32-bit value, the half is
// taken in double precision.
std::uint32_t CeilingHalf(std::uint32_t minimum, std::uint32_t maximum)
{
    const std::uint32_t sum = minimum + maximum;
    return static_cast<std::uint32_t>(std::ceil(static_cast<double>(sum) / 2.0));
}

} // namespace

CPing::CPing(bool extendedEchoAvailable, const std::vector<std::string>& addresses,
             const EchoSettings& settings)
    : m_targets(addresses, settings.Size), m_extendedEchoAvailable(extendedEchoAvailable),
      m_settings(settings)
{
    if (m_extendedEchoAvailable)
        (void)ExtendedEntry();
}

CPing::~CPing()
{
    Stop();
    m_workers.WaitForAll();
}

void CPing::Start()
{
    if (m_workers.Running())
        return;
    std::vector<SmartPtr<TThreadTask>> tasks;
    for (int i = 0; i < m_targets.Count(); ++i)
        tasks.emplace_back(new WorkerTask(this, &CPing::Worker, i, m_targets[i].Handle,
                                          static_cast<unsigned long>(m_targets[i].Address)));
    m_workers.Start(std::move(tasks), THREAD_PRIORITY_NORMAL);
}

void CPing::Stop()
{
    m_workers.Stop();
    // A worker that read the flag before it was cleared finishes its store and
    // post under the lock; once we have had each lock, every later store sees
    // the flag cleared.
    for (int i = 0; i < m_targets.Count(); ++i)
        std::lock_guard<std::mutex> lock(m_targets[i].Lock);
}

void CPing::ApplySettings(const EchoSettings& settings)
{
    std::lock_guard<std::mutex> lock(m_settingsLock);
    m_settings = settings;
}

EchoSettings CPing::Settings() const
{
    std::lock_guard<std::mutex> lock(m_settingsLock);
    return m_settings;
}

void CPing::Worker(int index, void* handle, unsigned long address)
{
    try {
        RunRequests(index, handle, address);
    } catch (const EGeneric& e) {
        // This target stops; the others go on.
        if (Debug.GetEnabled())
            TDebugStreamSession(Debug)
                << "CPing: the worker of target " << index << " ended: " << e.what() << "\n";
    }
}

void CPing::RunRequests(int index, void* handle, unsigned long address)
{
    EchoTarget& target = m_targets[index];
    while (m_workers.Running()) {
        const EchoSettings settings = Settings();
        target.FitBuffers(settings.Size);
        const platform::IPAddr source = settings.Source.empty()
                                            ? 0
                                            : CEchoTargets<EchoTarget>::AddressOfTarget(
                                                  settings.Source);
        platform::IP_OPTION_INFORMATION options;
        options.Ttl = settings.Ttl;

        EchoRecord record;
        const std::int64_t nowNs = clock_ns(CLOCK_REALTIME);
        record.SentTime = nowNs / 1000000000;
        record.SentTimeMicroseconds = nowNs / 1000;
        platform::DWORD count = 0;
        const auto requestSize = static_cast<platform::WORD>(target.Request.size());
        const auto replySize = static_cast<platform::DWORD>(target.Reply.size());
        if (m_extendedEchoAvailable) {
            if (const auto entry = ExtendedEntry()) {
                count =
                    entry(handle, nullptr, nullptr, nullptr, source,
                          static_cast<platform::IPAddr>(address), target.Request.data(),
                          requestSize, &options, target.Reply.data(), replySize, settings.TimeOut);
            } else {
                if (Error.GetEnabled())
                    Error.printf("Не удалось загрузить функцию IcmpSendEcho2Ex\n");
            }
        } else {
            count = platform::IcmpSendEcho(handle, static_cast<platform::IPAddr>(address),
                                           target.Request.data(), requestSize, &options,
                                           target.Reply.data(), replySize, settings.TimeOut);
        }
        platform::ICMP_ECHO_REPLY reply;
        std::memcpy(&reply, target.Reply.data(), sizeof reply);
        const std::uint32_t roundTripUs = platform::IcmpGetLastRoundTripMicroseconds();

        record.Size = requestSize;
        record.Ttl = settings.Ttl;
        std::uint32_t sentCount;
        {
            std::lock_guard<std::mutex> lock(target.Lock);
            // Stopped during the call: the answer belongs to no run any more.
            if (!m_workers.Running())
                return;
            EchoStatistics& statistics = target.Statistics;
            ++statistics.Sent;
            if (count != 0) {
                record.Status = reply.Status;
                record.RoundTripTime = reply.RoundTripTime;
                record.RoundTripMicroseconds = roundTripUs;
                // A router's answer counts as lost but keeps its status and time.
                if (reply.Address == static_cast<platform::IPAddr>(address))
                    ++statistics.Received;
                else
                    ++statistics.Lost;
            } else {
                ++statistics.Lost;
                record.Status = reply.Status != 0 ? reply.Status : platform::IP_GENERAL_FAILURE;
                record.RoundTripTime = 0;
            }
            if (record.RoundTripTime > statistics.Maximum)
                statistics.Maximum = record.RoundTripTime;
            if (record.RoundTripTime < statistics.Minimum)
                statistics.Minimum = record.RoundTripTime;
            statistics.Average = CeilingHalf(statistics.Minimum, statistics.Maximum);
            record.Sequence = statistics.Sent;
            StoreRecord(target, record, settings.RecordLimit);
            sentCount = statistics.Sent;
            // Posted under the lock, so that none follows a Stop (posting never
            // waits for the GUI thread).
            loop::PostToWindow(m_statisticsWindow.load(), channel::WM_ECHO_STATISTICS,
                               static_cast<loop::WPARAM>(index), 0);
            loop::PostToWindow(m_recordsWindow.load(), channel::WM_ECHO_RECORDS,
                               static_cast<loop::WPARAM>(index),
                               static_cast<loop::LPARAM>(target.Records.size()));
        }

        // A bounded run ends with its last request, without the pause after it.
        if (settings.RequestLimit != 0 && sentCount >= settings.RequestLimit)
            return;
        const std::int64_t pause = static_cast<std::int64_t>(settings.Interval) -
                                   static_cast<std::int64_t>(record.RoundTripTime);
        if (pause > 0 && m_workers.Running())
            m_workers.Sleep(static_cast<unsigned>(pause)); // Stop ends it at once
    }
}

void CPing::StoreRecord(EchoTarget& target, const EchoRecord& record, std::uint32_t limit)
{
    // A limit of 0 would leave no room to store into: keep at least one result.
    const std::size_t capacity = limit == 0 ? 1 : limit;
    auto& records = target.Records;
    // Invariant: the oldest result is at the ring position (0 until the list
    // is full). When the limit changed after the list became a ring, lay it
    // out oldest first again: appending then follows the newest result, and a
    // cut drops the oldest ones instead of whatever lies past the new limit.
    if (records.size() != capacity && target.RingPosition != 0) {
        std::rotate(records.begin(), records.begin() + target.RingPosition, records.end());
        target.RingPosition = 0;
    }
    if (records.size() < capacity) {
        records.push_back(record);
        return;
    }
    if (records.size() > capacity) // the limit was lowered: the oldest go
        records.erase(records.begin(),
                      records.begin() + static_cast<std::ptrdiff_t>(records.size() - capacity));
    records[static_cast<std::size_t>(target.RingPosition)] = record;
    if (static_cast<std::size_t>(++target.RingPosition) == capacity)
        target.RingPosition = 0;
}

const EchoRecord* CPing::GetRecordInOrder(int target, int position)
{
    thread_local EchoRecord copy;
    if (!m_targets.Valid(target) || position < 0)
        return nullptr;
    const EchoTarget& t = m_targets[target];
    std::lock_guard<std::mutex> lock(t.Lock);
    const std::size_t size = t.Records.size();
    if (static_cast<std::size_t>(position) >= size)
        return nullptr;
    copy = t.Records[(static_cast<std::size_t>(t.RingPosition) +
                      static_cast<std::size_t>(position)) % size];
    return &copy;
}

const EchoRecord* CPing::GetRecord(int target, int index)
{
    thread_local EchoRecord copy;
    if (!m_targets.Valid(target) || index < 0)
        return nullptr;
    const EchoTarget& t = m_targets[target];
    std::lock_guard<std::mutex> lock(t.Lock);
    if (static_cast<std::size_t>(index) >= t.Records.size())
        return nullptr;
    copy = t.Records[static_cast<std::size_t>(index)];
    return &copy;
}

const EchoRecord* CPing::GetRecordByAddress(std::string address, int index)
{
    return GetRecord(IndexOf(std::move(address)), index);
}

int CPing::IndexOf(std::string address)
{
    return m_targets.IndexOf(address);
}

int CPing::GetRecordCount(int target)
{
    if (!m_targets.Valid(target))
        return 0;
    const EchoTarget& t = m_targets[target];
    std::lock_guard<std::mutex> lock(t.Lock);
    return static_cast<int>(t.Records.size());
}

EchoStatistics CPing::GetStatistics(int target)
{
    if (!m_targets.Valid(target))
        return EchoStatistics{};
    const EchoTarget& t = m_targets[target];
    std::lock_guard<std::mutex> lock(t.Lock);
    return t.Statistics;
}

void CPing::SetStatisticsWindow(loop::HWND window)
{
    m_statisticsWindow = window;
}

void CPing::SetRecordsWindow(loop::HWND window)
{
    m_recordsWindow = window;
}

std::uint32_t CPing::GetAddress(int target)
{
    return m_targets.AddressOf(target);
}

std::wstring CPing::StatusText(std::uint32_t status)
{
    switch (status) {
    case platform::IP_SUCCESS: return L"Успешно";
    case platform::IP_DEST_NET_UNREACHABLE: return L"Заданная сеть недоступна";
    case platform::IP_REQ_TIMED_OUT: return L"Превышен интервал ожидания для запроса.";
    case platform::IP_TTL_EXPIRED_TRANSIT: return L"Превышен срок жизни (TTL) при передаче пакета.";
    case platform::IP_GENERAL_FAILURE: return L"Сбой передачи";
    default:
        if (Error.GetEnabled())
            Error.printf("неизвестный результат ping: %d\n", static_cast<int>(status));
        return L"Не определён";
    }
}

std::wstring CPing::FormatEchoLine(const EchoRecord& record, bool timeOnly)
{
    const std::time_t sent = static_cast<std::time_t>(record.SentTime);
    std::tm local{};
    ::localtime_r(&sent, &local);
    const std::wstring time =
        format_wstring(L"%d:%02d:%02d %02d-%02d-%4d", local.tm_hour, local.tm_min, local.tm_sec,
                       local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
    if (timeOnly)
        return time;
    if (record.Status != 0)
        return format_wstring(L"[%ls] ответ не получен: %ls", time.c_str(),
                              StatusText(record.Status).c_str());
    const std::wstring roundTrip =
        record.RoundTripTime != 0 ? format_wstring(L"%d мс", static_cast<int>(record.RoundTripTime))
                                  : std::wstring(L"<1мс");
    return format_wstring(L"[%ls] ответ получен: число байт %d, время %ls, TTL=%u", time.c_str(),
                          static_cast<int>(record.Size), roundTrip.c_str(),
                          static_cast<unsigned>(record.Ttl));
}

} // namespace diag
