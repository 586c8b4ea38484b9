#pragma once

// Support for the diagnostics engines' tests: the QCoreApplication (made once per
// test program on the main thread, the GUI thread of the tests), a window that
// records the engines' posted messages, and (diag/support/IsolatedHelper.h)
// children that run a helper mode in a namespace with a private /etc.

#include "diag/support/EchoTestKit.h"
#include "diag/support/IsolatedHelper.h"
#include "loop/Window.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace diagtest {

// A window that records every message posted to it (GUI thread).
class CMessageLog final : public loop::CWindow
{
public:
    struct Message
    {
        loop::UINT message;
        loop::WPARAM wParam;
        loop::LPARAM lParam;
        std::chrono::steady_clock::time_point at;
    };

    std::vector<Message> messages;
    // Called inside the handler after the message is recorded.
    std::function<void(const Message&)> onMessage;

    std::vector<Message> With(loop::UINT message, loop::WPARAM wParam) const;

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override;
};

// Runs the GUI thread's event loop until done() or the time-out.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

} // namespace diagtest
