#pragma once

// The system clipboard behind IPaneClipboard, and the copy procedure the echo
// and route panes share.
//
// On Qt the steps map as follows: open fails when there is no clipboard (no
// GUI application); empty fails when the clipboard still holds text after it
// was cleared; close fails when the clipboard does not read back the text that
// was put (another program took it, or the platform refused it).
//
// Threads: the GUI thread only.

#include "panes/IPaneClipboard.h"

namespace panes {

class CPaneClipboard final : public IPaneClipboard
{
public:
    bool Open() override;
    bool Empty() override;
    void SetText(const QString& text) override;
    bool Close() override;

    // The system's clipboard, shared by every pane.
    static IPaneClipboard& System();

    // Puts the text on the clipboard. A failure writes the line "Open
    // clipboard error.", "Empty clipboard error." (after which the clipboard
    // is closed) or "Close clipboard error." to the Error stream, when that
    // stream is enabled, and ends the copy; true when every step succeeded.
    static bool Copy(IPaneClipboard& clipboard, const QString& text);

private:
    QString m_text; // what SetText put, for Close to read back
};

} // namespace panes
