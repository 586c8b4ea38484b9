#pragma once

// Holds a client's probe task at its "sent" event until the test opens the
// gate, so a test can see what the GUI thread does meanwhile. The gate opens
// by itself after a long limit, so a GUI thread that waits for the held task
// makes the test fail instead of hang.

#include "engine/support/RecordingApp.h"
#include "loop/EventLoop.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace enginetest {

class CProbeGate
{
public:
    // Holds every pool thread that reports code 10 of the protocol.
    CProbeGate(CRecordingApp& app, int protocol) : m_app(app)
    {
        app.SetEventHook([this, protocol](const RecordedEvent& e) {
            if (e.protocol != protocol || e.code != channel::EC_SENT || loop::IsGuiThread())
                return;
            std::unique_lock<std::mutex> lock(m_lock);
            ++m_held;
            m_changed.notify_all();
            if (!m_changed.wait_for(lock, kLimit, [this] { return m_open; }))
                m_timedOut = true;
        });
    }
    ~CProbeGate()
    {
        Open();
        m_app.SetEventHook(nullptr);
    }
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_open = true;
        m_changed.notify_all();
    }
    int Held() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_held;
    }
    // Whether a held task was let go by the limit, not by Open.
    bool TimedOut() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_timedOut;
    }

    static constexpr std::chrono::seconds kLimit{20};

private:
    CRecordingApp& m_app;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    int m_held = 0;
    bool m_open = false;
    bool m_timedOut = false;
};

} // namespace enginetest
