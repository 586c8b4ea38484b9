#pragma once

// Keeps a typed node name within the limit while the user types, so that no
// name is cut silently when the channel is stored: the character past the
// limit cannot be typed and a longer paste is cut at the limit in the field.
//
// Names that already exist in the scheme (the combo box's list) may be longer:
// they are accepted whole, and so is any edit that does not make a text over
// the limit longer (shortening a long name character by character). Text the
// program puts into the field passes here too (QLineEdit validates setText,
// only without undoing a refusal): a long name that is not in the list shows
// cut, as it will be stored.
//
// Threads: the GUI thread only.

#include <QPointer>
#include <QValidator>

#include <functional>

class QLineEdit;

namespace dialogs {

class CNameFieldValidator final : public QValidator
{
    Q_OBJECT

public:
    // isKnown: whether a text is a name the scheme already has.
    CNameFieldValidator(QLineEdit* field, int maxLength,
                        std::function<bool(const QString&)> isKnown);

    State validate(QString& input, int& pos) const override;

    int MaxLength() const { return m_maxLength; }

private:
    int m_maxLength;
    std::function<bool(const QString&)> m_isKnown;
    QString m_previous; // the field's text before the edit being validated
};

} // namespace dialogs
