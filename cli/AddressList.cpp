#include "cli/AddressList.h"

#include "cli/CCommandLine.h"
#include "core/AddressList.h"

namespace cli {

std::vector<std::string> ParseAddressList(const std::vector<std::string>& words, const char* what)
{
    std::vector<std::string> addresses;
    for (const std::string& word : words) {
        core::AddressList list = core::ParseAddressList(word);
        if (!list.refused.empty())
            throw EUsage(core::AddressErrorText(list.refused.front()));
        addresses.insert(addresses.end(), list.addresses.begin(), list.addresses.end());
    }
    if (addresses.empty())
        throw EUsage(std::string("no ") + what + " given");
    return addresses;
}

} // namespace cli
