#include "panes/CSourceAddressEdit.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>

namespace panes {

namespace {

// Up to four numbers of 0..255 (no leading zeros), each but the last followed
// by a dot; partial input is fine while typing.
const char* const kAddressPattern = R"(^((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)?(\.|$)){0,4}$)";

} // namespace

CSourceAddressEdit::CSourceAddressEdit(QWidget* parent) : QLineEdit(parent)
{
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString::fromLatin1(kAddressPattern)), this));
    setMaxLength(15);
    setPlaceholderText(QStringLiteral("0.0.0.0"));
}

QString CSourceAddressEdit::AddressText() const
{
    QStringList parts = text().split(QLatin1Char('.'));
    while (parts.size() < 4)
        parts.append(QString());
    QStringList numbers;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int number = parts[i].toInt(&ok);
        numbers.append(QString::number(ok && number >= 0 && number <= 255 ? number : 0));
    }
    return numbers.join(QLatin1Char('.'));
}

} // namespace panes
