// The pool tasks of a client (engine/CClientTasks): the end of a client waits
// for its tasks, and that wait is bounded whatever delay the client passes.

#include "engine/CClientTasks.h"

#include "ferrox/threads/ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A task body that pauses as a TCP client does after a refused connection.
class CSleeper
{
public:
    void Pause()
    {
        started = true;
        Sleep(pauseMs);
        returned = true;
    }
    unsigned pauseMs = 0;
    std::atomic<bool> started{false};
    std::atomic<bool> returned{false};
};

// A negative wait (TimeSendDelay -1 x 1000) used to be an endless one: the
// client's destructor then waited for a task that slept 49.7 days.
TEST(ClientTasks, ShutdownWithANegativeWaitCancelsAtOnce)
{
    CSleeper sleeper;
    sleeper.pauseMs = 0xFFFFFFFFu - 1000u; // what -1 s became
    engine::CClientTasks tasks;
    auto task = MakeMemberTask(&sleeper, &CSleeper::Pause);
    ASSERT_TRUE(tasks.Start(7, task));
    ASSERT_TRUE(task->WaitForStart(5000));
    const auto begin = Clock::now();
    tasks.Shutdown(-1000);
    // The cancel ends the sleep at the worker's next wait: well within a second.
    EXPECT_LT(Clock::now() - begin, 5s);
    EXPECT_TRUE(task->WaitForEnd(0)) << "the task's function has returned";
    EXPECT_FALSE(sleeper.returned.load()) << "it left by the interrupt, not by waking up";
    EXPECT_FALSE(tasks.Start(8, MakeMemberTask(&sleeper, &CSleeper::Pause)))
        << "a closing client takes no new tasks";
}

TEST(ClientTasks, ShutdownGivesAListedTaskItsWaitThenCancels)
{
    CSleeper quick;
    quick.pauseMs = 50;
    CSleeper slow;
    slow.pauseMs = 600000;
    engine::CClientTasks tasks;
    auto quickTask = MakeMemberTask(&quick, &CSleeper::Pause);
    auto slowTask = MakeMemberTask(&slow, &CSleeper::Pause);
    ASSERT_TRUE(tasks.Start(7, quickTask));
    ASSERT_TRUE(tasks.Start(8, slowTask));
    ASSERT_TRUE(slowTask->WaitForStart(5000));
    tasks.Shutdown(1000);
    EXPECT_TRUE(quick.returned.load()) << "a task that ends within the wait ends normally";
    EXPECT_FALSE(slow.returned.load());
    EXPECT_TRUE(slowTask->WaitForEnd(0));
}

} // namespace
