// The pool against a thread per task: how many empty tasks a second each gets
// through, and how long a task waits from AddTask to its start when idle
// workers are already there.
#include "ferrox/sync/Event.h"
#include "ferrox/threads/ThreadPool.h"
#include "ferrox/threads/ThreadTask.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class CEmpty
{
public:
    void Run() { done.fetch_add(1, std::memory_order_relaxed); }
    void Stamp()
    {
        started = Clock::now();
        startedEvent.Set();
    }
    std::atomic<long> done{0};
    Clock::time_point started;
    TEvent startedEvent{false, false};
};

void BM_PoolEmptyTasks(benchmark::State& state)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool();
    CEmpty work;
    const int batch = static_cast<int>(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i)
            pool->AddTask(MakeMemberTask(&work, &CEmpty::Run));
        pool->WaitForIdle(-1);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    pool->Shutdown();
}
BENCHMARK(BM_PoolEmptyTasks)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Tasks below normal priority, as the clients' probe steps run. A worker
// returns to normal priority after each; without the right to raise a nice
// value again (an ordinary user) it leaves instead and a fresh worker starts:
// run this as root and under setpriv --reuid to see both costs.
void BM_PoolBelowNormalTasks(benchmark::State& state)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool();
    CEmpty work;
    const int batch = static_cast<int>(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            SmartPtr<TThreadTask> task = MakeMemberTask(&work, &CEmpty::Run);
            task->SetPriority(THREAD_PRIORITY_BELOW_NORMAL);
            pool->AddTask(task);
        }
        pool->WaitForIdle(-1);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    pool->Shutdown();
}
BENCHMARK(BM_PoolBelowNormalTasks)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ThreadPerTaskEmptyTasks(benchmark::State& state)
{
    CEmpty work;
    const int batch = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::vector<std::thread> threads;
        threads.reserve(50);
        for (int i = 0; i < batch; ++i) {
            threads.emplace_back([&] { work.Run(); });
            if (threads.size() == 50) { // the same concurrency limit as the pool
                for (auto& t : threads)
                    t.join();
                threads.clear();
            }
        }
        for (auto& t : threads)
            t.join();
    }
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_ThreadPerTaskEmptyTasks)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PoolStartLatency(benchmark::State& state)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool();
    CEmpty work;
    // Warm up: leave idle workers waiting for work.
    for (int i = 0; i < 4; ++i)
        pool->AddTask(MakeMemberTask(&work, &CEmpty::Run));
    pool->WaitForIdle(-1);
    for (auto _ : state) {
        auto begin = Clock::now();
        pool->AddTask(MakeMemberTask(&work, &CEmpty::Stamp));
        work.startedEvent.Wait(INFINITE, false);
        state.SetIterationTime(std::chrono::duration<double>(work.started - begin).count());
        pool->WaitForIdle(-1);
    }
    pool->Shutdown();
}
BENCHMARK(BM_PoolStartLatency)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ThreadPerTaskStartLatency(benchmark::State& state)
{
    CEmpty work;
    for (auto _ : state) {
        auto begin = Clock::now();
        std::thread t([&] { work.Stamp(); });
        work.startedEvent.Wait(INFINITE, false);
        state.SetIterationTime(std::chrono::duration<double>(work.started - begin).count());
        t.join();
    }
}
BENCHMARK(BM_ThreadPerTaskStartLatency)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
