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

// A send that wrote only part of its bytes has no system error of its own. Its
// event carries, where the error code goes, a code of the program's own that
// holds both counts, and whose text says them: "Отправлена только часть данных:
// 1880 из 2048 байт; получатель не успевает их принимать." The code reads in
// decimal as 1, then the bytes wanted and the bytes sent, four digits each
// (120481880); counts are taken as 0..9999.
unsigned ShortSendDetail(int sent, int wanted);

} // namespace platform
