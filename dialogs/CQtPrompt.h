#pragma once

// The program's prompt: real message boxes and file dialogs over the main
// window, with Russian button texts.
//
// Threads: the GUI thread only.

#include "dialogs/IPrompt.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace dialogs {

class CQtPrompt final : public IPrompt
{
public:
    // parent: the window the boxes are centred on and modal to (may be null).
    // showError shows the error dialog; without it a new CErrorDlg is shown.
    using ErrorPresenter = std::function<void(QWidget* parent, const QString& operation,
                                              const QString& technicalInfo, const QString& errorText)>;
    explicit CQtPrompt(QWidget* parent, ErrorPresenter showError = {});

    void SetParent(QWidget* parent) { m_parent = parent; }

    PromptAnswer Ask(const QString& text, bool withCancel) override;
    void Tell(const QString& text, PromptIcon icon) override;
    void ShowError(const QString& operation, const QString& technicalInfo,
                   const QString& errorText) override;
    QString OpenFileName(const QString& caption, const QString& filter) override;
    QString SaveFileName(const QString& caption, const QString& filter,
                         const QString& suggestedName) override;

private:
    QPointer<QWidget> m_parent;
    ErrorPresenter m_showError;
};

} // namespace dialogs
