#pragma once

// The system clipboard behind IPaneClipboard, and the copy procedure every
// pane's copy command uses.
//
// On Qt the steps map as follows: open fails when there is no clipboard (no
// GUI application); empty fails when the clipboard still holds text after it
// was cleared; close fails when the clipboard does not read back the text that
// was put (another program took it, or the platform refused it: X11 when the
// window cannot own the CLIPBOARD selection, Wayland when the compositor
// refuses a selection from a window without a recent input event). Open also
// fails off the GUI thread: QClipboard is not thread-safe.
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
