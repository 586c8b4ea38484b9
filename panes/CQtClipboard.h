#pragma once

// The system clipboard through QClipboard, with Unicode text.
//
// Where QClipboard can fail (it reports nothing itself; the platform plug-in
// at most logs a warning), and what each step makes of it:
// - Open: there is no QGuiApplication (a QCoreApplication has no clipboard),
//   or the call is not on the GUI thread (QClipboard is not thread-safe).
// - Empty: the platform did not give up the clipboard, so the old text still
//   reads back (X11 with another owner that keeps the selection).
// - SetText: the platform refused the new contents, so they do not read back:
//   X11 when the window cannot become the CLIPBOARD selection owner ("Cannot
//   set X11 selection owner"), Wayland when the compositor refuses a
//   selection from a window without a recent input event.
//
// Threads: the GUI thread only.

#include "panes/IClipboard.h"

class QClipboard;

namespace panes {

class CQtClipboard final : public IClipboard
{
public:
    bool Open() override;
    bool Empty() override;
    bool SetText(const QString& text) override;

private:
    QClipboard* m_clipboard = nullptr;
};

} // namespace panes
