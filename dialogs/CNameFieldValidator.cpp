#include "dialogs/CNameFieldValidator.h"

#include <QLineEdit>

#include <algorithm>

namespace dialogs {

CNameFieldValidator::CNameFieldValidator(QLineEdit* field, int maxLength,
                                         std::function<bool(const QString&)> isKnown)
    : QValidator(field), m_maxLength(maxLength), m_isKnown(std::move(isKnown)),
      m_previous(field->text())
{
    // Validation runs before the field takes the new text, so this still holds
    // the text the edit started from.
    connect(field, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_previous = text; });
}

QValidator::State CNameFieldValidator::validate(QString& input, int& pos) const
{
    if (input.size() <= m_maxLength || (m_isKnown && m_isKnown(input)))
        return Acceptable;
    if (input.size() <= m_previous.size())
        return Acceptable; // not longer than before: editing a long name down
    if (m_previous.size() >= m_maxLength)
        return Invalid; // the field is full: the key is refused
    // A paste that would overflow: keep what fits, visibly.
    input.truncate(m_maxLength);
    pos = std::min(pos, m_maxLength);
    return Acceptable;
}

} // namespace dialogs
