#include "app/AddressBox.h"

#include "dialogs/IPrompt.h"

#include <QComboBox>
#include <QRegularExpression>

#include <arpa/inet.h>

namespace app {

bool IsValidPeerAddress(const std::string& piece)
{
    // The headless front end's rule (cli/AddressList.cpp), kept in step with it
    // until one core function decides for both; switching is this one body.
    if (piece.empty() || piece.size() > 15)
        return false;
    int parts = 0;
    std::size_t start = 0;
    while (start <= piece.size()) {
        const std::size_t dot = piece.find('.', start);
        const std::string part =
            piece.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255)
            return false;
        ++parts;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return parts == 4 && inet_addr(piece.c_str()) != INADDR_NONE;
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
