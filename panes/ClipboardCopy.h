#pragma once

// The copy command of the client and server panes: opens the clipboard,
// empties it and puts the text on it. A step that fails ends the copy and
// writes one line to the Error stream (when it is enabled): "Open clipboard
// error.", "Empty clipboard error." or "Close clipboard error." (the last for
// text that did not take; see CQtClipboard.h for when Qt gets there).
//
// Threads: the GUI thread only.

#include "panes/IClipboard.h"

namespace panes {

// True when the text is on the clipboard.
bool CopyTextToClipboard(IClipboard& clipboard, const QString& text);

} // namespace panes
