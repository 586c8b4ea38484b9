#pragma once

// Holds a client's probe task at its "sent" event until the test opens the
// gate, so a test can see what the GUI thread does meanwhile. The gate opens
// by itself after a long limit, so a GUI thread that waits for the held task
// makes the test fail instead of hang.

#include "engine/support/RecordingApp.h"
#include "loop/EventLoop.h"

#include <QTimer>

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

    // Whether the GUI thread keeps turning while a task is held: a 10 ms
    // timer ticks twenty times (200 ms), well before the gate's limit.
    static bool LoopTurns(CRecordingApp& app)
    {
        int ticks = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(10);
        return app.RunUntil([&] { return ticks >= 20; }, std::chrono::seconds(10));
    }

private:
    CRecordingApp& m_app;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    int m_held = 0;
    bool m_open = false;
    bool m_timedOut = false;
};

} // namespace enginetest
