#include "events/support/EventTestSupport.h"

#include <QCoreApplication>

#include <thread>

namespace eventstest {

void EnsureApplication()
{
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "events-tests";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv); // lives for the whole test process
    }
}

events::Event MakeTestEvent(const EventFields& fields)
{
    events::Event event =
        events::MakeEvent(fields.status, fields.code, fields.detail, fields.protocol,
                          fields.sender.c_str(), fields.receiver.c_str(), fields.senderPort,
                          fields.receiverPort);
    if (fields.time != 0)
        event.time = fields.time;
    return event;
}

std::uint64_t FileTimeOf(int hour, int minute, int second, int millisecond)
{
    // Days from 1601-01-01 to 2024-03-01.
    constexpr std::uint64_t kDays = 154557;
    const std::uint64_t ms = ((kDays * 24 + static_cast<std::uint64_t>(hour)) * 60 +
                              static_cast<std::uint64_t>(minute)) *
                                 60000ULL +
                             static_cast<std::uint64_t>(second) * 1000ULL +
                             static_cast<std::uint64_t>(millisecond);
    return ms * 10000ULL;
}

void CFakeStore::Add(const events::Event& event)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back(event);
}

void CFakeStore::PostFilteredCount(int count)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_posts.push_back(count);
}

int CFakeStore::AddFiltered(int eventIndex)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_filtered.push_back(eventIndex);
    return static_cast<int>(m_filtered.size());
}

int CFakeStore::GetFilteredCount()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_filtered.size());
}

int CFakeStore::GetEventCount()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_events.size());
}

std::optional<events::Event> CFakeStore::GetEvent(int index)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (index < 0 || index >= static_cast<int>(m_events.size()))
        return std::nullopt;
    return m_events[static_cast<std::size_t>(index)];
}

void CFakeStore::ResetFiltered()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_filtered.clear();
}

std::vector<int> CFakeStore::Posts() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_posts;
}

std::vector<int> CFakeStore::Filtered() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_filtered;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace eventstest
