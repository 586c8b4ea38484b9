#pragma once

// The peer and target lists of the command line, checked by the same rule as
// the program's address boxes (core/AddressList.h): each word is split further
// at spaces and semicolons.

#include <string>
#include <vector>

namespace cli {

// The valid addresses in order; EUsage with "Адрес %s содержит ошибку" for the
// first invalid piece, and when no address was given at all.
std::vector<std::string> ParseAddressList(const std::vector<std::string>& words, const char* what);

} // namespace cli
