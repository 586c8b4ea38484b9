#pragma once

// The "IP адрес" boxes of the ribbon: the list of peer or target addresses the
// user typed, checked piece by piece.
//
// Threads: the GUI thread only (a message box per bad piece).

#include <string>
#include <vector>

class QComboBox;

namespace dialogs {
class IPrompt;
}

namespace app {

// Whether one piece is a peer address: core::IsValidListAddress, the rule the
// headless front end uses too (four plain decimal numbers of 0..255 without
// leading zeros, at most 15 characters, not 255.255.255.255).
bool IsValidPeerAddress(const std::string& piece);

struct AddressList
{
    std::vector<std::string> addresses; // the valid pieces, in order
    bool allValid = false; // at least one piece, and every piece valid
};

// Trims the box's text and writes it back; splits it at blanks and
// semicolons; shows "Адрес %s содержит ошибку" for every bad piece (the valid
// ones are still returned); when every piece was valid, adds the text to the
// box's list.
AddressList ParseAddressList(QComboBox& box, dialogs::IPrompt& prompt);

} // namespace app
