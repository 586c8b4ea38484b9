#include "CScriptedDiagInfo.h"

#include <arpa/inet.h>

#include <algorithm>

namespace panestest {

CScriptedPingInfo::CScriptedPingInfo(std::vector<std::string> addresses)
    : m_addresses(std::move(addresses)), m_targets(m_addresses.size())
{}

int CScriptedPingInfo::Store(int target, diag::EchoRecord record, std::uint32_t limit)
{
    Target& t = m_targets.at(static_cast<std::size_t>(target));
    record.Sequence = ++t.statistics.Sent;
    const std::size_t capacity = std::max<std::uint32_t>(limit, 1);
    if (t.records.size() != capacity && t.ring != 0) {
        std::rotate(t.records.begin(), t.records.begin() + t.ring, t.records.end());
        t.ring = 0;
    }
    if (t.records.size() < capacity) {
        t.records.push_back(record);
    } else {
        if (t.records.size() > capacity)
            t.records.erase(t.records.begin(),
                            t.records.begin() +
                                static_cast<std::ptrdiff_t>(t.records.size() - capacity));
        t.records[static_cast<std::size_t>(t.ring)] = record;
        if (static_cast<std::size_t>(++t.ring) == capacity)
            t.ring = 0;
    }
    return static_cast<int>(t.records.size());
}

void CScriptedPingInfo::SetStatistics(int target, const diag::EchoStatistics& statistics)
{
    m_targets.at(static_cast<std::size_t>(target)).statistics = statistics;
}

const diag::EchoRecord* CScriptedPingInfo::GetRecord(int target, int index)
{
    if (target < 0 || target >= static_cast<int>(m_targets.size()) || index < 0 ||
        index >= GetRecordCount(target))
        return nullptr;
    m_copy = m_targets[static_cast<std::size_t>(target)].records[static_cast<std::size_t>(index)];
    return &m_copy;
}

const diag::EchoRecord* CScriptedPingInfo::GetRecordByAddress(std::string address, int index)
{
    return GetRecord(IndexOf(std::move(address)), index);
}

int CScriptedPingInfo::IndexOf(std::string address)
{
    const auto it = std::find(m_addresses.begin(), m_addresses.end(), address);
    return it == m_addresses.end() ? 0 : static_cast<int>(it - m_addresses.begin());
}

int CScriptedPingInfo::GetRecordCount(int target)
{
    if (target < 0 || target >= static_cast<int>(m_targets.size()))
        return 0;
    return static_cast<int>(m_targets[static_cast<std::size_t>(target)].records.size());
}

diag::EchoStatistics CScriptedPingInfo::GetStatistics(int target)
{
    if (target < 0 || target >= static_cast<int>(m_targets.size()))
        return {};
    return m_targets[static_cast<std::size_t>(target)].statistics;
}

std::uint32_t CScriptedPingInfo::GetAddress(int target)
{
    if (target < 0 || target >= static_cast<int>(m_addresses.size()))
        return 0xFFFFFFFFu;
    return ::inet_addr(m_addresses[static_cast<std::size_t>(target)].c_str());
}

const diag::EchoRecord* CScriptedPingInfo::GetRecordInOrder(int target, int position)
{
    const int count = GetRecordCount(target);
    if (position < 0 || position >= count)
        return nullptr;
    const Target& t = m_targets[static_cast<std::size_t>(target)];
    m_copy = t.records[static_cast<std::size_t>((t.ring + position) % count)];
    return &m_copy;
}

CScriptedTraceInfo::CScriptedTraceInfo(std::vector<std::string> addresses)
    : m_addresses(std::move(addresses)), m_hops(m_addresses.size()), m_states(m_addresses.size())
{}

int CScriptedTraceInfo::SetHop(int target, const diag::HopRecord& hop)
{
    auto& hops = m_hops.at(static_cast<std::size_t>(target));
    const auto position = static_cast<std::size_t>(hop.Step - 1);
    if (position < hops.size())
        hops[position] = hop;
    else
        hops.push_back(hop);
    return static_cast<int>(hops.size());
}

int CScriptedTraceInfo::Truncate(int target, int count)
{
    m_hops.at(static_cast<std::size_t>(target)).resize(static_cast<std::size_t>(count));
    return count;
}

void CScriptedTraceInfo::SetState(int target, std::int32_t state)
{
    m_states.at(static_cast<std::size_t>(target)).State = state;
}

const diag::HopRecord* CScriptedTraceInfo::GetRecord(int target, int hop)
{
    if (hop < 0 || hop >= GetRecordCount(target))
        return nullptr;
    m_copy = m_hops[static_cast<std::size_t>(target)][static_cast<std::size_t>(hop)];
    return &m_copy;
}

const diag::HopRecord* CScriptedTraceInfo::GetRecordByAddress(std::string address, int hop)
{
    return GetRecord(IndexOf(std::move(address)), hop);
}

int CScriptedTraceInfo::IndexOf(std::string address)
{
    const auto it = std::find(m_addresses.begin(), m_addresses.end(), address);
    return it == m_addresses.end() ? 0 : static_cast<int>(it - m_addresses.begin());
}

int CScriptedTraceInfo::GetRecordCount(int target)
{
    if (target < 0 || target >= static_cast<int>(m_hops.size()))
        return 0;
    return static_cast<int>(m_hops[static_cast<std::size_t>(target)].size());
}

diag::RouteState CScriptedTraceInfo::GetRouteState(int target)
{
    if (target < 0 || target >= static_cast<int>(m_states.size()))
        return {};
    return m_states[static_cast<std::size_t>(target)];
}

std::uint32_t CScriptedTraceInfo::GetAddress(int target)
{
    if (target < 0 || target >= static_cast<int>(m_addresses.size()))
        return 0xFFFFFFFFu;
    return ::inet_addr(m_addresses[static_cast<std::size_t>(target)].c_str());
}

diag::EchoRecord Result(std::int64_t sentTime, std::uint32_t status, std::uint32_t roundTripMs,
                        std::uint32_t size, std::uint8_t ttl)
{
    diag::EchoRecord record;
    record.SentTime = sentTime;
    record.SentTimeMicroseconds = sentTime * 1000000;
    record.Status = status;
    record.RoundTripTime = roundTripMs;
    record.RoundTripMicroseconds = roundTripMs * 1000 + 250;
    record.Size = size;
    record.Ttl = ttl;
    return record;
}

diag::HopRecord Hop(int step, const char* address, std::uint32_t status, std::int32_t sent,
                    std::int32_t lost, std::uint32_t last, const wchar_t* name)
{
    diag::HopRecord hop;
    hop.Step = step;
    hop.Address = ::inet_addr(address);
    hop.Status = status;
    hop.Sent = sent;
    hop.Lost = lost;
    hop.Last = last;
    hop.Minimum = last;
    hop.Maximum = last;
    hop.Average = last;
    hop.Name = name;
    return hop;
}

} // namespace panestest
