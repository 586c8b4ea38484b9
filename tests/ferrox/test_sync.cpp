#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/sync/Event.h"
#include "ferrox/sync/Mutex.h"
#include "ferrox/sync/Semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(AlertableWaits, QueuedCallEndsAWaitAndRunsOnTheWaiter)
{
    TEvent never(true, false);
    std::shared_ptr<TThreadAlert> alert;
    std::atomic<bool> ready{false};
    std::thread::id ranOn;
    unsigned result = 0;
    std::thread waiter([&] {
        alert = TThreadAlert::Current();
        ready = true;
        result = never.Wait(INFINITE, true);
    });
    while (!ready)
        std::this_thread::yield();
    std::this_thread::sleep_for(50ms);
    alert->QueueCall([&] { ranOn = std::this_thread::get_id(); });
    std::thread::id waiterId = waiter.get_id();
    waiter.join();
    EXPECT_EQ(result, WAIT_IO_COMPLETION);
    EXPECT_EQ(ranOn, waiterId);
}

TEST(AlertableWaits, ThrowingCallLeavesTheSleepByItsException)
{
    std::shared_ptr<TThreadAlert> alert;
    std::atomic<bool> ready{false};
    bool interrupted = false;
    auto begin = Clock::now();
    std::thread sleeper([&] {
        alert = TThreadAlert::Current();
        ready = true;
        try {
            Sleep(30000);
        } catch (const EThreadInterrupt&) {
            interrupted = true;
        }
    });
    while (!ready)
        std::this_thread::yield();
    alert->QueueCall([] { throw EThreadInterrupt(); });
    sleeper.join();
    EXPECT_TRUE(interrupted);
    EXPECT_LT(Clock::now() - begin, 5s);
}

TEST(AlertableWaits, NonAlertableWaitIgnoresCallsUntilLater)
{
    auto alert = TThreadAlert::Current();
    int ran = 0;
    alert->QueueCall([&] { ++ran; });
    TEvent never(true, false);
    EXPECT_EQ(never.Wait(20, false), WAIT_TIMEOUT);
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(SleepEx(1000, true), WAIT_IO_COMPLETION);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(SleepEx(10, true), 0u);
}

TEST(Events, ManualStaysSetAutoReleasesOne)
{
    TEvent manual(true, false);
    manual.Set();
    EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(manual.Wait(0), WAIT_OBJECT_0);
    manual.Reset();
    EXPECT_EQ(manual.Wait(10), WAIT_TIMEOUT);

    TEvent automatic(false, false);
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (automatic.Wait(300) == WAIT_OBJECT_0)
                ++woke;
        });
    std::this_thread::sleep_for(50ms);
    automatic.Set();
    for (auto& w : waiters)
        w.join();
    EXPECT_EQ(woke.load(), 1);

    auto a = OpenNamedEvent("ClientStop", true, false);
    auto b = OpenNamedEvent("ClientStop", true, false);
    EXPECT_EQ(a.get(), b.get());
}

TEST(Semaphores, CountsUpToTheMaximum)
{
    TSemaphore s(0, 2);
    EXPECT_EQ(s.Wait(0), WAIT_TIMEOUT);
    long previous = -1;
    EXPECT_TRUE(s.Release(2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(s.Release(1)) << "past the maximum";
    EXPECT_EQ(s.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(s.Wait(0), WAIT_OBJECT_0);
    EXPECT_EQ(s.Wait(0), WAIT_TIMEOUT);
}

TEST(Mutexes, RecursiveForTheOwnerExclusiveForOthers)
{
    TMutex m;
    m.Lock();
    m.Lock();
    std::atomic<bool> other{false};
    std::thread t([&] { other = m.TryLock(); });
    t.join();
    EXPECT_FALSE(other.load());
    m.Unlock();
    m.Unlock();
    std::thread t2([&] {
        other = m.TryLock();
        if (other)
            m.Unlock();
    });
    t2.join();
    EXPECT_TRUE(other.load());
}

TEST(Suspension, TakesEffectAtTheNextWait)
{
    std::shared_ptr<TThreadAlert> alert;
    std::atomic<int> steps{0};
    std::atomic<bool> ready{false};
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        alert = TThreadAlert::Current();
        ready = true;
        while (!stop) {
            SleepEx(5, true);
            ++steps;
        }
    });
    while (!ready)
        std::this_thread::yield();
    alert->Suspend();
    std::this_thread::sleep_for(50ms);
    int frozen = steps.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(steps.load(), frozen + 1) << "a suspended thread stops at its next wait";
    alert->Resume();
    std::this_thread::sleep_for(100ms);
    EXPECT_GT(steps.load(), frozen + 1);
    stop = true;
    worker.join();
}

} // namespace
