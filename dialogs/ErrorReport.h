#pragma once

// How every catch site of the GUI reports an EGeneric: its listing goes to the
// Error stream, then the error dialog shows the operation, the listing as
// technical information and the value "Text" as the error.
//
// Threads: the GUI thread only (the prompt may run a modal dialog).

#include <QString>

class EGeneric;

namespace dialogs {

class IPrompt;

void ReportException(IPrompt& prompt, const QString& operation, const EGeneric& error);

} // namespace dialogs
