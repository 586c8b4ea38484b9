#include "app/AddressBox.h"

#include "core/AddressList.h"
#include "dialogs/IPrompt.h"

#include <QComboBox>
#include <QRegularExpression>

namespace app {

bool IsValidPeerAddress(const std::string& piece)
{
    // One rule for both front ends, with one reading of an address text.
    return core::IsValidListAddress(piece);
}

AddressList ParseAddressList(QComboBox& box, dialogs::IPrompt& prompt)
{
    const QString text = box.currentText().trimmed();
    box.setEditText(text);
    AddressList result;
    int pieces = 0;
    bool bad = false;
    static const QRegularExpression separators(QStringLiteral("[ ;]"));
    for (const QString& piece : text.split(separators, Qt::SkipEmptyParts)) {
        ++pieces;
        const std::string narrow = piece.toStdString();
        if (IsValidPeerAddress(narrow)) {
            result.addresses.push_back(narrow);
        } else {
            bad = true;
            prompt.Tell(QStringLiteral("Адрес %1 содержит ошибку").arg(piece),
                        dialogs::PromptIcon::Warning);
        }
    }
    result.allValid = pieces > 0 && !bad;
    if (result.allValid && box.findText(text) < 0) {
        box.insertItem(0, text);
        box.setCurrentIndex(0);
    }
    return result;
}

} // namespace app
