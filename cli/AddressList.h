#pragma once

// The peer and target lists of the command line, checked as the address box of
// the program checks them: each piece (the words, split further at ';') must be
// four numbers of at most 255 separated by dots, at most 15 characters, and an
// address the system accepts (255.255.255.255 is not).

#include <string>
#include <vector>

namespace cli {

// The valid addresses in order; EUsage with "Адрес %s содержит ошибку" for the
// first invalid piece, and when no address was given at all.
std::vector<std::string> ParseAddressList(const std::vector<std::string>& words, const char* what);

} // namespace cli
