#include "dialogs/support/CScriptedPrompt.h"

namespace dialogs::test {

std::vector<CScriptedPrompt::Call> CScriptedPrompt::CallsOf(Call::Kind kind) const
{
    std::vector<Call> calls;
    for (const Call& call : m_calls)
        if (call.kind == kind)
            calls.push_back(call);
    return calls;
}

QStringList CScriptedPrompt::Texts(Call::Kind kind) const
{
    QStringList texts;
    for (const Call& call : m_calls)
        if (call.kind == kind)
            texts.push_back(call.text);
    return texts;
}

void CScriptedPrompt::RunHook()
{
    if (m_onCall) {
        auto action = std::move(m_onCall);
        m_onCall = nullptr;
        action();
    }
}

PromptAnswer CScriptedPrompt::Ask(const QString& text, bool withCancel)
{
    m_calls.push_back({Call::Kind::Ask, text, {}, {}, PromptIcon::Question, withCancel});
    RunHook();
    if (m_answers.empty())
        return PromptAnswer::No;
    const PromptAnswer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void CScriptedPrompt::Tell(const QString& text, PromptIcon icon)
{
    m_calls.push_back({Call::Kind::Tell, text, {}, {}, icon, false});
    RunHook();
}

void CScriptedPrompt::ShowError(const QString& operation, const QString& technicalInfo,
                                const QString& errorText)
{
    m_calls.push_back({Call::Kind::ShowError, operation, technicalInfo, errorText,
                       PromptIcon::Error, false});
    RunHook();
}

QString CScriptedPrompt::OpenFileName(const QString& caption, const QString& filter)
{
    m_calls.push_back({Call::Kind::OpenFile, caption, filter, {}, PromptIcon::None, false});
    RunHook();
    if (m_paths.empty())
        return {};
    const QString path = m_paths.front();
    m_paths.pop_front();
    return path;
}

QString CScriptedPrompt::SaveFileName(const QString& caption, const QString& filter,
                                      const QString& suggestedName)
{
    m_calls.push_back({Call::Kind::SaveFile, caption, filter, suggestedName, PromptIcon::None, false});
    RunHook();
    if (m_paths.empty())
        return {};
    const QString path = m_paths.front();
    m_paths.pop_front();
    return path;
}

} // namespace dialogs::test
