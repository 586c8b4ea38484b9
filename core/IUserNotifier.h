#pragma once

#include <string>

namespace core {

// How the application logic tells the user about a failure it cannot leave to
// its caller: the GUI shows its error dialog or a message box, the headless
// front end writes a line to standard error. All texts are UTF-8.
//
// Threads: called on the thread whose operation failed; for the application
// logic that is the GUI thread (Init, the dispatch of socket notifications and
// timers). An implementation may block (a modal dialog runs a nested loop).
class IUserNotifier
{
public:
    // The error dialog: the operation that was under way (for instance
    // "Обработка клиентских сообщений"), the technical information (the
    // exception's listing of named values) and the error text (its "Text").
    virtual void ShowError(const std::string& operation, const std::string& technicalInfo,
                           const std::string& errorText) = 0;
    // A message box with the text; isError: with the error icon.
    virtual void ShowMessage(const std::string& text, bool isError) = 0;
    virtual ~IUserNotifier() = default;
};

} // namespace core
