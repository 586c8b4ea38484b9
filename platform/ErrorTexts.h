#pragma once

// The system error text of an error code, as the program shows it in events, the
// event log and error dialogs.
//
// The codes the program reports (Winsock's socket errors and IP Helper's echo
// statuses) have short Russian texts of our own, one plain sentence each. Any
// other code falls back to the C library's description of that errno value when
// it has one; otherwise the text is empty.
//
// Threads: any; the functions keep no state.

#include <string>

namespace platform {

// The text of the code without a trailing line break; empty when there is none.
// withNumber gives "%u: %s", the code, a colon, a blank and that text (the text
// part may be empty).
std::wstring SystemErrorText(unsigned code, bool withNumber = false);

} // namespace platform
