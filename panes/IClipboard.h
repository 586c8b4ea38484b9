#pragma once

// Where the panes' copy commands put their text: the system clipboard
// (CQtClipboard) or, in tests, one that can be made to fail at each step.
// The steps are those of a clipboard that has to be opened, emptied, given
// the text and closed; see ClipboardCopy.h for what a failed step writes.
//
// Threads: the GUI thread only.

#include <QString>

namespace panes {

class IClipboard
{
public:
    // False when there is no clipboard to write to.
    virtual bool Open() = 0;
    // Empties it; false when something is still on it afterwards.
    virtual bool Empty() = 0;
    // Puts the text on it; false when the text did not take (it does not read
    // back).
    virtual bool SetText(const QString& text) = 0;
    virtual ~IClipboard() = default;
};

} // namespace panes
