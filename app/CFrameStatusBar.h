#pragma once

// The main window's status bar: the servers (ports listening of all, busy
// ones, ones without rights), the client check (peer k of n) and the events
// (shown of all). Refreshed at most every 100 ms however fast the engine
// reports.
//
// Threads: the GUI thread only.

#include <QStatusBar>
#include <QString>
#include <QStringList>

class QLabel;
class QTimer;

namespace core {
class CAppLogic;
}

namespace app {

class CFrameStatusBar final : public QStatusBar
{
public:
    struct CheckState
    {
        bool running = false;
        int peerNumber = 0; // 1-based, 0 before the first peer
        int peerCount = 0;
        QString peer;
    };

    explicit CFrameStatusBar(QWidget* parent);

    // Where the numbers come from (may be null) and how the check stands.
    void SetLogic(core::CAppLogic* logic) { m_logic = logic; }
    void SetCheckState(const CheckState& state) { m_check = state; }

    // A refresh soon (coalesced), or at once.
    void Schedule();
    void Refresh();
    QStringList Texts() const;

private:
    core::CAppLogic* m_logic = nullptr;
    CheckState m_check;
    QLabel* m_servers;
    QLabel* m_checkLabel;
    QLabel* m_events;
    QTimer* m_timer;
};

} // namespace app
