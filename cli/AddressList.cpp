#include "cli/AddressList.h"

#include "cli/CCommandLine.h"
#include "ferrox/strings/Strings.h"

#include <arpa/inet.h>

namespace cli {

namespace {

bool ValidAddress(const std::string& piece)
{
    if (piece.empty() || piece.size() > 15)
        return false;
    int parts = 0;
    std::size_t start = 0;
    while (start <= piece.size()) {
        std::size_t dot = piece.find('.', start);
        std::string part =
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

} // namespace

std::vector<std::string> ParseAddressList(const std::vector<std::string>& words, const char* what)
{
    std::vector<std::string> addresses;
    for (const std::string& word : words) {
        std::size_t start = 0;
        while (start <= word.size()) {
            std::size_t end = word.find_first_of("; ", start);
            std::string piece =
                word.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!piece.empty()) {
                if (!ValidAddress(piece))
                    throw EUsage(
                        as_string(format_wstring(L"Адрес %s содержит ошибку", piece.c_str())));
                addresses.push_back(piece);
            }
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }
    if (addresses.empty())
        throw EUsage(std::string("no ") + what + " given");
    return addresses;
}

} // namespace cli
