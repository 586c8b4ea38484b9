#include "events/EventFilter.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/sync/Waitable.h"
#include "ferrox/threads/ThreadPool.h"

#include <algorithm>
#include <cstring>

namespace events {

namespace {

// While following a quiet store the task yields between polls; after this many
// empty polls in a row it sleeps a millisecond per poll instead, so a filter
// that follows a long check does not keep a processor busy doing nothing.
constexpr int kYieldsBeforeSleeping = 64;
// Events copied out of the store per lock round.
constexpr int kReadRun = 256;

template <class T>
bool Contains(const std::vector<T>& list, const T& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool ContainsText(const std::vector<std::string>& list, const char* text)
{
    return std::any_of(list.begin(), list.end(), [text](const std::string& entry) {
        return std::strcmp(entry.c_str(), text) == 0;
    });
}

bool GroupMatches(const channel::SchemeGroup& group, int protocol, std::uint16_t p1,
                  std::uint16_t p2)
{
    if (protocol < static_cast<int>(channel::SchemeProtocol::Tcp) ||
        protocol > static_cast<int>(channel::SchemeProtocol::Ip))
        return false;
    for (const channel::PortPair& pair :
         group.Pairs(static_cast<channel::SchemeProtocol>(protocol))) {
        const std::uint16_t s = pair.serverPort;
        const std::uint16_t c = pair.clientPort;
        if ((s != 0 && (s == p1 || s == p2)) || (c != 0 && (c == p2 || c == p1)))
            return true;
    }
    return false;
}

} // namespace

EventFilter::EventFilter(IEventFiltring* store) : m_store(store) {}

EventFilter::~EventFilter()
{
    Stop();
}

int EventFilter::BatchSize(int eventCount)
{
    if (eventCount <= 200)
        return 1;
    if (eventCount < 20000)
        return eventCount / 100;
    return 1000;
}

bool EventFilter::MatchesCriteria(const FilterCriteria& criteria, const Event& event)
{
    if (!criteria.statuses.empty() && !Contains(criteria.statuses, event.status))
        return false;
    if (!criteria.descriptions.empty() && !Contains(criteria.descriptions, event.description))
        return false;
    if (!criteria.protocols.empty() && !Contains(criteria.protocols, event.protocol))
        return false;
    if (!criteria.senders.empty() && !ContainsText(criteria.senders, event.senderText))
        return false;
    if (!criteria.receivers.empty() && !ContainsText(criteria.receivers, event.receiverText))
        return false;
    if (!criteria.portGroups.empty()) {
        // An event between equal ports names that port once: the receiver side
        // then counts as "no port", so only pairs that contain it match.
        const std::uint16_t p1 = event.senderPort;
        const std::uint16_t p2 = event.receiverPort == p1 ? 0 : event.receiverPort;
        if (!std::any_of(criteria.portGroups.begin(), criteria.portGroups.end(),
                         [&](const channel::SchemeGroup& g) {
                             return GroupMatches(g, event.protocol, p1, p2);
                         }))
            return false;
    }
    return true;
}

bool EventFilter::Matches(const Event& event) const
{
    if (!m_active.load())
        return false;
    std::lock_guard<std::mutex> lock(m_lock);
    return m_criteria && MatchesCriteria(*m_criteria, event);
}

std::optional<FilterCriteria> EventFilter::Criteria() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_criteria)
        return std::nullopt;
    return *m_criteria;
}

bool EventFilter::IsRunning() const
{
    std::lock_guard<std::mutex> lock(m_taskLock);
    return m_running;
}

void EventFilter::Apply(const FilterCriteria& criteria,
                        const std::function<void()>& emptyStoreViews)
{
    Stop();
    m_store->PostFilteredCount(0);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_criteria = std::make_shared<const FilterCriteria>(criteria);
    }
    if (emptyStoreViews)
        emptyStoreViews();
    {
        std::lock_guard<std::mutex> lock(m_taskLock);
        m_nextIndex = 0;
    }
    m_active.store(true);
    Start();
}

void EventFilter::Start()
{
    std::lock_guard<std::mutex> lock(m_taskLock);
    if (!m_active.load() || m_paused)
        return;
    if (m_running) {
        m_rescan = true;
        return;
    }
    // A task that has decided to end only has to return; let it, so that no two
    // tasks of this filter ever overlap.
    if (m_task)
        m_task->WaitForEnd(-1);
    SmartPtr<TThreadTask> task = MakeMemberTask(this, &EventFilter::Run);
    task->SetPriority(THREAD_PRIORITY_BELOW_NORMAL);
    m_running = true;
    m_rescan = false;
    m_task = task;
    try {
        GetSystemThreadPool()->AddTask(task);
    } catch (...) {
        m_running = false;
        m_task = nullptr;
        throw;
    }
}

void EventFilter::WaitForTask()
{
    for (;;) {
        SmartPtr<TThreadTask> task;
        {
            std::lock_guard<std::mutex> lock(m_taskLock);
            task = m_task;
        }
        if (!task)
            return;
        task->WaitForEnd(-1);
        std::lock_guard<std::mutex> lock(m_taskLock);
        if (m_task == task && !m_running) {
            m_task = nullptr;
            return;
        }
    }
}

void EventFilter::Stop()
{
    m_active.store(false);
    WaitForTask();
    std::lock_guard<std::mutex> lock(m_lock);
    m_criteria.reset();
}

bool EventFilter::Pause()
{
    {
        std::lock_guard<std::mutex> lock(m_taskLock);
        m_paused = true;
    }
    m_pauseRequested.store(true);
    WaitForTask();
    m_pauseRequested.store(false);
    return m_active.load();
}

void EventFilter::Resume(int nextIndex)
{
    {
        std::lock_guard<std::mutex> lock(m_taskLock);
        m_paused = false;
        m_nextIndex = nextIndex;
    }
    Start();
}

int EventFilter::NextIndex() const
{
    std::lock_guard<std::mutex> lock(m_taskLock);
    return m_nextIndex;
}

void EventFilter::Run()
{
    int i;
    {
        std::lock_guard<std::mutex> lock(m_taskLock);
        i = m_nextIndex;
    }
    // Whatever ends the task (its end, a pause, an exception), the bookkeeping
    // must say so, or no task would ever be started again: see the catch blocks.
    try {
        std::shared_ptr<const FilterCriteria> criteria;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            criteria = m_criteria;
        }
        std::vector<Event> run;
        int total = m_store->GetEventCount();
        int batch = BatchSize(total);
        int matched = 0;
        int idlePolls = 0;
        for (;;) {
            const bool halted = !m_active.load() || m_pauseRequested.load();
            if (halted || (!m_follow.load() && i >= total)) {
                m_store->PostFilteredCount(m_store->GetFilteredCount());
                std::lock_guard<std::mutex> lock(m_taskLock);
                if (!halted && m_rescan) {
                    // Start was asked for while this task was finishing: events
                    // added before that call must not wait for the next start.
                    m_rescan = false;
                    total = m_store->GetEventCount();
                    if (i < total)
                        continue;
                }
                m_nextIndex = i;
                m_running = false;
                return;
            }
            if (i < total) {
                const int copied = m_store->CopyEvents(i, std::min(kReadRun, total - i), run);
                for (int k = 0; k < copied && m_active.load(std::memory_order_relaxed) &&
                                !m_pauseRequested.load(std::memory_order_relaxed);
                     ++k) {
                    if (criteria && MatchesCriteria(*criteria, run[static_cast<std::size_t>(k)])) {
                        const int count = m_store->AddFiltered(i);
                        if (++matched >= batch) {
                            matched = 0;
                            batch = BatchSize(m_store->GetEventCount());
                            m_store->PostFilteredCount(count);
                        }
                    }
                    ++i; // only past an event that was looked at, so a following
                         // filter never skips one that arrives later
                }
                if (copied == 0)
                    total = i; // the store has fewer events than it said: look again
                idlePolls = 0;
                if (i >= total) {
                    SwitchToThread();
                    total = m_store->GetEventCount();
                }
            } else {
                // Following and caught up: poll for new events.
                if (++idlePolls < kYieldsBeforeSleeping)
                    SwitchToThread();
                else
                    Sleep(1);
                total = m_store->GetEventCount();
            }
        }
    } catch (const EGeneric& e) {
        {
            std::lock_guard<std::mutex> lock(m_taskLock);
            m_nextIndex = i;
            m_running = false;
        }
        if (dynamic_cast<const EThreadInterrupt*>(&e) == nullptr && Debug.GetEnabled())
            TDebugStreamSession(Debug) << e.what() << "\n";
        throw;
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_taskLock);
        m_nextIndex = i;
        m_running = false;
        throw;
    }
}

} // namespace events
