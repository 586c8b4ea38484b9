#pragma once

// Helpers of the event tests: events with chosen fields, a store that records
// what the filter tells it, and waiting with a limit.

#include "events/Event.h"
#include "events/IEventFiltring.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace eventstest {

// Makes the process's QCoreApplication on first use (the main thread is the GUI thread).
void EnsureApplication();

// The fields of a test event; the rest as a fresh event has them.
struct EventFields
{
    int status = 0;
    int code = 6;
    int protocol = 1;
    std::string sender = "10.0.0.1";
    std::string receiver = "10.0.0.2";
    std::uint16_t senderPort = 1000;
    std::uint16_t receiverPort = 2000;
    std::uint32_t detail = 0;
    std::uint64_t time = 0; // 0: now
};

events::Event MakeTestEvent(const EventFields& fields);

// A FILETIME value for the given local time of day on 2024-03-01.
std::uint64_t FileTimeOf(int hour, int minute, int second, int millisecond);

// An event store in memory that records every PostFilteredCount.
class CFakeStore final : public events::IEventFiltring
{
public:
    void Add(const events::Event& event);
    void PostFilteredCount(int count) override;
    int AddFiltered(int eventIndex) override;
    int GetFilteredCount() override;
    int GetEventCount() override;
    std::optional<events::Event> GetEvent(int index) override;

    // Forgets the filtered list (a new filter starts from scratch).
    void ResetFiltered();
    std::vector<int> Posts() const;
    std::vector<int> Filtered() const;

private:
    mutable std::mutex m_lock;
    std::vector<events::Event> m_events;
    std::vector<int> m_filtered;
    std::vector<int> m_posts;
};

// Polls the condition (every millisecond) until it holds or the limit passes.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

} // namespace eventstest
