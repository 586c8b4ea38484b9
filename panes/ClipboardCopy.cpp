#include "panes/ClipboardCopy.h"

#include "ferrox/debug/DebugStream.h"

namespace panes {

namespace {

bool Failed(const char* line)
{
    if (Error.GetEnabled())
        TDebugStreamSession(Error) << line << "\n";
    return false;
}

} // namespace

bool CopyTextToClipboard(IClipboard& clipboard, const QString& text)
{
    if (!clipboard.Open())
        return Failed("Open clipboard error.");
    if (!clipboard.Empty())
        return Failed("Empty clipboard error.");
    if (!clipboard.SetText(text))
        return Failed("Close clipboard error.");
    return true;
}

} // namespace panes
