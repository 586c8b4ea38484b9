#include "dialogs/ErrorReport.h"

#include "dialogs/IPrompt.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

namespace dialogs {

void ReportException(IPrompt& prompt, const QString& operation, const EGeneric& error)
{
    // what() lives in a per-thread buffer: copy it before anything else runs.
    const std::string listing = error.what();
    if (Error.GetEnabled())
        TDebugStreamSession(Error) << listing << "\n";
    prompt.ShowError(operation, QString::fromStdString(listing),
                     QString::fromStdString(error.get_value("Text").as_string()));
}

} // namespace dialogs
