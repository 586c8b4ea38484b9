// What a pool worker carries from one job into the next: nothing. Neither the
// priority a task asked for nor a suspension set on a task that then returned.

#include "ferrox/sync/Event.h"
#include "ferrox/threads/ThreadPool.h"
#include "ferrox/threads/ThreadTask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace workertest {

using namespace std::chrono_literals;

int CurrentNice()
{
    errno = 0;
    return getpriority(PRIO_PROCESS, 0); // on Linux: the calling thread
}

class CWork
{
public:
    void ReadNice() { nice = CurrentNice(); }
    // Runs below normal priority and queues a task from there: the pool has to
    // start a worker for it on this (lowered) thread.
    void QueueFromALoweredTask()
    {
        loweredNice = CurrentNice();
        child = MakeMemberTask(this, &CWork::ReadNice);
        pool->AddTask(child);
        child->WaitForFinish(5000);
    }
    // Busy without any ferrox wait until released.
    void SpinUntilReleased()
    {
        started = true;
        while (!released.load())
            SwitchToThread();
    }

    std::atomic<int> nice{-100};
    std::atomic<int> loweredNice{-100};
    IThreadPool* pool = nullptr;
    SmartPtr<TThreadTask> child;
    std::atomic<bool> started{false};
    std::atomic<bool> released{false};
};

// Runs the task with the priority on the pool and returns the nice value its
// function saw.
int NiceOfTask(IThreadPool& pool, int priority)
{
    CWork work;
    SmartPtr<TThreadTask> task = MakeMemberTask(&work, &CWork::ReadNice);
    if (priority != THREAD_PRIORITY_NORMAL)
        task->SetPriority(priority);
    pool.AddTask(task);
    EXPECT_TRUE(task->WaitForFinish(5000));
    return work.nice.load();
}

// The same behaviour whatever the process may do with priorities.
void ExpectEveryTaskStartsAtNormalPriority()
{
    const int normal = CurrentNice();
    ASSERT_LE(normal, 9) << "run the test at a nice value that leaves room below";
    SmartPtr<IThreadPool> pool = CreateNewThreadPool(1, 0); // one worker runs them all
    EXPECT_EQ(NiceOfTask(*pool, THREAD_PRIORITY_BELOW_NORMAL), normal + 5);
    EXPECT_EQ(NiceOfTask(*pool, THREAD_PRIORITY_NORMAL), normal)
        << "the worker kept the priority of the task before";
    EXPECT_EQ(NiceOfTask(*pool, THREAD_PRIORITY_LOWEST), normal + 10);
    EXPECT_EQ(NiceOfTask(*pool, THREAD_PRIORITY_NORMAL), normal);
    EXPECT_EQ(NiceOfTask(*pool, THREAD_PRIORITY_NORMAL), normal);

    // A worker started by a lowered task for a task of its own: threads inherit
    // their creator's nice value, workers must not.
    SmartPtr<IThreadPool> two = CreateNewThreadPool(2, 0);
    CWork outer;
    outer.pool = two.get();
    SmartPtr<TThreadTask> task = MakeMemberTask(&outer, &CWork::QueueFromALoweredTask);
    task->SetPriority(THREAD_PRIORITY_BELOW_NORMAL);
    two->AddTask(task);
    ASSERT_TRUE(task->WaitForFinish(10000));
    EXPECT_EQ(outer.loweredNice.load(), normal + 5);
    ASSERT_TRUE(outer.child && outer.child->IsFinished());
    EXPECT_EQ(outer.nice.load(), normal) << "a worker started from a lowered thread";
    EXPECT_TRUE(two->WaitForIdle(5000));
    EXPECT_EQ(NiceOfTask(*two, THREAD_PRIORITY_NORMAL), normal);
    two->Shutdown();
    pool->Shutdown();
}

// A priority set on every task, once it was lowered, used to stay with the
// worker: every later default task ran at nice 5 (10 after a route trace).
TEST(PoolWorkers, EveryTaskStartsAtTheNormalPriority)
{
    ExpectEveryTaskStartsAtNormalPriority();
}

constexpr const char* kWithoutSysNice = "KANALIKO_TEST_WITHOUT_SYS_NICE";

bool MayLowerNice()
{
    const int nice = CurrentNice();
    if (nice <= -20)
        return true;
    if (setpriority(PRIO_PROCESS, 0, nice - 1) != 0)
        return false;
    setpriority(PRIO_PROCESS, 0, nice);
    return true;
}

// Takes CAP_SYS_NICE out of every capability set of this process (the bounding
// set too, so that an exec cannot bring it back) and the nice limit to 0.
bool DropSysNice()
{
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return false;
    if (prctl(PR_CAPBSET_DROP, CAP_SYS_NICE, 0, 0, 0) != 0)
        return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    for (auto& set : data) {
        set.effective &= ~CAP_TO_MASK(CAP_SYS_NICE);
        set.permitted &= ~CAP_TO_MASK(CAP_SYS_NICE);
        set.inheritable &= ~CAP_TO_MASK(CAP_SYS_NICE);
    }
    if (syscall(SYS_capset, &header, data) != 0)
        return false;
    const rlimit none{0, 0};
    return setrlimit(RLIMIT_NICE, &none) == 0;
}

// The same without the right to raise a thread's priority again (no
// CAP_SYS_NICE, RLIMIT_NICE 0), as an ordinary user runs the program: a
// lowered worker cannot go back to normal by itself.
TEST(PoolWorkers, EveryTaskStartsAtTheNormalPriorityWithoutTheRightToRaiseIt)
{
    if (std::getenv(kWithoutSysNice) != nullptr || !MayLowerNice()) {
        ASSERT_FALSE(MayLowerNice()) << "this process may still raise priorities";
        ExpectEveryTaskStartsAtNormalPriority();
        return;
    }
    // Privileged: run this test again in a child process that gives the right
    // up. Everything the child needs is made before the fork.
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter =
        std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    std::string marker = std::string(kWithoutSysNice) + "=1";
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.push_back(*entry);
    environment.push_back(marker.data());
    environment.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, filter.data(), nullptr};
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (!DropSysNice())
            _exit(3);
        execve(self, argv, environment.data());
        _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    ASSERT_NE(WEXITSTATUS(status), 3) << "could not give up CAP_SYS_NICE";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the unprivileged run failed (its output is above)";
}

// A suspension set on a task that returned before it reached a wait used to
// stay with its worker: the worker blocked in its next wait for a job while
// the pool counted it idle, so the next job never started.
TEST(PoolWorkers, ASuspensionEndsWithItsTask)
{
    SmartPtr<IThreadPool> pool = CreateNewThreadPool(1, 0);
    CWork work;
    SmartPtr<TThreadTask> suspended = MakeMemberTask(&work, &CWork::SpinUntilReleased);
    pool->AddTask(suspended);
    ASSERT_TRUE(suspended->WaitForStart(5000));
    while (!work.started.load())
        SwitchToThread();
    suspended->Suspend(); // takes effect at the task's next ferrox wait: there is none
    work.released = true;
    ASSERT_TRUE(suspended->WaitForEnd(5000));

    CWork next;
    SmartPtr<TThreadTask> task = MakeMemberTask(&next, &CWork::ReadNice);
    pool->AddTask(task);
    EXPECT_TRUE(task->WaitForFinish(5000)) << "the only worker is stuck in its suspension";
    EXPECT_TRUE(pool->WaitForIdle(5000));
    suspended->Resume(); // too late to matter: nothing happens
    pool->Shutdown();
}

} // namespace workertest
