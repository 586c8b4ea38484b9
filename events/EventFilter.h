#pragma once

// The filter of the events pane: a set of criteria and, while active, a pool
// task that walks the event store from its resume point on, tests each event
// and hands the index of every match to the store (AddFiltered), telling the
// pane about its progress in batches (PostFilteredCount). With the follow flag
// set the task keeps watching the store for new events until the filter is
// deactivated; without it the task ends after the last event, and a later
// Start continues from where it ended (never from 0 again, which would list
// the same events twice).
//
// Threads and locks
// - Apply, Stop, Pause and Resume: the GUI thread (the store's owner).
// - Start: the GUI thread or the client-check task (starting servers or clients).
// - SetFollow: any thread (the client check sets and clears it).
// - Matches: any thread; Run: the filter's own pool task.
// - The filter's lock guards the criteria; a second, inner lock guards the task
//   bookkeeping. Neither is held while the store is called, so the store's locks
//   and the filter's are never held together. Stop waits for the task without a
//   time limit, so the criteria are never deleted while the task tests an event.

#include "events/FilterCriteria.h"
#include "events/IEventFiltring.h"
#include "ferrox/threads/ThreadTask.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace events {

class EventFilter final
{
public:
    // The store is not owned and must outlive the filter's task (the destructor
    // stops it).
    explicit EventFilter(IEventFiltring* store);
    ~EventFilter();
    EventFilter(const EventFilter&) = delete;
    EventFilter& operator=(const EventFilter&) = delete;

    // Stop; PostFilteredCount(0); a copy of the criteria replaces the old ones;
    // emptyStoreViews() empties the store's filtered list and display order;
    // the filter becomes active and its task starts from the first event.
    void Apply(const FilterCriteria& criteria, const std::function<void()>& emptyStoreViews);
    // Starts the task when the filter is active and no task runs; when one runs
    // it is told to look at the store again before it ends.
    void Start();
    // Deactivates the filter, waits for its task (no time limit) and deletes the
    // criteria. Also the "remove filter" step.
    void Stop();

    // For a purge of the store: ends the task without deactivating the filter
    // and holds off Start until Resume. Returns whether the filter is active.
    bool Pause();
    // Continues after a purge: the next event to test is nextIndex; the task
    // starts again when the filter is active.
    void Resume(int nextIndex);
    // The first event the next task tests (paused: where the last one stopped).
    int NextIndex() const;

    // False when the filter is not active or has no criteria; else the criteria
    // test (MatchesCriteria).
    bool Matches(const Event& event) const;
    // The task body.
    void Run();

    bool IsActive() const { return m_active.load(); }
    bool IsFollowing() const { return m_follow.load(); }
    void SetFollow(bool follow) { m_follow.store(follow); }
    bool IsRunning() const;
    // A copy of the criteria in force, none before the first Apply or after Stop.
    std::optional<FilterCriteria> Criteria() const;

    // Progress messages are posted once per this many matches, for a store of
    // eventCount events: up to 200 -> 1; below 20000 -> eventCount / 100; 1000.
    static int BatchSize(int eventCount);
    // Every non-empty list must let the event through (see FilterCriteria).
    static bool MatchesCriteria(const FilterCriteria& criteria, const Event& event);

private:
    // Waits until no task of this filter runs any more and forgets it.
    void WaitForTask();

    IEventFiltring* const m_store;
    // Guarded by m_lock. Replaced or dropped only while no task runs, so the
    // task takes it once and tests events without the lock.
    std::shared_ptr<const FilterCriteria> m_criteria;
    std::atomic<bool> m_active{false};
    mutable std::mutex m_lock; // the filter's lock: the criteria
    std::atomic<bool> m_follow{false};

    mutable std::mutex m_taskLock; // the task bookkeeping below
    SmartPtr<TThreadTask> m_task;
    bool m_running = false; // a task has started and not yet decided to end
    bool m_rescan = false;  // Start came while a task ran: look at the store again
    bool m_paused = false;  // a purge is under way: Start waits for Resume
    int m_nextIndex = 0;    // the first event the next task tests
    std::atomic<bool> m_pauseRequested{false};
};

} // namespace events
