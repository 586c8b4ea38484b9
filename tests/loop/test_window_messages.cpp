// Posted window messages: order, thread, one handler at a time, and handles that
// outlive their window.

#include "loop/EventLoop.h"
#include "loop/Window.h"
#include "loop/support/LoopTestSupport.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testsupport::CRecordingWindow;

TEST(PostedMessages, ArriveInPostingOrderOneAtATimeOnTheGuiThread)
{
    CRecordingWindow window;
    const loop::HWND handle = window.Handle();
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;

    std::vector<std::thread> posters;
    std::atomic<int> refused{0};
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([handle, t, &refused] {
            // 0x8001 ... 0x8004: the numbers pass unchanged.
            for (int i = 0; i < kPerThread; ++i)
                if (!loop::PostToWindow(handle, 0x8001 + t, t, i))
                    ++refused;
        });
    }
    // The GUI thread posts too, in between.
    for (int i = 0; i < kPerThread; ++i)
        loop::PostToWindow(handle, 0x8016, kThreads, i);
    for (auto& poster : posters)
        poster.join();
    EXPECT_EQ(refused, 0);

    const std::size_t expected = (kThreads + 1) * kPerThread;
    ASSERT_TRUE(loop::RunUntil([&] { return window.messages.size() >= expected; }, 20s));
    loop::ProcessEventsFor(20ms);
    EXPECT_EQ(window.messages.size(), expected);
    EXPECT_FALSE(window.overlapped);

    std::map<loop::WPARAM, loop::LPARAM> next;
    for (const auto& m : window.messages) {
        EXPECT_EQ(m.thread, std::this_thread::get_id());
        const loop::UINT expectedMessage = m.wParam == kThreads ? 0x8016 : 0x8001 + m.wParam;
        EXPECT_EQ(m.message, expectedMessage);
        ASSERT_EQ(m.lParam, next[m.wParam]) << "poster " << m.wParam << " out of order";
        ++next[m.wParam];
    }
}

TEST(PostedMessages, WideValuesPassUnchanged)
{
    CRecordingWindow window;
    const loop::WPARAM wide = ~loop::WPARAM{0} - 5;
    const loop::LPARAM negative = -123456789012345;
    std::thread([&] { loop::PostToWindow(window.Handle(), 0x800F, wide, negative); }).join();
    ASSERT_TRUE(loop::RunUntil([&] { return !window.messages.empty(); }, 5s));
    EXPECT_EQ(window.messages[0].message, 0x800Fu);
    EXPECT_EQ(window.messages[0].wParam, wide);
    EXPECT_EQ(window.messages[0].lParam, negative);
}

TEST(PostedMessages, HandleOfADestroyedWindowRefusesEverything)
{
    auto window = std::make_unique<CRecordingWindow>();
    const loop::HWND handle = window->Handle();
    EXPECT_TRUE(loop::IsWindow(handle));
    EXPECT_TRUE(loop::PostToWindow(handle, 0x8001, 1, 2)); // queued, then discarded with the window
    EXPECT_TRUE(loop::SetTimer(handle, 1, 10));
    window.reset();

    EXPECT_FALSE(loop::IsWindow(handle));
    EXPECT_FALSE(loop::PostToWindow(handle, 0x8001, 1, 2));
    EXPECT_FALSE(loop::SetTimer(handle, 2, 10));
    EXPECT_FALSE(loop::KillTimer(handle, 1));
    loop::ProcessEventsFor(50ms); // nothing queued for the dead window may be delivered

    // A new window never gets the old handle.
    CRecordingWindow other;
    EXPECT_NE(other.Handle(), handle);
    loop::ProcessEventsFor(20ms);
    EXPECT_TRUE(other.messages.empty());
}

TEST(PostedMessages, PostingWhileTheWindowIsDestroyedIsSafe)
{
    for (int round = 0; round < 5; ++round) {
        auto window = std::make_unique<CRecordingWindow>();
        const loop::HWND handle = window->Handle();
        std::atomic<bool> stop{false};
        std::atomic<int> accepted{0}, refused{0};
        std::vector<std::thread> posters;
        for (int t = 0; t < 3; ++t) {
            posters.emplace_back([&, t] {
                // Bounded: at most 200000 posts per thread.
                for (int i = 0; i < 200000 && !stop; ++i) {
                    if (loop::PostToWindow(handle, 0x8004, t, i))
                        ++accepted;
                    else
                        ++refused;
                    if (refused > 100)
                        break;
                }
            });
        }
        ASSERT_TRUE(loop::RunUntil([&] { return window->messages.size() >= 100; }, 10s));
        window.reset(); // while the posters are still posting
        loop::ProcessEventsFor(10ms);
        stop = true;
        for (auto& poster : posters)
            poster.join();
        EXPECT_GT(accepted, 0);
    }
}

namespace {

class CThrowingWindow final : public loop::CWindow
{
public:
    int handled = 0;
    int exceptions = 0;

protected:
    void OnMessage(loop::UINT message, loop::WPARAM, loop::LPARAM) override
    {
        ++handled;
        if (message == 0x8010)
            throw std::runtime_error("handler failed");
    }
    void OnHandlerException(std::exception_ptr error) override
    {
        ++exceptions;
        EXPECT_THROW(std::rethrow_exception(error), std::runtime_error);
    }
};

} // namespace

TEST(PostedMessages, ExceptionOfAHandlerIsHandedOverAndTheLoopGoesOn)
{
    CThrowingWindow window;
    loop::PostToWindow(window.Handle(), 0x8010, 0, 0);
    loop::PostToWindow(window.Handle(), 0x8001, 0, 0);
    ASSERT_TRUE(loop::RunUntil([&] { return window.handled == 2; }, 5s));
    EXPECT_EQ(window.exceptions, 1);
}

namespace {

// Keeps the GUI thread busy inside a handler, as a slow handler would.
void Spin(std::chrono::microseconds duration)
{
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
    }
}

} // namespace

TEST(PostedMessages, ABurstOfMessagesLetsTheLoopsTimersInBetween)
{
    CRecordingWindow window;
    constexpr int kBurst = 300;
    window.onMessage = [](const CRecordingWindow::Message&) { Spin(1ms); };
    for (int i = 0; i < kBurst; ++i)
        loop::PostToWindow(window.Handle(), 0x8001, 0, i);

    // A timer of the loop itself (not of the window): it only ticks while the
    // burst is being handled if the window hands the loop back in between.
    int ticksDuringBurst = 0;
    QTimer pulse;
    QObject::connect(&pulse, &QTimer::timeout, [&] {
        const std::size_t handled = window.messages.size();
        if (handled > 0 && handled < kBurst)
            ++ticksDuringBurst;
    });
    pulse.start(10);
    ASSERT_TRUE(loop::RunUntil([&] { return window.messages.size() == kBurst; }, 20s));
    // About 300 ms of handlers: a tick every slice, dozens of them. Without
    // slices there is none.
    EXPECT_GE(ticksDuringBurst, 5);
    for (int i = 0; i < kBurst; ++i)
        ASSERT_EQ(window.messages[static_cast<std::size_t>(i)].lParam, i);
}

TEST(PostedMessages, ANestedLoopInAHandlerGetsTheMessagesQueuedBehindIt)
{
    CRecordingWindow window;
    bool nestedDone = false;
    window.onMessage = [&](const CRecordingWindow::Message& m) {
        if (m.lParam == 0)
            nestedDone = loop::RunUntil([&] { return window.messages.size() == 5; }, 5s);
    };
    for (int i = 0; i < 5; ++i)
        loop::PostToWindow(window.Handle(), 0x8001, 0, i);
    ASSERT_TRUE(loop::RunUntil([&] { return window.messages.size() == 5; }, 5s));
    EXPECT_TRUE(nestedDone);
    EXPECT_TRUE(window.overlapped); // messages 1..4 arrived inside the handler of 0
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(window.messages[static_cast<std::size_t>(i)].lParam, i);
}

TEST(PostedMessages, ATimerBehindALongQueueWaitsWithOneExpiryNotABacklog)
{
    CRecordingWindow window;
    constexpr int kBurst = 200;
    std::chrono::steady_clock::time_point burstEnd;
    std::vector<std::chrono::steady_clock::time_point> expiries;
    window.onMessage = [&](const CRecordingWindow::Message& m) {
        Spin(1ms);
        if (m.lParam == kBurst - 1)
            burstEnd = std::chrono::steady_clock::now();
    };
    window.onTimer = [&](loop::UINT_PTR) { expiries.push_back(std::chrono::steady_clock::now()); };
    for (int i = 0; i < kBurst; ++i)
        loop::PostToWindow(window.Handle(), 0x8001, 0, i);
    ASSERT_TRUE(loop::SetTimer(window.Handle(), 3, 10));
    ASSERT_TRUE(loop::RunUntil([&] { return window.messages.size() == kBurst; }, 20s));
    loop::ProcessEventsFor(30ms);
    ASSERT_TRUE(loop::KillTimer(window.Handle(), 3));
    // The timer fired about 20 times while the burst was handled; what reached
    // the window right after the burst is the one expiry that waited, and the
    // timer's own next expiries (an overdue Qt timer may fire twice in quick
    // succession), not the twenty.
    const auto soonAfter = std::count_if(expiries.begin(), expiries.end(), [&](auto at) {
        return at >= burstEnd && at < burstEnd + 9ms;
    });
    EXPECT_GE(soonAfter, 1);
    EXPECT_LE(soonAfter, 4);
}
