// Window timers by id: repeat until killed, restart, set and kill from any
// thread, and no expiry once KillTimer has returned.

#include "loop/EventLoop.h"
#include "loop/Window.h"
#include "loop/support/LoopTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using testsupport::CRecordingWindow;

TEST(WindowTimers, RepeatUntilKilledOnTheGuiThread)
{
    CRecordingWindow window;
    ASSERT_TRUE(loop::SetTimer(window.Handle(), 77, 20));
    ASSERT_TRUE(loop::RunUntil([&] { return window.TimerCount(77) >= 4; }, 5s));
    EXPECT_TRUE(loop::KillTimer(window.Handle(), 77));
    const int count = window.TimerCount(77);
    loop::ProcessEventsFor(120ms);
    EXPECT_EQ(window.TimerCount(77), count);
    for (auto thread : window.timerThreads)
        EXPECT_EQ(thread, std::this_thread::get_id());
    EXPECT_FALSE(loop::KillTimer(window.Handle(), 77)) << "already killed";
}

TEST(WindowTimers, SetAndKillFromAnotherThread)
{
    CRecordingWindow window;
    const loop::HWND handle = window.Handle();
    std::thread([handle] { EXPECT_TRUE(loop::SetTimer(handle, 5, 15)); }).join();
    ASSERT_TRUE(loop::RunUntil([&] { return window.TimerCount(5) >= 3; }, 5s));

    std::thread([handle] { EXPECT_TRUE(loop::KillTimer(handle, 5)); }).join();
    const int count = window.TimerCount(5);
    loop::ProcessEventsFor(150ms);
    EXPECT_EQ(window.TimerCount(5), count);
    for (auto thread : window.timerThreads)
        EXPECT_EQ(thread, std::this_thread::get_id());
}

TEST(WindowTimers, NoExpiryAfterKillEvenWhenOneWasAlreadyDue)
{
    CRecordingWindow window;
    const loop::HWND handle = window.Handle();
    ASSERT_TRUE(loop::SetTimer(handle, 9, 10));
    ASSERT_TRUE(loop::RunUntil([&] { return window.TimerCount(9) >= 1; }, 5s));

    // Block the GUI thread inside a handler until the timer is overdue, and
    // kill it from another thread meanwhile.
    int countAtKill = -1;
    window.onMessage = [&](const CRecordingWindow::Message&) {
        std::this_thread::sleep_for(60ms);
        std::thread([handle] { EXPECT_TRUE(loop::KillTimer(handle, 9)); }).join();
        countAtKill = window.TimerCount(9);
    };
    loop::PostToWindow(handle, 0x8001, 0, 0);
    ASSERT_TRUE(loop::RunUntil([&] { return countAtKill >= 0; }, 5s));
    loop::ProcessEventsFor(100ms);
    EXPECT_EQ(window.TimerCount(9), countAtKill);
}

TEST(WindowTimers, RestartReplacesTheOldScheduleEvenWhenItWasDue)
{
    CRecordingWindow window;
    const loop::HWND handle = window.Handle();
    ASSERT_TRUE(loop::SetTimer(handle, 3, 10));
    ASSERT_TRUE(loop::RunUntil([&] { return window.TimerCount(3) >= 1; }, 5s));

    int countAtRestart = -1;
    std::chrono::steady_clock::time_point restarted;
    window.onMessage = [&](const CRecordingWindow::Message&) {
        std::this_thread::sleep_for(60ms);
        restarted = std::chrono::steady_clock::now();
        std::thread([handle] { EXPECT_TRUE(loop::SetTimer(handle, 3, 1000)); }).join();
        countAtRestart = window.TimerCount(3);
    };
    loop::PostToWindow(handle, 0x8001, 0, 0);
    ASSERT_TRUE(loop::RunUntil([&] { return countAtRestart >= 0; }, 5s));
    // Nothing of the 10 ms schedule; the 1000 ms one fires once in its time.
    loop::ProcessEventsFor(250ms);
    EXPECT_EQ(window.TimerCount(3), countAtRestart);
    ASSERT_TRUE(loop::RunUntil([&] { return window.TimerCount(3) > countAtRestart; }, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - restarted, 950ms);
    loop::KillTimer(handle, 3);
}

TEST(WindowTimers, IdsRunIndependentlyAndShortIntervalsAreRaisedToTen)
{
    CRecordingWindow window;
    const loop::HWND handle = window.Handle();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(loop::SetTimer(handle, 1, 0));
    ASSERT_TRUE(loop::SetTimer(handle, 2, 30));
    ASSERT_TRUE(loop::RunUntil([&] { return window.TimerCount(1) >= 5; }, 5s));
    // Five expiries of a timer raised to 10 ms take about 50 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
    ASSERT_TRUE(loop::KillTimer(handle, 1));
    const int first = window.TimerCount(1);
    const int second = window.TimerCount(2);
    ASSERT_TRUE(loop::RunUntil([&] { return window.TimerCount(2) >= second + 2; }, 5s));
    EXPECT_EQ(window.TimerCount(1), first);
    loop::KillTimer(handle, 2);
}

TEST(WindowTimers, WindowDestroyedWithRunningTimersLeavesNothingBehind)
{
    loop::HWND handle = nullptr;
    {
        CRecordingWindow window;
        handle = window.Handle();
        ASSERT_TRUE(loop::SetTimer(handle, 1, 10));
        std::thread([handle] { loop::SetTimer(handle, 2, 10); }).join();
        loop::ProcessEventsFor(30ms);
    }
    std::thread([handle] { EXPECT_FALSE(loop::SetTimer(handle, 3, 10)); }).join();
    loop::ProcessEventsFor(50ms);
}
