#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/threads/ThreadPool.h"
#include "ferrox/threads/ThreadTask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sys/resource.h>
#include <thread>

namespace pooltest {

using namespace std::chrono_literals;

// A small worker object whose member functions the task templates call.
class CWork
{
public:
    void Block()
    {
        ++started;
        gate.Wait(INFINITE, true);
        ++finished;
    }
    void Count() { ++finished; }
    void ThrowWsa() { throw EGeneric({"WSA", 10054}); }
    void ThrowForeign() { throw std::runtime_error("not ours"); }
    void Add(unsigned a, unsigned short b) { sum += a + b; }
    void Concat(int a, void* p, unsigned long c)
    {
        sum += static_cast<unsigned>(a) + static_cast<unsigned>(c) + (p ? 1u : 0u);
    }
    void WaitForInterrupt()
    {
        ++started;
        try {
            TEvent never(true, false);
            never.Wait(INFINITE, true);
        } catch (const EThreadInterrupt&) {
            ++interrupted;
            throw;
        }
    }
    void ReadNice() { nice = getpriority(PRIO_PROCESS, 0); }

    TEvent gate{true, false};
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<int> interrupted{0};
    std::atomic<unsigned> sum{0};
    std::atomic<int> nice{-100};
};

template <class F>
bool eventually(F&& condition, std::chrono::milliseconds limit = 5s)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

TEST(ThreadTask, QueuedTaskCancelledBeforeStartNeverRuns)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool(1, 0);
    CWork work;
    SmartPtr<TThreadTask> blocker = MakeMemberTask(&work, &CWork::Block);
    SmartPtr<TThreadTask> queued = MakeMemberTask(&work, &CWork::Count);
    pool->AddTask(blocker);
    ASSERT_TRUE(blocker->WaitForStart(5000));
    pool->AddTask(queued);
    EXPECT_FALSE(queued->WaitForFinish(0)) << "no worker has taken it yet";
    EXPECT_FALSE(queued->IsStarted());
    queued->Cancel();
    EXPECT_TRUE(queued->WaitForFinish(0)) << "a cancelled task is finished at once";
    work.gate.Set();
    ASSERT_TRUE(blocker->WaitForFinish(5000));
    ASSERT_TRUE(pool->WaitForIdle(5000));
    EXPECT_EQ(work.finished.load(), 1) << "the cancelled task's function must not run";
    EXPECT_FALSE(queued->IsStarted());
    pool->Shutdown();
}

TEST(ThreadTask, EndTellsWhenTheFunctionHasReallyReturned)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool(1, 0);
    CWork work;
    SmartPtr<TThreadTask> running = MakeMemberTask(&work, &CWork::Block);
    SmartPtr<TThreadTask> queued = MakeMemberTask(&work, &CWork::Count);
    pool->AddTask(running);
    pool->AddTask(queued);
    ASSERT_TRUE(running->WaitForStart(5000));
    queued->Cancel();
    EXPECT_TRUE(queued->WaitForEnd(0)) << "cancelled before it started: it never runs";
    EXPECT_FALSE(running->WaitForEnd(50));
    work.gate.Set();
    EXPECT_TRUE(running->WaitForEnd(5000));
    EXPECT_TRUE(pool->WaitForIdle(5000));
    EXPECT_EQ(work.finished.load(), 1);

    // Cancel racing the worker that takes the task: the function runs fully or
    // not at all, and End always comes.
    for (int i = 0; i < 200; ++i) {
        SmartPtr<TThreadTask> task = MakeMemberTask(&work, &CWork::Count);
        int before = work.finished.load();
        pool->AddTask(task);
        task->Cancel();
        ASSERT_TRUE(task->WaitForEnd(5000));
        int after = work.finished.load();
        ASSERT_TRUE(after == before || after == before + 1);
    }
    pool->Shutdown();
}

TEST(ThreadTask, CapturedEGenericIsRethrownWithItsValues)
{
    CWork work;
    SmartPtr<TThreadTask> task = MakeMemberTask(&work, &CWork::ThrowWsa);
    GetSystemThreadPool()->AddTask(task);
    ASSERT_TRUE(task->WaitForFinish(5000));
    ASSERT_TRUE(task->IsException());
    try {
        task->RethrowException();
        FAIL();
    } catch (const EGeneric& e) {
        EXPECT_EQ(e.get_value("WSA").as_int(), 10054);
        EXPECT_EQ(typeid(e), typeid(EGeneric));
    }
    task->Suspend(); // on a finished task: nothing happens
    task->Resume();
    EXPECT_FALSE(task->IsRunning());
}

TEST(ThreadTask, TemplatesCallWithCopiedArgumentsAndNameTheMember)
{
    CWork work;
    unsigned value = 40;
    SmartPtr<TThreadTask> two =
        MakeMemberTask(&work, &CWork::Add, value, static_cast<unsigned short>(2));
    value = 1000; // the task holds its own copy
    SmartPtr<TThreadTask> three =
        MakeMemberTask(&work, &CWork::Concat, 3, static_cast<void*>(&work), 4ul);
    GetSystemThreadPool()->AddTask(two);
    GetSystemThreadPool()->AddTask(three);
    ASSERT_TRUE(two->WaitForFinish(5000));
    ASSERT_TRUE(three->WaitForFinish(5000));
    EXPECT_EQ(work.sum.load(), 42u + 8u);
    EXPECT_NE(two->GetDescription().find("Add"), std::string::npos) << two->GetDescription();
}

TEST(ThreadTask, PriorityAskedBeforeStartApplies)
{
    CWork work;
    SmartPtr<IThreadPool> pool = CreateNewThreadPool(1, 0);
    SmartPtr<TThreadTask> task = MakeMemberTask(&work, &CWork::ReadNice);
    task->SetPriority(THREAD_PRIORITY_BELOW_NORMAL);
    pool->AddTask(task);
    ASSERT_TRUE(task->WaitForFinish(5000));
    EXPECT_EQ(work.nice.load(), 5) << "below normal runs nicer";
    pool->Shutdown();
}

TEST(ThreadPool, FiftyFirstTaskWaitsForAFreeWorker)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool();
    CWork work;
    std::vector<SmartPtr<TThreadTask>> tasks;
    for (int i = 0; i < 51; ++i) {
        tasks.push_back(MakeMemberTask(&work, &CWork::Block));
        pool->AddTask(tasks.back());
    }
    ASSERT_TRUE(eventually([&] { return work.started.load() == 50; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(work.started.load(), 50) << "only 50 workers may run at once";
    auto* concrete = dynamic_cast<TThreadPool*>(pool.get());
    ASSERT_NE(concrete, nullptr);
    EXPECT_EQ(concrete->ThreadCount(), 50);
    EXPECT_EQ(concrete->QueueLength(), 1);
    EXPECT_FALSE(pool->WaitForIdle(0));
    work.gate.Set();
    ASSERT_TRUE(pool->WaitForIdle(10000));
    EXPECT_EQ(work.finished.load(), 51);
    EXPECT_NE(concrete->GetDescription().find("RunningJobs=0 Threads="), std::string::npos);
    pool->Shutdown();
}

TEST(ThreadPool, OverflowAtCapacityNamesQueueAndThreads)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool(1, 0, 0, 3);
    CWork work;
    pool->AddTask(MakeMemberTask(&work, &CWork::Block));
    ASSERT_TRUE(eventually([&] { return work.started.load() == 1; }));
    for (int i = 0; i < 3; ++i)
        pool->AddTask(MakeMemberTask(&work, &CWork::Count));
    try {
        pool->AddTask(MakeMemberTask(&work, &CWork::Count));
        FAIL() << "the fourth queued job must not fit";
    } catch (EGeneric& e) {
        e.cancel_minidump();
        EXPECT_EQ(e.get_value("Text").as_string(), "Thread pool overflowed");
        EXPECT_EQ(e.get_value("JobQueueSize").as_int(), 3);
        EXPECT_EQ(e.get_value("ThreadsSize").as_int(), 1);
        ASSERT_EQ(e.values().size(), 3u);
        EXPECT_EQ(e.values()[1].first, "JobQueueSize");
    }
    work.gate.Set();
    ASSERT_TRUE(pool->WaitForIdle(5000));
    EXPECT_EQ(work.finished.load(), 4);
    EXPECT_TRUE(pool->WaitForIdle(0)) << "idle once the last job finished";
    pool->Shutdown();
}

TEST(ThreadPool, CancellingARunningTaskInterruptsItsWait)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool(2, 0);
    CWork work;
    SmartPtr<TThreadTask> task = MakeMemberTask(&work, &CWork::WaitForInterrupt);
    pool->AddTask(task);
    ASSERT_TRUE(task->WaitForStart(5000));
    ASSERT_TRUE(eventually([&] { return work.started.load() == 1; }));
    auto begin = std::chrono::steady_clock::now();
    task->Cancel();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s)
        << "the interrupt reaches a ferrox wait";
    EXPECT_TRUE(task->IsFinished());
    EXPECT_EQ(work.interrupted.load(), 1);
    // The pool goes on serving with a fresh worker.
    SmartPtr<TThreadTask> next = MakeMemberTask(&work, &CWork::Count);
    pool->AddTask(next);
    EXPECT_TRUE(next->WaitForFinish(5000));
    EXPECT_TRUE(pool->WaitForIdle(5000));
    pool->Shutdown();
}

class TCapture final : public TStreamWriter
{
public:
    void StreamWriteString(const char* text, unsigned length) override
    {
        std::lock_guard<std::mutex> lock(m);
        out.append(text, length);
    }
    std::string Text()
    {
        std::lock_guard<std::mutex> lock(m);
        return out;
    }
    std::mutex m;
    std::string out;
};

TEST(ThreadPool, RunawayExceptionEndsTheWorkerButNotTheCount)
{
    SmartPtr<TCapture> capture(new TCapture);
    TDebugStream saved(Debug);
    Debug.ChangeWriter(SmartPtr<TStreamWriter>(capture));

    SmartPtr<IThreadPool> pool = CreateNewThreadPool(2, 0);
    auto* concrete = dynamic_cast<TThreadPool*>(pool.get());
    CWork work;
    SmartPtr<TThreadTask> bad = MakeMemberTask(&work, &CWork::ThrowForeign);
    pool->AddTask(bad);
    EXPECT_TRUE(bad->WaitForFinish(5000)) << "finished is signalled even for a foreign exception";
    EXPECT_FALSE(bad->IsException());
    ASSERT_TRUE(eventually([&] { return concrete->ThreadCount() == 0; }))
        << "the worker that ran away must leave the count";
    EXPECT_TRUE(pool->WaitForIdle(5000));
    const std::string expected = "(!) Thread runaway with exception std::runtime_error:not ours\n";
    EXPECT_TRUE(eventually([&] { return capture->Text().find(expected) != std::string::npos; }))
        << capture->Text();

    SmartPtr<TThreadTask> good = MakeMemberTask(&work, &CWork::Count);
    pool->AddTask(good);
    EXPECT_TRUE(good->WaitForFinish(5000));
    pool->Shutdown();
    Debug = saved;
}

TEST(ThreadPool, SystemPoolIsOneEvenWhenAskedAtOnce)
{
    std::vector<IThreadPool*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] { seen[i] = GetSystemThreadPool().get(); });
    for (auto& t : threads)
        t.join();
    for (auto* p : seen)
        EXPECT_EQ(p, seen[0]);
}

TEST(ThreadPool, SetLimitsStartsWorkersForWaitingJobs)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool(1, 0);
    CWork work;
    for (int i = 0; i < 3; ++i)
        pool->AddTask(MakeMemberTask(&work, &CWork::Block));
    ASSERT_TRUE(eventually([&] { return work.started.load() == 1; }));
    pool->SetLimits(3, 0, 0);
    EXPECT_TRUE(eventually([&] { return work.started.load() == 3; }));
    work.gate.Set();
    EXPECT_TRUE(pool->WaitForIdle(5000));
    pool->Shutdown();
}

TEST(ThreadPool, ReservedWorkersComeOnTopOfTheLimit)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool(2, 0);
    auto* concrete = dynamic_cast<TThreadPool*>(pool.get());
    CWork work;
    concrete->ReserveWorkers(3);
    EXPECT_EQ(concrete->MaxTotalThreads(), 5);
    for (int i = 0; i < 5; ++i)
        pool->AddTask(MakeMemberTask(&work, &CWork::Block));
    EXPECT_TRUE(eventually([&] { return work.started.load() == 5; }));
    work.gate.Set();
    EXPECT_TRUE(pool->WaitForIdle(5000));
    concrete->ReleaseWorkers(3);
    EXPECT_EQ(concrete->MaxTotalThreads(), 2);
    pool->Shutdown();
}

} // namespace pooltest
