#include "panes/CClampedSpinBox.h"

#include <QLineEdit>

#include <algorithm>

namespace panes {

namespace {

// Digits only: the ranges here are positive. At most 10, so a number stays
// within 64 bits while it is clamped.
bool IsNumberText(const QString& text)
{
    if (text.isEmpty() || text.size() > 10)
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace

CClampedSpinBox::CClampedSpinBox(int minimum, int maximum, int value, QWidget* parent)
    : QSpinBox(parent)
{
    setRange(minimum, maximum);
    setValue(value);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    setAccelerated(true);
}

QValidator::State CClampedSpinBox::validate(QString& input, int& pos) const
{
    (void)pos;
    const QString text = input.trimmed();
    if (text.isEmpty())
        return QValidator::Intermediate;
    if (!IsNumberText(text))
        return QValidator::Invalid;
    const qlonglong number = text.toLongLong();
    return number >= minimum() && number <= maximum() ? QValidator::Acceptable
                                                       : QValidator::Intermediate;
}

void CClampedSpinBox::fixup(QString& input) const
{
    const QString text = input.trimmed();
    if (!IsNumberText(text)) {
        input = QString::number(value()); // nothing usable typed: keep the value
        return;
    }
    input = QString::number(std::clamp<qlonglong>(text.toLongLong(), minimum(), maximum()));
}

int CClampedSpinBox::ReadBack()
{
    interpretText(); // the typed text, clamped through fixup
    const int used = value();
    setValue(used);
    lineEdit()->setText(textFromValue(used));
    return value();
}

} // namespace panes
