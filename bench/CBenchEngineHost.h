#pragma once

// What every engine bench needs around the engine: a window whose messages and
// timers go to the program's own dispatch, and the IApp plumbing that posts,
// selects and times through it. Client rows and server-row changes are not
// posted (a bench reads them as they are reported); a bench keeps what it
// counts by implementing AddEvent, UpdateServerRow and AddClientRow.
//
// Threads: as IApp says; the window lives on the thread that makes the host.

#include "channel/AppMessages.h"
#include "engine/CDispatchWindow.h"
#include "engine/CEngineDispatch.h"
#include "engine/IApp.h"
#include "loop/AsyncSelect.h"
#include "loop/EventLoop.h"

class CBenchEngineHost : public engine::IApp
{
public:
    CBenchEngineHost() : dispatch(*this), window(dispatch) {}

    bool PostToWindow(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override
    {
        if (message == channel::WM_CLIENT_ROW_QUEUED || message == channel::WM_SERVER_ROW_CHANGED)
            return true;
        return loop::PostToWindow(window.Handle(), message, wParam, lParam);
    }
    int SelectAsync(platform::SOCKET s, loop::UINT message, long events) override
    {
        return loop::WSAAsyncSelect(s, window.Handle(), message, events);
    }
    void StartSendTimer(loop::UINT_PTR id, int seconds) override
    {
        loop::SetTimer(window.Handle(), id, static_cast<unsigned>(seconds) * 1000u);
    }
    void StartPauseTimer(loop::UINT_PTR id, int milliseconds) override
    {
        loop::SetTimer(window.Handle(), id, static_cast<unsigned>(milliseconds));
    }
    void StopSendTimer(loop::UINT_PTR id) override { loop::KillTimer(window.Handle(), id); }

    engine::CEngineDispatch dispatch;
    engine::CDispatchWindow window;

protected:
    ~CBenchEngineHost() = default;
};
