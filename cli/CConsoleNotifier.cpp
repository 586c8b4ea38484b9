#include "cli/CConsoleNotifier.h"

#include <iostream>

namespace cli {

void CConsoleNotifier::ShowError(const std::string& operation, const std::string& technicalInfo,
                                 const std::string& errorText)
{
    std::string details = technicalInfo;
    for (char& c : details) {
        if (c == '\n')
            c = ';';
    }
    std::cerr << "kanaliko-cli: " << operation << ": " << (errorText.empty() ? details : errorText);
    if (!errorText.empty() && !details.empty() && details != errorText)
        std::cerr << " (" << details << ")";
    std::cerr << std::endl;
}

void CConsoleNotifier::ShowMessage(const std::string& text, bool /*isError*/)
{
    std::cerr << "kanaliko-cli: " << text << std::endl;
}

} // namespace cli
