#pragma once

// A prompt for GUI tests: every call is recorded with its texts, and answers
// come from queues the test fills beforehand. A call with nothing queued gets
// the default answer (No, or an empty path) and is recorded all the same, so a
// test can assert that a box was (or was not) shown.

#include "dialogs/IPrompt.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace dialogs::test {

class CScriptedPrompt final : public IPrompt
{
public:
    struct Call
    {
        enum class Kind
        {
            Ask,
            Tell,
            ShowError,
            OpenFile,
            SaveFile,
        };
        Kind kind;
        QString text;      // Ask/Tell: the text; ShowError: the operation; files: the caption
        QString technical; // ShowError: technical information; files: the filter
        QString error;     // ShowError: the error text; SaveFile: the suggested name
        PromptIcon icon = PromptIcon::None;
        bool withCancel = false;
    };

    void QueueAnswer(PromptAnswer answer) { m_answers.push_back(answer); }
    void QueuePath(const QString& path) { m_paths.push_back(path); }
    // Runs inside the next call, before it returns (for a test that acts while
    // a "modal" box is up).
    void OnNextCall(std::function<void()> action) { m_onCall = std::move(action); }

    const std::vector<Call>& Calls() const { return m_calls; }
    std::vector<Call> CallsOf(Call::Kind kind) const;
    QStringList Texts(Call::Kind kind) const;
    void Clear() { m_calls.clear(); }

    PromptAnswer Ask(const QString& text, bool withCancel) override;
    void Tell(const QString& text, PromptIcon icon) override;
    void ShowError(const QString& operation, const QString& technicalInfo,
                   const QString& errorText) override;
    QString OpenFileName(const QString& caption, const QString& filter) override;
    QString SaveFileName(const QString& caption, const QString& filter,
                         const QString& suggestedName) override;

private:
    void RunHook();

    std::vector<Call> m_calls;
    std::deque<PromptAnswer> m_answers;
    std::deque<QString> m_paths;
    std::function<void()> m_onCall;
};

} // namespace dialogs::test
