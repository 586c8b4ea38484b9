#pragma once

// Every message box and file dialog of the GUI goes through this interface, so
// that tests script the answers and read the texts. The program's
// implementation (CQtPrompt) shows real QMessageBox and QFileDialog windows
// with the main window as parent and Russian button texts.
//
// Threads: the GUI thread only. A call may run a nested event loop (a modal
// dialog) and returns when the user has answered.

#include <QString>

namespace dialogs {

enum class PromptAnswer
{
    Yes,
    No,
    Cancel,
};

enum class PromptIcon
{
    None,
    Information,
    Warning,
    Error,
    Question,
};

class IPrompt
{
public:
    // A question with "Да" and "Нет", and "Отмена" when withCancel is set, and
    // the question icon. Closing the box counts as "Нет", or as "Отмена" when
    // there is one.
    virtual PromptAnswer Ask(const QString& text, bool withCancel) = 0;
    // A message with one "OK" button.
    virtual void Tell(const QString& text, PromptIcon icon) = 0;
    // The error dialog: the operation that was under way, the technical
    // information (an exception's listing of named values) and the error text.
    virtual void ShowError(const QString& operation, const QString& technicalInfo,
                           const QString& errorText) = 0;
    // File dialogs with a filter such as "Файлы схем (*.xml)"; the chosen path,
    // or an empty string when the user cancelled. The save dialog asks before
    // overwriting.
    virtual QString OpenFileName(const QString& caption, const QString& filter) = 0;
    virtual QString SaveFileName(const QString& caption, const QString& filter,
                                 const QString& suggestedName) = 0;
    virtual ~IPrompt() = default;
};

} // namespace dialogs
