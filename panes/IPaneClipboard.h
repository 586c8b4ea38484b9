#pragma once

// The clipboard as the panes' copy commands use it, in the steps the copy
// takes: open, empty, put the Unicode text, close. Each step
// can fail; the copy then writes one line to the Error stream (see
// CPaneClipboard::Copy). Tests give a clipboard whose steps fail on purpose.
//
// Threads: the GUI thread only.

#include <QString>

namespace panes {

class IPaneClipboard
{
public:
    virtual bool Open() = 0;
    virtual bool Empty() = 0;
    virtual void SetText(const QString& text) = 0;
    virtual bool Close() = 0;
    virtual ~IPaneClipboard() = default;
};

} // namespace panes
